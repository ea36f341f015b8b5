#pragma once

// Plain Win32, no Qt: the service builds it on Windows, and the Wine test builds it with the
// MinGW cross compiler on Linux.
#include "controllers/platform/Win32Api.h"

namespace win32 {

struct FrontResult {
    HWND window = nullptr; // the window acted on; null when none was known
    bool placed = false;   // SetWindowPos succeeded
    DWORD error = 0;       // GetLastError() of a failed SetWindowPos
};

// Makes `window` topmost, shows it, activates it and gives it the keyboard focus, also while
// a window of another thread or process holds the foreground. Callable from any thread. A
// null `window` falls back to the first visible top-level window of this process, or to the
// one such a search found before if it still exists.
FrontResult bringToFront(HWND window);

} // namespace win32
