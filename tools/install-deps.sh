#!/usr/bin/env bash
# Installs what building and testing quorvenal needs on Debian.
#   tools/install-deps.sh run    - the program (Linux build) only
#   tools/install-deps.sh test   - everything the tests use
set -euo pipefail
what=${1:-test}

run_pkgs=(cmake make g++ pkg-config libncurses-dev
          binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64 mingw-w64-x86-64-dev)
test_pkgs=("${run_pkgs[@]}" libgtest-dev libgmock-dev libbenchmark-dev pciutils python3
           g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-i686-dev binutils-mingw-w64-i686
           qemu-system-x86 gcc-multilib g++-multilib
           wine wine64 wine32:i386 fonts-wine xvfb xauth imagemagick xdotool valgrind tmux
           clang libclang-rt-dev clang-format)

if [ "$what" = run ]; then pkgs=("${run_pkgs[@]}"); else pkgs=("${test_pkgs[@]}"); fi

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
# wine32 (the 32-bit side that runs the shipped files) is an i386 package.
case " ${missing[*]} " in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
esac
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
