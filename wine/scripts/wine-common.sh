# Shared by the Wine test scripts (sourced). Wine runs quietly, without the
# .NET and HTML installers, in the prefix the caller names.

# require_tools TOOL...: exits with 77 (a skipped test) when a tool is missing.
. "$(dirname "${BASH_SOURCE[0]}")/../../tools/windows-arch.sh"

# Wine's 64-bit loader runs the prefix's own tools (wineboot, reg, sc) on
# every host; Debian's "wine" starts the 32-bit loader wherever wine32 is
# installed, which fails at once on a host that runs no 32-bit programs.
if [ -x /usr/lib/wine/wine64 ]; then
  WINE64=/usr/lib/wine/wine64
else
  WINE64=$(command -v wine64 || echo wine)
fi

# The project's top folder, for its tools.
QV_TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# bed_args USAGE NAME... -- ARG...: the scripts' start. An optional first
# option --arch ARCH (bed_arch; x86 when not given), then one argument for each
# NAME, which becomes that variable, as an absolute path. A missing argument
# prints USAGE and exits 2. Arguments past the names are left in BED_REST.
bed_args() {
  local usage=$1 names=() name
  shift
  while [ "$1" != -- ]; do names+=("$1"); shift; done
  shift
  if [ "${1:-}" = --arch ]; then bed_arch "${2:-}"; shift 2; fi
  for name in "${names[@]}"; do
    [ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }
    printf -v "$name" '%s' "$(realpath -m "$1")"
    shift
  done
  BED_REST=("$@")
}

# bed_arch ARCH: the architecture of the shipped files a script runs, x86
# (the 32-bit files, in the prefix's 32-bit side) or x64 (the 64-bit files,
# on every host). Sets BED_ARCH; BED_WINE, the loader that runs the bed's
# programs; BED_SYSTEM_DIR, the prefix's system folder of that architecture,
# where the test-bed hal.dll goes; BED_TRIPLE, mingw-w64's name for it. The
# scripts take it as an optional first option, --arch ARCH (x86 by default).
bed_arch() {
  case ${1:-} in
    x86) BED_WINE=wine BED_SYSTEM_DIR=syswow64 BED_TRIPLE=i686-w64-mingw32 ;;
    x64) BED_WINE=$WINE64 BED_SYSTEM_DIR=system32 BED_TRIPLE=x86_64-w64-mingw32 ;;
    *) echo "FAIL: unknown architecture '${1:-}' (x86 or x64)"; exit 2 ;;
  esac
  BED_ARCH=$1
}
bed_arch x86

# use_prefix DIR: the Wine environment of every later wine command.
use_prefix() {
  export WINEPREFIX=$1
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset WINELOADERNOEXEC
}

# Ends every Wine process of the prefix (the driver hosts included).
stop_prefix() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

# The Windows path of a Linux path, as Wine's Z: drive shows it.
windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# start_xvfb: starts Xvfb on a free display and exports DISPLAY; XVFB_PID
# holds its process id.
start_xvfb() {
  local fifo display
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  read -r -t 20 display <"$fifo"
  rm -f "$fifo"
  if [ -z "$display" ]; then
    echo "FAIL: Xvfb did not start"
    return 1
  fi
  export DISPLAY=":$display"
}

stop_xvfb() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
  fi
}

# wait_for_window NAME SECONDS: prints the id of the viewable top-level
# window called NAME once there is one.
wait_for_window() {
  local name=$1 seconds=$2 id end=$((SECONDS + $2))
  while [ $SECONDS -lt $end ]; do
    for id in $(xdotool search --onlyvisible --name "^$name\$" 2>/dev/null); do
      if xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable'; then
        echo "$id"
        return 0
      fi
    done
    sleep 0.5
  done
  return 1
}

