#!/usr/bin/env bash
# Installs what building and testing quorvenal needs on Debian.
#   tools/install-deps.sh run    - the program (Linux build) only
#   tools/install-deps.sh test   - everything the tests use
set -euo pipefail
what=${1:-test}

run_pkgs=(cmake make g++ pkg-config libncurses-dev
          binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64 g++-mingw-w64-x86-64 mingw-w64-x86-64-dev)
test_pkgs=("${run_pkgs[@]}" ninja-build lld libgtest-dev libgmock-dev libbenchmark-dev pciutils python3
           g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686 osslsigncode openssl python3-pefile
           qemu-system-x86 gcc-multilib g++-multilib
           wine wine64 fonts-wine xvfb xauth imagemagick xdotool valgrind tmux
           clang libclang-rt-dev clang-format)
# wine32 runs the shipped 32-bit files. It is an i386 package, and only of use
# where this host executes 32-bit programs: elsewhere it is left out, and its
# failure to install leaves the 32-bit Wine bed skipped (each of its tests
# says why), never the rest undone.
optional_pkgs=(wine32:i386)

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
updated=no
update_indexes() {
  [ "$updated" = yes ] && return 0
  updated=yes
  # A mirror caught mid-sync fails one index ("File has unexpected size"); the
  # others still load. Try once more, then install from what loaded: a package
  # that is really missing still stops the install with apt's own message.
  if ! $sudo apt-get update -q; then
    sleep 5
    $sudo apt-get update -q ||
      echo "install-deps: some package index failed to load; installing from those that did" >&2
  fi
}
install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@"
}

if [ "$what" = run ]; then pkgs=("${run_pkgs[@]}"); else pkgs=("${test_pkgs[@]}"); fi
mapfile -t missing < <(missing_of "${pkgs[@]}")
if [ ${#missing[@]} -gt 0 ]; then
  update_indexes
  install "${missing[@]}"
fi
[ "$what" = run ] && exit 0

mapfile -t missing < <(missing_of "${optional_pkgs[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0
if ! host=$("$(dirname "$0")/host-runs-i386.sh"); then
  echo "install-deps: ${missing[*]} left out: $host" >&2
  exit 0
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  updated=no
fi
update_indexes
install "${missing[@]}" ||
  echo "install-deps: ${missing[*]} did not install; the 32-bit Wine bed's tests will skip and say so" >&2
