# Cross build for Windows (x86_64) with the MinGW-w64 toolchain of the host.
set(LYSTREL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
