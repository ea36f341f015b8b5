#pragma once

// The whole service in-process for a test: configuration, monitor, controller and window in a
// temporary directory, the replacement libraries from build/bin, a scenario for them, and a
// sales application (TefPosClient) driving the file exchange.

#include "TefPosClient.h"
#include "app/ServiceWiring.h"
#include "controllers/Base_Controller.h"
#include "exchange/MonitoraDiretorio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>

// Runs one exchange on a worker thread: the client blocks while polling, and the service
// needs the test thread's event loop.
class Exchange {
public:
    Exchange(const TefPosClient &client, const TefPosClient::Fields &fields)
        : m_thread(QThread::create([this, client, fields] { m_result = client.send(fields); })) {
        m_thread->start();
    }
    ~Exchange() { m_thread->wait(); }
    bool done() const { return m_thread->isFinished(); }
    const TefPosClient::Result &result() const { return m_result; }

private:
    TefPosClient::Result m_result;
    std::unique_ptr<QThread> m_thread;
};

class ServiceHarness {
public:
    ServiceHarness() {
        QDir().mkpath(dir.filePath(QStringLiteral("logs")));
        qputenv("Q7_LOG_PATH", QFile::encodeName(logDirectory()));
        qputenv("Q7_SIM_CALLS", QFile::encodeName(dir.filePath(QStringLiteral("calls.jsonl"))));
        qunsetenv("Q7_SIM_SCENARIO");
        client.requestDir = dir.filePath(QStringLiteral("req"));
        client.responseDir = dir.filePath(QStringLiteral("resp"));
        client.pollMs = 10;
        client.statusTimeoutMs = 5000;
        client.responseTimeoutMs = 20000;
    }
    ~ServiceHarness() {
        // What the controller thread queued for the window is delivered while both still exist.
        QCoreApplication::sendPostedEvents();
        wiring.reset();
        engine.reset();
        MonitoraDiretorio::destroyInstance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        qunsetenv("Q7_LOG_PATH");
        qunsetenv("Q7_SIM_CALLS");
        qunsetenv("Q7_SIM_SCENARIO");
    }
    ServiceHarness(const ServiceHarness &) = delete;
    ServiceHarness &operator=(const ServiceHarness &) = delete;

    using MakeController = std::function<Base_Controller *(int produto, const QString &libraryDirectory)>;

    // `extraKeys`: more members of config_tef.json, such as ", \"compatibilidade\": \"tefdial\"".
    void start(int product, MakeController makeController = nullptr, const QString &extraKeys = QString()) {
        QFile config(dir.filePath(QStringLiteral("config_tef.json")));
        if (config.open(QIODevice::WriteOnly))
            config.write(
                QStringLiteral("{\"path_in\": \"%1\", \"path_out\": \"%2\", \"file_req\": "
                               "\"IntPos.001\", \"file_resp\": \"IntPos.Sts\", \"produto_tef\": %3%4}")
                    .arg(client.requestDir, client.responseDir)
                    .arg(product)
                    .arg(extraKeys)
                    .toUtf8());
        config.close();
        engine = std::make_unique<QQmlApplicationEngine>();
        wiring = std::make_unique<ServiceWiring>(
            product, *engine, ServiceWiring::Options{dir.path(), QStringLiteral(Q7_BIN_DIR), makeController});
    }

    // Shuts the service down as the application does after its event loop.
    void stop() { wiring.reset(); }
    bool running() const { return wiring != nullptr; }

    // Each scenario gets a file of its own, so the library reloads it and restarts its replies.
    void setScenario(const QJsonObject &scenario) {
        QFile file(dir.filePath(QStringLiteral("scenario%1.json").arg(++m_scenarios)));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(scenario).toJson());
        qputenv("Q7_SIM_SCENARIO", QFile::encodeName(file.fileName()));
    }

    // The operator: picks `row` of every list shown, such as the Pagora menus of its own.
    void chooseInLists(int row) {
        QObject::connect(controller(), &Base_Controller::disableListView, &m_operator,
                         [this, row](bool hidden) {
                             if (!hidden)
                                 controller()->onClickButtonOK(QString::number(row), 2);
                         });
    }

    void setScenario(const char *json) { setScenario(QJsonDocument::fromJson(json).object()); }

    Base_Controller *controller() const { return wiring->controller(); }
    QQuickWindow *window() const { return qobject_cast<QQuickWindow *>(engine->rootObjects().value(0)); }
    QQuickItem *item(const char *objectName) const {
        QQuickItem *found = window() ? window()->findChild<QQuickItem *>(QLatin1String(objectName)) : nullptr;
        if (!found)
            qFatal("no item %s", objectName);
        return found;
    }

    // Arguments of every call of `entryPoint` in the simulators' call log, in order.
    QList<QJsonObject> calls(const QString &entryPoint) const {
        QList<QJsonObject> found;
        QFile file(dir.filePath(QStringLiteral("calls.jsonl")));
        if (!file.open(QIODevice::ReadOnly))
            return found;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QJsonObject call = QJsonDocument::fromJson(line).object();
            if (call.value(QLatin1String("fn")).toString() == entryPoint)
                found << call.value(QLatin1String("args")).toObject();
        }
        return found;
    }
    QString logDirectory() const { return dir.filePath(QStringLiteral("logs")); }

    QTemporaryDir dir;
    TefPosClient client;

private:
    std::unique_ptr<QQmlApplicationEngine> engine;
    std::unique_ptr<ServiceWiring> wiring;
    QObject m_operator;
    int m_scenarios = 0;
};
