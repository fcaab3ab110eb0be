# Cross build for Windows (i686) with the MinGW-w64 toolchain of the host.
set(LYSTREL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
