# Cross-compiling for Windows (i686) with MinGW-w64.
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
