// The yardstick of the service's start-up time and idle memory: the same application
// classes and QML imports as the service, one hidden window, and nothing else. Says
// "objectCreated" on the standard error output once the window exists, as the service
// says "Monitoramento iniciando em" once it watches.
#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QUrl>

#include <cstdio>

namespace {

const char kWindow[] = R"(
import QtQml 2.2
import QtQuick 2.9
import QtQuick.Controls 2.5
import QtQuick.Controls.Material 2.12
import Qt.labs.platform 1.0

ApplicationWindow {
    visible: false
    width: 720
    height: 550
}
)";

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);

    QQmlApplicationEngine engine;
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreated, &app, [](QObject *object, const QUrl &) {
        if (!object) {
            std::fputs("window not created\n", stderr);
            QCoreApplication::exit(1);
            return;
        }
        std::fputs("objectCreated\n", stderr);
        std::fflush(stderr);
    });
    engine.loadData(QByteArray(kWindow));
    return app.exec();
}
