#include "controllers/platform/Win32SessionEnd.h"

namespace win32 {

namespace {

StopHandlers g_handlers;
bool g_ended = false;

LRESULT CALLBACK stopWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        // Never vetoed: the store switches the PC off, and a running sale is finished or
        // cancelled when the end comes.
        return TRUE;
    case WM_ENDSESSION:
        if (wParam && !g_ended && g_handlers.endSession) {
            g_ended = true;
            if (g_handlers.reason)
                ShutdownBlockReasonCreate(window, g_handlers.reason);
            g_handlers.endSession(g_handlers.context);
            ShutdownBlockReasonDestroy(window);
        }
        return 0;
    case WM_CLOSE:
        if (g_handlers.close)
            g_handlers.close(g_handlers.context);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

HWND watchStopRequests(const StopHandlers &handlers) {
    g_handlers = handlers;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = stopWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kStopWindowClass;
    if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    // Top-level and never shown: a message-only window would not be told of the session's end.
    return CreateWindowExW(WS_EX_TOOLWINDOW, kStopWindowClass, L"Q7 Pagora Passivo", WS_POPUP, 0, 0, 0, 0,
                           nullptr, nullptr, windowClass.hInstance, nullptr);
}

} // namespace win32
