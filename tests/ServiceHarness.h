#pragma once

// A service under test in a temporary directory, with a sales application (TefPosClient) for the
// file exchange. ServiceHarness runs the whole service in-process with the libraries from
// build/bin; ServiceProcess runs the real executable copied there with the libraries it needs and
// a private TMPDIR, so that the single-instance slot is the test's own.

#include "TefPosClient.h"
#include "TestFiles.h"
#include "app/ServiceWiring.h"
#include "app/SingleInstanceGuard.h"
#include "base/Version.h"
#include "controllers/Base_Controller.h"
#include "exchange/MonitoraDiretorio.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeySequence>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

// The Windows lane: ServiceProcess runs the deployed folder Q7_WINDOWS_DEPLOY under Wine.
inline bool underWine() {
    return qEnvironmentVariableIsSet("Q7_WINDOWS_DEPLOY");
}

// What Windows does to the service (tests/win32/stop_sender.cpp); null when it failed.
inline QByteArray windowsHelper(const QStringList &arguments) {
    QProcess helper;
    helper.start("wine", QStringList{qEnvironmentVariable("Q7_STOP_SENDER")} + arguments);
    helper.closeWriteChannel();
    const bool ok = helper.waitForFinished(300000) && helper.exitCode() == 0;
    return ok ? helper.readAllStandardOutput() : QByteArray();
}

// A field of a request or response file, such as "009-000"; null when absent.
inline QString field(const QByteArray &file, const char *tag) {
    return TefPosClient::value(TefPosClient::parse(QString::fromUtf8(file)), QLatin1String(tag));
}

class ServiceFiles {
public:
    ServiceFiles() {
        client.requestDir = path("req");
        client.responseDir = path("resp");
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QByteArray read(const QString &name) const { return readFile(path(name)); }
    bool write(const QString &name, const QByteArray &bytes) const {
        QDir().mkpath(QFileInfo(path(name)).path());
        return writeFile(path(name), bytes);
    }
    // `extra`: more members, such as ", \"compatibilidade\": \"tefdial\"".
    void writeConfig(int product, const QString &in, const QString &out, const QString &extra) const {
        writeConfig(", \"produto_tef\": " + QString::number(product), in, out, extra);
    }
    // `product` as it stands in the file, ", \"produto_tef\": ..." or nothing.
    void writeConfig(const QString &product, const QString &in, const QString &out,
                     const QString &extra) const {
        write("config_tef.json", QString("{\"path_in\": \"%1\", \"path_out\": \"%2\", \"file_req\": "
                                         "\"IntPos.001\", \"file_resp\": \"IntPos.Sts\"%3%4}")
                                     .arg(in, out, product, extra)
                                     .toUtf8());
    }
    // A file of its own for each scenario, so the library reloads it and restarts its replies.
    QString writeScenario(const QByteArray &json) {
        const QString name = QString("scenario%1.json").arg(++m_scenarios);
        write(name, json);
        return path(name);
    }
    // Arguments of every call of `entryPoint` the replacement libraries received, in order; with
    // `bookings`, what they booked for it instead (sim::logReturn).
    QList<QJsonObject> calls(const QString &entryPoint, bool bookings = false) const {
        QList<QJsonObject> found;
        for (const auto &[name, value] : callLog(path("calls.jsonl"), bookings))
            if (name == entryPoint)
                found << value;
        return found;
    }
    // What the Tef01 library was given as the operator's answers, call by call: "|PARCELADO|42".
    QString collected() const {
        QStringList answers;
        for (const QJsonObject &call : calls("RealizarPagamentoTEF"))
            answers << QJsonDocument::fromJson(
                           call["dadosTransacao"].toString().toUtf8())["automacao_coleta_informacao"]
                           .toString();
        return answers.join('|');
    }

    QTemporaryDir dir;
    TefPosClient client;

private:
    int m_scenarios = 0;
};

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

class ServiceHarness : public ServiceFiles {
public:
    ServiceHarness() {
        QDir().mkpath(path("logs"));
        qputenv("Q7_LOG_PATH", QFile::encodeName(path("logs")));
        qputenv("Q7_SIM_CALLS", QFile::encodeName(path("calls.jsonl")));
        qunsetenv("Q7_SIM_SCENARIO");
        client.pollMs = 10;
        client.statusTimeoutMs = 10000;
        client.responseTimeoutMs = 20000;
    }
    ~ServiceHarness() {
        // What the controller thread queued for the window is delivered while both still exist.
        QCoreApplication::sendPostedEvents();
        stop();
        m_engine.reset();
        MonitoraDiretorio::destroyInstance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const char *name : {"Q7_LOG_PATH", "Q7_SIM_CALLS", "Q7_SIM_SCENARIO"})
            qunsetenv(name);
    }

