#include "controllers/platform/Win32Foreground.h"

#include <atomic>

namespace {

// What the process search found last; kept while that window exists, so a window hidden
// since then is still found.
std::atomic<HWND> g_HWND{nullptr};

bool ownWindow(HWND window) {
    DWORD owner = 0;
    return window && IsWindow(window) && GetWindowThreadProcessId(window, &owner) &&
           owner == GetCurrentProcessId();
}

// Hidden top-level windows of the process are helpers (the tray icon's, for one), never
// the operator window: showing one of those would be wrong.
BOOL CALLBACK findProcessWindow(HWND window, LPARAM found) {
    if (!IsWindowVisible(window) || !ownWindow(window))
        return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

HWND processWindow() {
    HWND found = nullptr;
    EnumWindows(findProcessWindow, reinterpret_cast<LPARAM>(&found));
    if (found)
        g_HWND.store(found);
    const HWND known = g_HWND.load();
    return ownWindow(known) ? known : nullptr;
}

// Joins one thread's input processing to another's for the life of the object.
class InputAttachment {
public:
    InputAttachment(DWORD from, DWORD to)
        : from(from)
        , to(to)
        , attached(from && to && from != to && AttachThreadInput(from, to, TRUE)) {}
    ~InputAttachment() {
        if (attached)
            AttachThreadInput(from, to, FALSE);
    }
    InputAttachment(const InputAttachment &) = delete;
    InputAttachment &operator=(const InputAttachment &) = delete;

private:
    const DWORD from;
    const DWORD to;
    const bool attached;
};

} // namespace

namespace win32 {

FrontResult bringToFront(HWND window) {
    FrontResult result;
    result.window = window ? window : processWindow();
    if (!result.window) {
        // Only for the error code: focus calls with a null handle would take the keyboard
        // focus away from whichever window of the calling thread's queue holds it.
        result.placed =
            SetWindowPos(nullptr, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
        result.error = result.placed ? 0 : GetLastError();
        return result;
    }

    // SetActiveWindow and SetFocus act on the calling thread's input queue only, and the
    // foreground may be taken only from within the foreground queue: join the calling thread
    // and the foreground thread to the window's thread while the calls run, and part them
    // only after the focus has moved. The window's thread stays the one they joined, so it
    // keeps the active window and the focus when they part.
    const DWORD windowThread = GetWindowThreadProcessId(result.window, nullptr);
    const InputAttachment caller(GetCurrentThreadId(), windowThread);
    const InputAttachment foreground(GetWindowThreadProcessId(GetForegroundWindow(), nullptr), windowThread);

    result.placed =
        SetWindowPos(result.window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
    // Read before the next calls overwrite it.
    result.error = result.placed ? 0 : GetLastError();
    SetActiveWindow(result.window);
    SetFocus(result.window);
    return result;
}

} // namespace win32
