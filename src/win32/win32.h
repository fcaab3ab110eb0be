// The Win32 API as src/system uses it. On Windows these are the toolchain's
// own headers; elsewhere our own declarations with the same names and layouts,
// implemented over the host system.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <winsvc.h>
#else
#include "declarations.h"
#endif
