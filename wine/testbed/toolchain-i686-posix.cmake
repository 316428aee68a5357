# The project's 32-bit Windows toolchain with the compilers of the POSIX
# thread model: the simulated machine in the test-bed hal.dll uses
# std::mutex, which the win32-thread-model compilers of Debian's mingw-w64
# do not have.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/mingw-w64-i686.cmake)
set(CMAKE_C_COMPILER ${QUORVENAL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVENAL_MINGW_TRIPLE}-g++-posix)
