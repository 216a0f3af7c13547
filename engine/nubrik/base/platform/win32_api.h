// Internal header: the engine's own, not installed (see cmake/install.cmake).
#pragma once

// <windows.h> as every Win32 file here wants it: without the rarely used
// parts, and without the min and max macros that break std::min and std::max.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
