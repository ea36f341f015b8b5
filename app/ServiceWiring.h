#pragma once

#include <QString>

#include <functional>
#include <memory>

class Base_Controller;
class MonitoraDiretorio;
class QObject;
class QQmlApplicationEngine;
class QQmlComponent;
class WindowIncubation;
namespace platform {
class DirectoryLock;
}

// The last stretch of start-up: the controller of the configured product, wired to the
// directory monitor in both directions and exposed to the operator window as
// `controller`; the window loaded, hidden in the tray, and the monitor watching.
class ServiceWiring {
public:
    // How long shutdown waits for a running operation to end after cancelling it: long enough
    // for a library call that cannot be cancelled (the bridge's) to finish a card payment.
    static constexpr int kShutdownWaitMs = 120000;
    // Held in path_in while the service runs: a second service on the same directory does not start.
    static constexpr const char *kLockName = "arquivo_tef.lock";

    struct Options {
        QString configDirectory;  // where config_tef.json lives; empty: the executable's directory
        QString libraryDirectory; // where the payment library lives; empty: the platform default
        // Makes the controller; empty: createController(). Tests use it to watch the
        // controller's signals from its first moment.
        std::function<Base_Controller *(int produto, const QString &libraryDirectory)> makeController;
        // Builds the window while the event loop is idle, after the monitor watches; the first
        // request finishes it at once. Without it the window is loaded at construction, as one
        // of the engine's root objects (the in-process tests read it there).
        bool windowInBackground = false;
        // How long shutdown waits for a running operation (kShutdownWaitMs in production).
        int shutdownWaitMs = kShutdownWaitMs;
    };

    ServiceWiring(int produto, QQmlApplicationEngine &engine, const Options &options);
    ServiceWiring(int produto, QQmlApplicationEngine &engine);
    // Stops a running operation as the "CANCELAR" button would, waits for it (bounded) and
    // deletes the controller, so its destructor ends the library's work and unloads it. An
    // operation still running after the bound is answered by the next start.
    ~ServiceWiring();

    ServiceWiring(const ServiceWiring &) = delete;
    ServiceWiring &operator=(const ServiceWiring &) = delete;

    Base_Controller *controller() const { return m_controller; }
    MonitoraDiretorio *monitor() const { return m_monitor; }

    // `journalDirectory`: where a controller keeps what must survive a restart (the Tef
    // product's pending transactions); empty: nowhere.
    static Base_Controller *createController(int produto, const QString &libraryDirectory,
                                             const QString &journalDirectory = QString());

    // Why `pathIn` and `pathOut` cannot serve together (the same directory, or one within the
    // other: the service would take its own answers for requests), told in one line; empty when
    // they can.
    static QString overlap(const QString &pathIn, const QString &pathOut);

private:
    // What makes the service unsafe to run (a shared request directory, path_in and path_out that
    // overlap), told in one line; empty when it may run.
    QString refusal();
    void recover();
    void loadWindow(bool inBackground);
    void windowCreated();

    QQmlApplicationEngine *m_engine;
    int m_produto;
    int m_shutdownWaitMs;
    std::unique_ptr<QQmlComponent> m_windowComponent;
    std::unique_ptr<WindowIncubation> m_incubation;
    Base_Controller *m_controller = nullptr;
    MonitoraDiretorio *m_monitor = nullptr;
    std::unique_ptr<platform::DirectoryLock> m_lock;
};
