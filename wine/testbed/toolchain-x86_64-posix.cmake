# The 64-bit Windows toolchain of the project, with the compilers of the
# POSIX thread model: the simulated machine in the test bed uses std::mutex,
# which the win32-thread-model compilers of Debian's mingw-w64 do not have.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/mingw-w64-x86_64.cmake)
set(CMAKE_C_COMPILER ${QUORVENAL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVENAL_MINGW_TRIPLE}-g++-posix)
