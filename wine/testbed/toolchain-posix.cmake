# The project's Windows toolchain for the architecture QUORVENAL_BED_ARCH
# (x86, the default, or x64), with the compilers of the POSIX thread model:
# the simulated machine in the test-bed hal.dll uses std::mutex, which the
# win32-thread-model compilers of Debian's mingw-w64 do not have.
#   cmake -DCMAKE_TOOLCHAIN_FILE=.../toolchain-posix.cmake -DQUORVENAL_BED_ARCH=x64
set(QUORVENAL_BED_ARCH x86 CACHE STRING "Architecture of the test-bed parts: x86 or x64")
# Given again to CMake's own test projects, which read this file too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVENAL_BED_ARCH)
if(QUORVENAL_BED_ARCH STREQUAL "x64")
  include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/mingw-w64-x86_64.cmake)
elseif(QUORVENAL_BED_ARCH STREQUAL "x86")
  include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/mingw-w64-i686.cmake)
else()
  message(FATAL_ERROR "QUORVENAL_BED_ARCH is x86 or x64, not '${QUORVENAL_BED_ARCH}'")
endif()
set(CMAKE_C_COMPILER ${QUORVENAL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVENAL_MINGW_TRIPLE}-g++-posix)
