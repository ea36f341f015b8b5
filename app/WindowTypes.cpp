#include "app/WindowTypes.h"

#include <QFontDatabase>
#include <QImageReader>
#include <QQmlEngine>
#include <QThreadPool>
#include <QSystemTrayIcon>

// Outside any namespace, as the resource initialiser requires.
static void initWindowResources() {
    Q_INIT_RESOURCE(ui);
}

void registerWindowTypes() {
    static bool done = false;
    if (done)
        return;
    done = true;
    // q7core is a static library: without this reference the linker drops the resources.
    initWindowResources();
    qmlRegisterType<QSystemTrayIcon>("QSystemTrayIcon", 1, 0, "QSystemTrayIcon");
}

void warmUpWindowResources() {
    QThreadPool::globalInstance()->start([] {
        // Both are thread-safe and keep what they find for the whole process.
        QFontDatabase().families();
        QImageReader::supportedImageFormats();
    });
}
