# Shared by the Wine test scripts (sourced). Wine runs quietly, without the
# .NET and HTML installers, in the prefix the caller names.

# Exits with 77 (a skipped test) when a tool is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIP: $tool is not installed (tools/install-deps.sh test installs it)"
      exit 77
    fi
  done
}

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
