#include "app/ServiceWiring.h"

#include "app/WindowTypes.h"
#include "base/Log.h"
#include "controllers/Base_Controller.h"
#include "controllers/Pagora_Controller.h"
#include "controllers/Q7_Bridge_Controller.h"
#include "controllers/Q7_Tef_Controller.h"
#include "controllers/platform/DirectoryLock.h"
#include "controllers/platform/PaymentLibraries.h"
#include "exchange/MonitoraDiretorio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlIncubationController>
#include <QQmlIncubator>
#include <QTimer>
#include <QUrl>

namespace {

QUrl windowUrl() {
    return QUrl(QStringLiteral("qrc:/main.qml"));
}

// Without a directory the controller loads its library from the platform's location;
// with one, the library of the same file name from there.
QString libraryPath(const QString &directory, platform::PaymentLibrary library) {
    const QString path = platform::paymentLibraryPath(library);
    return directory.isEmpty() ? path : directory + QLatin1Char('/') + QFileInfo(path).fileName();
}

// Gives the engine's incubation slices of the event loop while a creation is pending, so that
// the loop keeps serving the monitor and the tray in between.
class IdleIncubationController : public QObject, public QQmlIncubationController {
public:
    IdleIncubationController() {
        m_slices.setInterval(0);
        QObject::connect(&m_slices, &QTimer::timeout, this, [this] { incubateFor(kSliceMs); });
    }

protected:
    void incubatingObjectCountChanged(int count) override {
        if (count > 0)
            m_slices.start();
        else
            m_slices.stop();
    }

private:
    static constexpr int kSliceMs = 5;
    QTimer m_slices;
};

class WindowIncubator : public QQmlIncubator {
public:
    explicit WindowIncubator(std::function<void()> done)
        : QQmlIncubator(Asynchronous)
        , m_done(std::move(done)) {}

protected:
    // Hidden from its first moment: the service starts in the tray, and a window shown
    // between two slices would flash on the screen.
    void setInitialState(QObject *window) override { window->setProperty("visible", false); }
    void statusChanged(Status status) override {
        if (status == Ready || status == Error)
            m_done();
    }

private:
    std::function<void()> m_done;
};

} // namespace

class WindowIncubation {
public:
    WindowIncubation(QQmlEngine &engine, std::function<void()> done)
        : m_engine(engine)
        , incubator(std::move(done)) {
        m_engine.setIncubationController(&controller);
    }
    ~WindowIncubation() {
        if (incubator.isReady())
            delete incubator.object();
        incubator.clear();
        if (m_engine.incubationController() == &controller)
            m_engine.setIncubationController(nullptr);
    }

private:
    QQmlEngine &m_engine;

public:
    IdleIncubationController controller;
    WindowIncubator incubator;
};

