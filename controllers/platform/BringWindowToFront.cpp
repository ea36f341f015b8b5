#include "controllers/platform/BringWindowToFront.h"

#include "base/Log.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QQuickWindow>
#include <QWindow>

#ifdef Q_OS_WIN
#include "controllers/platform/Win32Foreground.h"
#endif

namespace {

// The operator window once found; only touched in the GUI thread. Kept when a later search
// finds nothing, and unlike a bare handle it cannot dangle.
QPointer<QWindow> g_window;

void logResult(bool found, bool placed, qulonglong error) {
    const Log log;
    if (!found)
        log.debug("[Base_Controller] g_HWND is null");
    if (placed)
        log.info("[Base_Controller] Janela travada no front");
    else
        log.critical(QStringLiteral("[Base_Controller] Erro ao ativar janela no front: ") +
                     QString::number(error));
}

QWindow *findOperatorWindow() {
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return nullptr;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (qobject_cast<QQuickWindow *>(window))
            return window;
    }
    return nullptr;
}

// Runs in the thread that owns `window`, which Win32 and Qt both want for focus changes.
void bringToFront(QWindow *window) {
#ifdef Q_OS_WIN
    // Without the operator window, Win32 searches the process's windows itself.
    const win32::FrontResult result =
        win32::bringToFront(window ? reinterpret_cast<HWND>(window->winId()) : nullptr);
    logResult(result.window != nullptr, result.placed, result.error);
#else
    if (!window) {
        // What Windows reports for a missing window handle, so the line reads the same everywhere.
        constexpr qulonglong kInvalidWindowHandle = 1400;
        logResult(false, false, kInvalidWindowHandle);
        return;
    }
    // Changing the flags can recreate the native window: only do it once.
    if (!window->flags().testFlag(Qt::WindowStaysOnTopHint))
        window->setFlag(Qt::WindowStaysOnTopHint, true);
    window->raise();
    window->requestActivate();
    logResult(true, true, 0);
#endif
}

void bringToFrontInGuiThread() {
    if (QWindow *found = findOperatorWindow())
        g_window = found;
    bringToFront(g_window.data());
}

} // namespace

namespace platform {

void bringWindowToFront() {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        bringToFront(nullptr);
        return;
    }
    // Windows belong to the GUI thread: the work is queued there, behind any signal the
    // caller has already emitted towards the window.
    QMetaObject::invokeMethod(app, &bringToFrontInGuiThread, Qt::QueuedConnection);
}

} // namespace platform