# screenshot WINDOW FILE: the window as it shows on the screen, as PNG.
screenshot() {
  local geometry
  geometry=$(xwininfo -id "$1" | awk '
    /Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
    /Width:/ {w=$2} /Height:/ {h=$2}
    END {printf "%dx%d+%d+%d", w, h, x, y}')
  import -window root -crop "$geometry" +repage "$2"
}

# require_testbed DIR FILE...: the test-bed files must be there; where the
# test bed could not be built for want of mingw-w64, the test is skipped.
require_testbed() {
  local dir=$1 file
  shift
  for file in "$@"; do
    if [ ! -f "$dir/$file" ]; then
      require_tools "$BED_TRIPLE-g++-posix"
      echo "FAIL: the test bed has no $file (is it built?)"
      exit 1
    fi
  done
}

# require_bed_runs PREFIX: the shipped files of the bed's architecture run in
# the prefix: the 64-bit ones wherever Wine's 64-bit loader does; the 32-bit
# ones as require_wine32 says.
require_bed_runs() {
  if [ "$BED_ARCH" = x64 ]; then
    [ -f "$1/system.reg" ] || { echo "FAIL: no Wine prefix in $1"; exit 1; }
    return 0
  fi
  require_wine32 "$1"
}

# require_wine32 PREFIX: skips the test (77) with the reason make-prefix.sh
# found when this machine cannot run 32-bit Windows programs under Wine.
require_wine32() {
  local verdict="$1/quorvenal-wine32"
  [ -f "$verdict" ] || { echo "FAIL: no Wine prefix in $1"; exit 1; }
  if [ "$(head -n1 "$verdict")" != yes ]; then
    echo "SKIP: the shipped 32-bit files cannot run under Wine here: $(head -n1 "$verdict")"
    exit 77
  fi
}

# wine32_verdict: "yes" when a 32-bit program runs in the current prefix,
# else why not. The host decides first (tools/host-runs-i386.sh): where it
# runs no 32-bit programs, Wine cannot either.
wine32_verdict() {
  local host
  if ! host=$("$QV_TOP/tools/host-runs-i386.sh"); then
    echo "$host"
    return
  fi
  if [ ! -e /usr/lib/i386-linux-gnu/wine/i386-windows/ntoskrnl.exe ]; then
    echo "32-bit Wine is not installed (wine32:i386; tools/install-deps.sh test installs it)"
    return
  fi
  local code=0
  wine 'C:\windows\syswow64\cmd.exe' /c exit 7 >/dev/null 2>&1 || code=$?
  if [ $code -eq 7 ]; then
    echo yes
  else
    echo "a 32-bit program does not run under Wine here (exit code $code)"
  fi
}

# Starts the prefix's service manager and waits (up to a minute) until it
# answers: a program that opens it while it is still starting gets error
# 1722 (the RPC server is unavailable).
start_services() {
  local end=$((SECONDS + 60))
  while [ $SECONDS -lt $end ]; do
    if "$WINE64" sc query PlugPlay 2>/dev/null | grep -q RUNNING; then
      return 0
    fi
    sleep 1
  done
  echo "FAIL: the Wine service manager did not start"
  return 1
}

# install_bed PREFIX TESTBED [MACHINE_FILE]: puts the test bed's hal.dll
# into the prefix's system folder of the bed's architecture and the machine
# the driver host is to serve into C:\quorvenal-bed (none: the built-in
# default machine), and starts a fresh driver-host log there.
install_bed() {
  local prefix=$1 testbed=$2 machine=${3:-}
  local bed="$prefix/drive_c/quorvenal-bed"
  cp "$testbed/hal.dll" "$prefix/drive_c/windows/$BED_SYSTEM_DIR/hal.dll" || return 1
  mkdir -p "$bed"
  rm -f "$bed/machine.lspci" "$bed/driver-host.log"
  if [ -n "$machine" ]; then
    cp "$machine" "$bed/machine.lspci" || return 1
  fi
}

# The driver host's log of the last run (what the test-bed hal.dll did).
bed_log() {
  cat "$1/drive_c/quorvenal-bed/driver-host.log" 2>/dev/null | tr -d '\r'
}

# check_shipped SHIPPED_DIR STDERR_FILE FILE...: the files tools/run-windows.sh
# ran (the hashes it printed) must be the shipped ones.
check_shipped() {
  local shipped=$1 stderr=$2 file expected seen status=0
  shift 2
  for file in "$@"; do
    expected=$(sha256sum <"$shipped/$file" | cut -d' ' -f1)
    seen=$(sed -n "s/^shipped $file //p" "$stderr")
    if [ "$seen" = "$expected" ]; then
      echo "ok: ran the shipped $file, sha256 $seen"
    else
      echo "FAIL: the $file that ran has sha256 '${seen}', the shipped one $expected"
      status=1
    fi
  done
  return $status
}

# require_shipped DIR: the build folder of the bed's architecture must hold
# the shipped files; where no such folder was given to the build
# (-DQUORVENAL_WIN32_BUILD, -DQUORVENAL_WIN64_BUILD), the test is skipped.
require_shipped() {
  local file
  if [ ! -d "$1" ]; then
    if [ "$BED_ARCH" = x64 ]; then
      echo "SKIP: no 64-bit build given (-DQUORVENAL_WIN64_BUILD=folder; tools/test.sh gives build-win64)"
    else
      echo "SKIP: no 32-bit build given (-DQUORVENAL_WIN32_BUILD=folder; tools/test.sh gives build-win32)"
    fi
    exit 77
  fi
  for file in quorvenal.exe QUORVENAL.sys; do
    [ -f "$1/$file" ] || { echo "FAIL: no shipped $file in $1"; exit 1; }
  done
}
