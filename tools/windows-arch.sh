# The two Windows architectures the deliverables are built for, as the build,
# checker and test-bed scripts name them. Sourced:
#   windows_arch_valid ARCH        x86 or x64
#   windows_arch_triple ARCH       the mingw-w64 triple
#   windows_arch_preset ARCH       the configure and build preset (CMakePresets.json)
#   windows_arch_build_dir ARCH    the default build folder's name (the preset's)
#   windows_checks_python          the python3 that has pefile (below)
#   require_tools TOOL...          exits 77 (a skipped test) when a tool is missing
#   windows_checks_require TOOL... the same, and when pefile is missing
windows_arch_valid() {
  case $1 in x86|x64) return 0 ;; *) return 1 ;; esac
}
windows_arch_triple() {
  case $1 in x86) echo i686-w64-mingw32 ;; x64) echo x86_64-w64-mingw32 ;; esac
}
windows_arch_preset() {
  case $1 in x86) echo win32 ;; x64) echo win64 ;; esac
}
windows_arch_build_dir() {
  case $1 in x86) echo build-win32 ;; x64) echo build-win64 ;; esac
}
# The python3 that imports pefile (Debian's python3-pefile, the checker's PE
# reader), printed; fails when none does. The package installs into the
# system interpreter's modules, which a python3 earlier on PATH (pyenv's, a
# virtual environment's) does not see.
windows_checks_python() {
  local candidate
  for candidate in python3 /usr/bin/python3; do
    if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c 'import pefile' 2>/dev/null; then
      command -v "$candidate"
      return 0
    fi
  done
  return 1
}

# Exits with 77, the skipped test's status, saying what is missing, when one
# of the tools is not there.
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIP: $tool is not installed (tools/install-deps.sh test installs it)"
      exit 77
    fi
  done
}

# The same, and the python3 with pefile.
windows_checks_require() {
  require_tools "$@"
  if ! windows_checks_python >/dev/null; then
    echo "SKIP: python3-pefile is not installed (tools/install-deps.sh test installs it)"
    exit 77
  fi
}
