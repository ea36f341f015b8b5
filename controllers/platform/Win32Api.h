#pragma once

// <windows.h> for the Win32 files of the platform layer: without the min and max macros, which
// would break std::min and std::max, and without the rarely used parts.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
