#include "controllers/platform/BringWindowToFront.h"

#include "app/Log.h"

#include <QtGlobal>

#ifndef Q_OS_WIN
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QQuickWindow>
#include <QWindow>

namespace {

// What Windows reports for a missing window handle, so the failure line reads the same
// on every platform.
constexpr int kInvalidWindowHandle = 1400;

// The operator window once found; only touched in the GUI thread. Like the Windows
// handle it is kept when a later search finds nothing; unlike it, it cannot dangle.
QPointer<QWindow> g_window;

void logNoWindow() {
    const Log log;
    log.debug("[Base_Controller] g_HWND is null");
    log.critical(QStringLiteral("[Base_Controller] Erro ao ativar janela no front: ") +
                 QString::number(kInvalidWindowHandle));
}

QWindow *findOperatorWindow() {
    const auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!gui)
        return nullptr;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (qobject_cast<QQuickWindow *>(window))
            return window;
    }
    return nullptr;
}

void bringToFrontInGuiThread() {
    if (QWindow *found = findOperatorWindow())
        g_window = found;
    QWindow *window = g_window.data();
    if (!window) {
        logNoWindow();
        return;
    }
    // Changing the flags can recreate the native window: only do it once.
    if (!window->flags().testFlag(Qt::WindowStaysOnTopHint))
        window->setFlag(Qt::WindowStaysOnTopHint, true);
    window->raise();
    window->requestActivate();
    Log().info("[Base_Controller] Janela travada no front");
}

} // namespace

namespace platform {

void bringWindowToFront() {
    // Windows belong to the GUI thread: the work is queued there, behind any signal the
    // caller has already emitted towards the window.
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        logNoWindow();
        return;
    }
    QMetaObject::invokeMethod(app, &bringToFrontInGuiThread, Qt::QueuedConnection);
}

} // namespace platform
#endif
