#include "app/ServiceWiring.h"

#include "app/WindowTypes.h"
#include "base/Log.h"
#include "controllers/Base_Controller.h"
#include "controllers/Pagora_Controller.h"
#include "controllers/Q7_Bridge_Controller.h"
#include "controllers/Q7_Tef_Controller.h"
#include "controllers/platform/PaymentLibraries.h"
#include "exchange/MonitoraDiretorio.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>

namespace {

// Without a directory the controller loads its library from the platform's location;
// with one, the library of the same file name from there.
QString libraryPath(const QString &directory, platform::PaymentLibrary library) {
    const QString path = platform::paymentLibraryPath(library);
    return directory.isEmpty() ? path : directory + QLatin1Char('/') + QFileInfo(path).fileName();
}

} // namespace

Base_Controller *ServiceWiring::createController(int produto, const QString &libraryDirectory,
                                                 const QString &journalDirectory) {
    switch (produto) {
    case 0:
        return new Pagora_Controller(nullptr,
                                     libraryPath(libraryDirectory, platform::PaymentLibrary::APITEFOrvix));
    case 1:
        return new Q7_Bridge_Controller(nullptr,
                                        libraryPath(libraryDirectory, platform::PaymentLibrary::Bridge));
    case 2:
        return new Q7_Tef_Controller(nullptr, libraryPath(libraryDirectory, platform::PaymentLibrary::Tef01),
                                     journalDirectory);
    default:
        return nullptr;
    }
}

ServiceWiring::ServiceWiring(int produto, QQmlApplicationEngine &engine)
    : ServiceWiring(produto, engine, Options{}) {}

ServiceWiring::ServiceWiring(int produto, QQmlApplicationEngine &engine, const Options &options)
    : m_engine(&engine)
    , m_controller(options.makeController ? options.makeController(produto, options.libraryDirectory)
                                          : createController(produto, options.libraryDirectory,
                                                             // beside config_tef.json
                                                             options.configDirectory.isEmpty()
                                                                 ? QCoreApplication::applicationDirPath()
                                                                 : options.configDirectory))
    , m_monitor(MonitoraDiretorio::instance(options.configDirectory)) {
    QObject::connect(m_monitor, &MonitoraDiretorio::confJson, m_controller, &Base_Controller::setJsonConfigs);
    QObject::connect(m_monitor, SIGNAL(startTefProcess()), m_controller, SLOT(start()));
    QObject::connect(m_controller, &Base_Controller::responseProcessTEF, m_monitor,
                     &MonitoraDiretorio::processResponse);
    QObject::connect(m_controller, SIGNAL(finished()), m_monitor,
                     SLOT(signal_to_add_addObservadorDiretorio()));

    registerWindowTypes();
    // Closing the window only hides it: the service goes on in the tray.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    engine.rootContext()->setContextProperty(QStringLiteral("controller"), m_controller);

    const QUrl url(QStringLiteral("qrc:/main.qml"));
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, QCoreApplication::instance(),
        [url](QObject *object, const QUrl &objectUrl) {
            if (!object && url == objectUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);

    if (produto == 1) {
        emit m_controller->disableButtonOK(true);
        emit m_controller->disableButtonVoltar(true);
        emit m_controller->disableButtonCancelar(true);
        emit m_controller->disableTextField(true);
        emit m_controller->disableListView(true);
    }
    emit m_controller->showWindow(false);

    m_monitor->addObservadorDiretorio();
}

ServiceWiring::~ServiceWiring() {
    if (!m_controller)
        return;
    // Quitting: no request is handed over any more; one that arrives stays where the sales
    // application put it, for the next start.
    m_monitor->stopWatching();
    bool ended = true;
    if (m_controller->isRunning()) {
        Log().info("[ServiceWiring] Encerrando operação em andamento");
        m_controller->interrupt();
        QMetaObject::invokeMethod(m_controller, "onClickButtonCancelar", Qt::DirectConnection);
        ended = m_controller->wait(kShutdownWaitMs);
    }
    // Deliver what the controller thread queued: its answer for the monitor, and for the
    // window what Qt frees only on delivery.
    QCoreApplication::sendPostedEvents();
    // The window must not reach a controller that is deleted, or left running, through its
    // context property.
    m_engine->rootContext()->setContextProperty(QStringLiteral("controller"),
                                                static_cast<QObject *>(nullptr));
    if (!ended) {
        // Deleting a running thread would abort the process and unload the library under the
        // call: it is left to the exit. Its request is answered here, never as approved.
        Log().critical("[ServiceWiring] Operação não terminou a tempo; controlador não destruído");
        QObject::disconnect(m_controller, nullptr, m_monitor, nullptr);
        if (m_monitor->awaitingResponse())
            m_monitor->processResponse(m_controller->abandonedResponse(
                QStringLiteral("Operação interrompida pelo encerramento do serviço")));
    }
    m_monitor->finishPendingWrites();
    if (ended)
        delete m_controller;
    m_controller = nullptr;
}