Base_Controller *ServiceWiring::createController(int produto, const QString &libraryDirectory,
                                                 const QString &journalDirectory) {
    switch (produto) {
    case 0:
        return new Pagora_Controller(
            nullptr, libraryPath(libraryDirectory, platform::PaymentLibrary::APITEFOrvix), journalDirectory);
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
    , m_produto(produto)
    , m_shutdownWaitMs(options.shutdownWaitMs)
    , m_controller(options.makeController ? options.makeController(produto, options.libraryDirectory)
                                          : createController(produto, options.libraryDirectory,
                                                             // beside config_tef.json
                                                             options.configDirectory.isEmpty()
                                                                 ? QCoreApplication::applicationDirPath()
                                                                 : options.configDirectory))
    , m_monitor(MonitoraDiretorio::instance(options.configDirectory)) {
    const QString refused = refusal();
    if (!refused.isEmpty()) {
        Log().critical(QStringLiteral("[ServiceWiring] ") + refused);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
        return;
    }
    registerWindowTypes();
    // Closing the window only hides it: the service goes on in the tray.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    engine.rootContext()->setContextProperty(QStringLiteral("controller"), m_controller);
    loadWindow(options.windowInBackground);

    QObject::connect(m_monitor, &MonitoraDiretorio::confJson, m_controller, &Base_Controller::setJsonConfigs);
    QObject::connect(m_monitor, SIGNAL(startTefProcess()), m_controller, SLOT(start()));
    QObject::connect(m_controller, &Base_Controller::responseProcessTEF, m_monitor,
                     &MonitoraDiretorio::processResponse);
    QObject::connect(m_controller, SIGNAL(finished()), m_monitor,
                     SLOT(signal_to_add_addObservadorDiretorio()));
    // Queued like the answer, and ahead of it: the outcome is on disk before it is delivered.
    QObject::connect(m_controller, &Base_Controller::outcomeDecided, m_monitor,
                     &MonitoraDiretorio::recordOutcome);
    QObject::connect(m_monitor, &MonitoraDiretorio::responseCommitted, m_controller,
                     &Base_Controller::markAnswered);
    // Between operations, on this thread: undone before the next request is taken.
    QObject::connect(&m_monitor->fate(), &RequestFate::responseWithdrawn, m_controller,
                     &Base_Controller::withdrawAnswer, Qt::DirectConnection);
    QObject::connect(&m_monitor->fate(), &RequestFate::deliveryProblem, m_controller,
                     [controller = m_controller](const QString &problem) {
                         emit controller->deliveryProblem(problem);
                         if (problem.isEmpty()) { // delivered: back to the tray
                             emit controller->textChanged(QString());
                             emit controller->showWindow(false);
                             return;
                         }
                         // Nothing to answer: only what keeps the sale waiting.
                         for (auto hide :
                              {&Base_Controller::disableButtonOK, &Base_Controller::disableButtonVoltar,
                               &Base_Controller::disableButtonCancelar, &Base_Controller::disableTextField,
                               &Base_Controller::disableListView})
                             emit(controller->*hide)(true);
                         emit controller->showWindow(true);
                         emit controller->textChanged(problem);
                         emit controller->showMessageError(problem);
                     });

    recover();
    m_monitor->addObservadorDiretorio();
}

QString ServiceWiring::overlap(const QString &pathIn, const QString &pathOut) {
    const auto absolute = [](const QString &path) {
        const QFileInfo info(path);
        const QString canonical = info.canonicalFilePath();
        return QDir::cleanPath(canonical.isEmpty() ? info.absoluteFilePath() : canonical);
    };
    const QString in = absolute(pathIn);
    const QString out = absolute(pathOut);
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity sensitivity = Qt::CaseSensitive;
#endif
    const auto within = [sensitivity](const QString &path, const QString &directory) {
        return path.compare(directory, sensitivity) == 0 ||
               path.startsWith(directory.endsWith(QLatin1Char('/')) ? directory
                                                                    : directory + QLatin1Char('/'),
                               sensitivity);
    };
    // The service would take its own answers for requests.
    if (within(in, out) || within(out, in))
        return QStringLiteral("path_in (%1) e path_out (%2) não podem ser o mesmo diretório nem um dentro do "
                              "outro; corrija config_tef.json")
            .arg(pathIn, pathOut);
    return QString();
}

QString ServiceWiring::refusal() {
    const QString overlapping = overlap(m_monitor->pathIn(), m_monitor->pathOut());
    if (!overlapping.isEmpty())
        return overlapping;
    m_lock = std::make_unique<platform::DirectoryLock>(m_monitor->pathIn() + QLatin1Char('/') +
                                                       QLatin1String(kLockName));
    if (!m_lock->locked() && QFileInfo(m_monitor->pathIn()).isDir())
        return QStringLiteral("Outro serviço monitora %1; este serviço encerra. Um diretório de requisições "
                              "serve a um serviço só")
            .arg(m_monitor->pathIn());
    return QString();
}

// Before the first request: what an earlier run took and did not finish gets its answer, and
// what its library did that nobody was told of is undone.
void ServiceWiring::recover() {
    const QString unknown = m_monitor->recoverClaim();
    if (!unknown.isEmpty()) {
        m_controller->setJsonConfigs(unknown);
        m_monitor->answerUnknown(m_controller->abandonedResponse(
            QStringLiteral("Operação interrompida; resultado desconhecido. Confira antes de repetir")));
    }
    m_controller->recover(!unknown.isEmpty());
}

void ServiceWiring::loadWindow(bool inBackground) {
    if (!inBackground) {
        QObject::connect(
            m_engine, &QQmlApplicationEngine::objectCreated, QCoreApplication::instance(),
            [](QObject *object, const QUrl &objectUrl) {
                if (!object && objectUrl == windowUrl())
                    QCoreApplication::exit(-1);
            },
            Qt::QueuedConnection);
        m_engine->load(windowUrl());
        if (!m_engine->rootObjects().isEmpty())
            windowCreated();
        return;
    }

    // Loaded from the resources, the component is ready at once; only its objects are built
    // in the background.
    m_windowComponent = std::make_unique<QQmlComponent>(m_engine, windowUrl());
    m_incubation = std::make_unique<WindowIncubation>(*m_engine, [this] { windowCreated(); });
    if (m_windowComponent->isError()) {
        Log().critical(QStringLiteral("[ServiceWiring] Janela não carregada: ") +
                       m_windowComponent->errorString());
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
        return;
    }
    // A request must find the window whole: its signals would be lost on a window still
    // being built. Connected before the controller, so this runs first.
    QObject::connect(m_monitor, &MonitoraDiretorio::confJson, &m_incubation->controller, [this] {
        if (m_incubation->incubator.isLoading())
            m_incubation->incubator.forceCompletion();
    });
    m_windowComponent->create(m_incubation->incubator);
}

void ServiceWiring::windowCreated() {
    if (m_incubation && m_incubation->incubator.isError()) {
        for (const QQmlError &error : m_incubation->incubator.errors())
            Log().critical(QStringLiteral("[ServiceWiring] Janela não criada: ") + error.toString());
        QCoreApplication::exit(-1);
        return;
    }
    if (m_produto == 1) {
        emit m_controller->disableButtonOK(true);
        emit m_controller->disableButtonVoltar(true);
        emit m_controller->disableButtonCancelar(true);
        emit m_controller->disableTextField(true);
        emit m_controller->disableListView(true);
    }
    emit m_controller->showWindow(false);
    Log().debug("[ServiceWiring] Janela criada");
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
        ended = m_controller->wait(static_cast<unsigned long>(m_shutdownWaitMs));
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
        // call: it is left to the exit. Its claim stays: the next start answers the request,
        // and undoes what the library did, instead of guessing now.
        Log().critical("[ServiceWiring] Operação não terminou a tempo; controlador não destruído, "
                       "requisição fica para a próxima partida");
        QObject::disconnect(m_controller, nullptr, m_monitor, nullptr);
        // Nothing it says from now on has a listener: the window and its engine go first.
        m_controller->blockSignals(true);
    }
    m_monitor->finishPendingWrites();
    if (ended)
        delete m_controller;
    m_controller = nullptr;
}
