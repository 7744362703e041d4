// Win32 access for the whole program. On Windows this is <windows.h>; on a
// Linux host, where the decoding core is built for sanitizers, fuzzing and
// benchmarks, a small stand-in supplies the few types and calls it uses.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "host_win32.h"
#endif