    void start(int product, const QString &extraKeys = QString()) {
        writeConfig(product, client.requestDir, client.responseDir, extraKeys);
        m_engine = std::make_unique<QQmlApplicationEngine>();
        // The operator is there as soon as the controller is: a request waiting at start runs
        // while the wiring is still being built.
        const auto makeController = [this](int produto, const QString &libraryDirectory) {
            Base_Controller *made = ServiceWiring::createController(produto, libraryDirectory, dir.path());
            answerAsTheOperator(made);
            return made;
        };
        m_wiring = std::make_unique<ServiceWiring>(
            product, *m_engine,
            ServiceWiring::Options{dir.path(), Q7_BIN_DIR, makeController, false, shutdownWaitMs});
    }
    // Shuts the service down as the application does after its event loop.
    void stop() { m_wiring.reset(); }
    void setScenario(const QByteArray &json) {
        qputenv("Q7_SIM_SCENARIO", QFile::encodeName(writeScenario(json)));
    }
    // Today's log file.
    QString log() const { return logText(readFile(dailyLog(path("logs")))); }

    int listAnswer = -1;
    QString fieldAnswer;
    int shutdownWaitMs = ServiceWiring::kShutdownWaitMs;

    Base_Controller *controller() const { return m_wiring->controller(); }
    QQuickWindow *window() const { return qobject_cast<QQuickWindow *>(m_engine->rootObjects().value(0)); }
    QQuickItem *item(const char *objectName) const { return window()->findChild<QQuickItem *>(objectName); }
    // Keys typed into the window, as QKeySequence names them: "4 2 Return".
    void press(const QString &keys) const {
        for (const QString &key : keys.split(' '))
            QTest::keyClick(window(), Qt::Key(QKeySequence(key)[0]));
    }

private:
    // Row `listAnswer` of every list shown, `fieldAnswer` in every text field; neither when unset,
    // answered through the controller's handlers as the window does.
    void answerAsTheOperator(Base_Controller *controller) {
        QObject::connect(controller, &Base_Controller::disableListView, &m_operator,
                         [this, controller](bool hidden) {
                             if (!hidden && listAnswer >= 0)
                                 controller->onClickButtonOK(QString::number(listAnswer), 2);
                         });
        QObject::connect(controller, &Base_Controller::disableTextField, &m_operator,
                         [this, controller](bool hidden) {
                             if (!hidden && !fieldAnswer.isEmpty())
                                 controller->onClickButtonOK(fieldAnswer, 1);
                         });
    }

    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<ServiceWiring> m_wiring;
    QObject m_operator;
};

