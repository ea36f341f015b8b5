#pragma once

// Plain Win32, no Qt, like Win32Foreground.h.
#include "controllers/platform/Win32Api.h"

namespace win32 {

// What a stop request from Windows runs, in the thread that made the window.
struct StopHandlers {
    // The session ends (WM_ENDSESSION): Windows may end the process as soon as this returns,
    // so the whole stop happens inside it.
    void (*endSession)(void *context) = nullptr;
    // A polite close (WM_CLOSE, as taskkill without /F sends): the stop may take its course.
    void (*close)(void *context) = nullptr;
    void *context = nullptr;
    // Shown by Windows beside the program while endSession runs, when that takes long.
    const wchar_t *reason = nullptr;
};

// The window class that receives the stop messages, for senders that look it up.
inline constexpr wchar_t kStopWindowClass[] = L"Q7PagoraPassivoStop";

// A hidden top-level window of the calling thread, which must pump its messages: the end of
// a session is told to top-level windows, and the program's own may not exist yet, or be of
// another thread. Null when it cannot be made.
HWND watchStopRequests(const StopHandlers &handlers);

} // namespace win32
