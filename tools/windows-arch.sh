# The two Windows architectures the deliverables are built for, as the build,
# checker and test-bed scripts name them. Sourced:
#   windows_arch_valid ARCH        x86 or x64
#   windows_arch_triple ARCH       the mingw-w64 triple
#   windows_arch_toolchain ARCH    the CMake toolchain file (under cmake/)
#   windows_arch_build_dir ARCH    the default build folder's name
windows_arch_valid() {
  case $1 in x86|x64) return 0 ;; *) return 1 ;; esac
}
windows_arch_triple() {
  case $1 in x86) echo i686-w64-mingw32 ;; x64) echo x86_64-w64-mingw32 ;; esac
}
windows_arch_toolchain() {
  case $1 in x86) echo mingw-w64-i686.cmake ;; x64) echo mingw-w64-x86_64.cmake ;; esac
}
windows_arch_build_dir() {
  case $1 in x86) echo build-win32 ;; x64) echo build-win64 ;; esac
}