class ServiceProcess : public ServiceFiles {
public:
    // Relative request and response directories, as a store's configuration has them; `scenario`
    // for the replacement library from the first start on.
    ServiceProcess(int product, const char *library, const QByteArray &scenario = "{}") {
        QDir().mkpath(path("tmp"));
        if (underWine())
            linkWindowsBuild(QString(library).remove(QRegularExpression("^lib|\\.so$")) + ".dll");
        else
            for (const QString &name : {QString("q7_pagora_passivo"), QString(library)})
                QFile::copy(Q7_BIN_DIR "/" + name, path(name));
        ServiceFiles::writeConfig(product, "req", "resp", ", \"log\": 0");
        setScenario(scenario);
        client.pollMs = 50;
        client.statusTimeoutMs = 20000;
        client.responseTimeoutMs = 30000;
    }
    ~ServiceProcess() {
        for (const auto &process : m_processes) {
            process->kill();
            process->waitForFinished();
        }
        // The last run's log and output, the end of each.
        if (QTest::currentTestFailed())
            for (const QString &name :
                 QDir(dir.path()).entryList({"*.log", "*.stderr"}, QDir::Files, QDir::Time).mid(0, 2))
                qInfo("---- %s:\n%s", qPrintable(name), read(name).right(4000).constData());
    }
    // The replacement library plays `json` from its next call on, also in a service running now.
    void setScenario(const QByteArray &json) { write("scenario.json", json); }
    void clearScenario() { setScenario("{}"); }
    // Starts the service in its directory, logging to `logName` there, with `extra` over the
    // test's own environment and `arguments`; its standard output goes beside the log.
    QProcess *start(const QString &logName = "service.log", const QProcessEnvironment &extra = {},
                    const QStringList &arguments = {}) {
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess *process = m_processes.back().get();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("Q7_LOG_PATH");
        env.insert("Q7_LOG", path(logName));
        // Under Wine the lane's TMPDIR stays: Wine finds its server through it, and the
        // single-instance objects live there.
        if (!underWine())
            env.insert("TMPDIR", path("tmp"));
        env.insert("Q7_SIM_CALLS", path("calls.jsonl"));
        env.insert("Q7_SIM_SCENARIO", path("scenario.json"));
        env.insert(extra);
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(dir.path());
        // Kept beside its log, and shown only when the test fails: a passing run stays quiet.
        process->setStandardOutputFile(path(logName + ".stdout"));
        process->setStandardErrorFile(path(logName + ".stderr"), QIODevice::Append);
        if (underWine()) {
            env.remove("QT_QPA_PLATFORM"); // the Windows platform, on the lane's display
            process->setProcessEnvironment(env);
            process->start("wine", QStringList{path("q7_pagora_passivo.exe")} + arguments);
        } else {
            process->start(path("q7_pagora_passivo"), arguments);
        }
        process->waitForStarted(10000);
        return process;
    }
    // Starts the service and waits until it watches the request directory; null if it does not.
    QProcess *startWatching(const QString &logName = "service.log", const QProcessEnvironment &extra = {}) {
        QProcess *process = start(logName, extra);
        return QTest::qWaitFor([&] { return logged("Monitoramento iniciando em: req", logName); }, 30000)
                   ? process
                   : nullptr;
    }
    // Stops the service politely: SIGTERM, or under Wine a close as taskkill without /F sends.
    void stopPolitely(QProcess *service) const {
        if (underWine())
            windowsHelper({"close"});
        else
            service->terminate();
    }
    bool logged(const QString &text, const QString &logName = "service.log") const {
        return logText(read(logName)).contains(text);
    }
    // `f()` with the TMPDIR a service started here has, where its single-instance slot lives.
    template <typename F> auto withSlotDirectory(F f) const {
        const QByteArray saved = qgetenv("TMPDIR"); // null when unset
        qputenv("TMPDIR", QFile::encodeName(path("tmp")));
        const auto result = f();
        if (saved.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", saved);
        return result;
    }
    bool slotTaken() const {
        return withSlotDirectory([] { return SingleInstanceGuard(kApplicationId).isAnotherRunning(); });
    }

private:
    // The deployed folder linked beside the service's own configuration; APITEFOrvix where
    // Windows loads it from.
    void linkWindowsBuild(const QString &library) {
        const QDir deploy(qEnvironmentVariable("Q7_WINDOWS_DEPLOY"));
        for (const QFileInfo &entry : deploy.entryInfoList(QDir::NoDotAndDotDot | QDir::AllEntries))
            QFile::link(entry.absoluteFilePath(), path(entry.fileName()));
        const QString built = qEnvironmentVariable("Q7_WINDOWS_BIN") + "/" + library;
        const QString fixedPath = qEnvironmentVariable("WINEPREFIX") + "/drive_c/APITEFOrvix/BIN";
        QDir().mkpath(fixedPath);
        QFile::remove(fixedPath + "/" + library);
        QFile::link(built, library == "APITEFOrvix.dll" ? fixedPath + "/" + library : path(library));
    }
    std::vector<std::unique_ptr<QProcess>> m_processes;
};
