#include "controllers/platform/BringWindowToFront.h"

#include "app/Log.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <atomic>
#include <windows.h>

namespace {

// The first top-level window of this process; written only when the search finds one,
// never reset. Controllers call this from their own thread, one operation at a time.
std::atomic<HWND> g_HWND{nullptr};

BOOL CALLBACK findProcessWindow(HWND hwnd, LPARAM processId) {
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != static_cast<DWORD>(processId))
        return TRUE;
    g_HWND.store(hwnd);
    return FALSE;
}

} // namespace

namespace platform {

void bringWindowToFront() {
    const Log log;
    EnumWindows(findProcessWindow, static_cast<LPARAM>(GetCurrentProcessId()));
    const HWND window = g_HWND.load();
    if (!window)
        log.debug("[Base_Controller] g_HWND is null");

    // Windows only lets the thread that owns the foreground take the focus away from it:
    // join the foreground thread's input to the GUI thread that owns our window while the
    // calls run, and part them afterwards.
    const DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    const DWORD windowThread = window ? GetWindowThreadProcessId(window, nullptr) : 0;
    const bool attached = foregroundThread && windowThread && foregroundThread != windowThread &&
                          AttachThreadInput(foregroundThread, windowThread, TRUE);

    const BOOL placed =
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
    // Read before the next calls overwrite it.
    const DWORD error = placed ? 0 : GetLastError();
    SetActiveWindow(window);
    SetFocus(window);

    if (attached)
        AttachThreadInput(foregroundThread, windowThread, FALSE);

    if (placed)
        log.info("[Base_Controller] Janela travada no front");
    else
        log.critical(QStringLiteral("[Base_Controller] Erro ao ativar janela no front: ") +
                     QString::number(static_cast<qulonglong>(error)));
}

} // namespace platform
#endif
