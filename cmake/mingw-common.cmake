# Cross build for Windows with the host's MinGW-w64 toolchain for
# LYSTREL_MINGW_ARCH (i686 or x86_64), set by the toolchain file that
# includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${LYSTREL_MINGW_ARCH})

set(LYSTREL_MINGW_PREFIX ${LYSTREL_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${LYSTREL_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${LYSTREL_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${LYSTREL_MINGW_PREFIX}-windres)

# Libraries and headers come from the toolchain's sysroot only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${LYSTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
