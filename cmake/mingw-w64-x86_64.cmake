# Cross-compiles the Windows deliverables (64-bit x86) with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORVENAL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
