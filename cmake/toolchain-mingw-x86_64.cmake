# Cross-compiling for Windows (x86_64) with MinGW-w64.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
