#include "app/WindowTypes.h"

#include <QQmlEngine>
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
