// The whole service in-process: configuration, monitor, controller, window and the
// replacement payment libraries, driven through the file exchange like a sales application.
#include "TefPosClient.h"
#include "app/Pause.h"
#include "app/ServiceWiring.h"
#include "controllers/Base_Controller.h"
#include "exchange/MonitoraDiretorio.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Runs one exchange on a worker thread, since the client blocks while polling and the
// service needs this thread's event loop.
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

TefPosClient::Fields sale(const QString &id, const QString &amount = QStringLiteral("1000")) {
    return {{QStringLiteral("000-000"), QStringLiteral("CRT")},
            {QStringLiteral("001-000"), id},
            {QStringLiteral("002-000"), QStringLiteral("98393")},
            {QStringLiteral("003-000"), amount},
            {QStringLiteral("004-000"), QStringLiteral("0")}};
}

} // namespace

class TestService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Pause::setScale(0.01);
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("logs"))));
        qputenv("Q7_LOG_PATH", m_dir->filePath(QStringLiteral("logs")).toLocal8Bit());
        qputenv("Q7_SIM_CALLS", m_dir->filePath(QStringLiteral("calls.jsonl")).toLocal8Bit());
        qunsetenv("Q7_SIM_SCENARIO");
        m_client.requestDir = m_dir->filePath(QStringLiteral("req"));
        m_client.responseDir = m_dir->filePath(QStringLiteral("resp"));
        m_client.pollMs = 10;
        m_client.statusTimeoutMs = 5000;
        m_client.responseTimeoutMs = 20000;
    }

    void cleanup() {
        m_wiring.reset();
        m_engine.reset();
        MonitoraDiretorio::destroyInstance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        qunsetenv("Q7_LOG_PATH");
        qunsetenv("Q7_SIM_CALLS");
        qunsetenv("Q7_SIM_SCENARIO");
        m_dir.reset();
    }

    void firstWindowState_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("0 Pagora") << 0 << QStringList{QStringLiteral("showWindow(false)")};
        QTest::newRow("1 bridge") << 1 << QStringList{QStringLiteral("disableButtonOK(true)"),
                                                      QStringLiteral("disableButtonVoltar(true)"),
                                                      QStringLiteral("disableButtonCancelar(true)"),
                                                      QStringLiteral("disableTextField(true)"),
                                                      QStringLiteral("disableListView(true)"),
                                                      QStringLiteral("showWindow(false)")};
        QTest::newRow("2 Tef01") << 2 << QStringList{QStringLiteral("showWindow(false)")};
    }
    void firstWindowState() {
        QFETCH(int, product);
        QFETCH(QStringList, expected);
        QStringList seen;
        startService(product, [&seen](int produto, const QString &directory) {
            Base_Controller *controller = ServiceWiring::createController(produto, directory);
            const auto record = [&seen, controller](const char *name, void (Base_Controller::*signal)(bool)) {
                QObject::connect(controller, signal, controller, [&seen, name](bool value) {
                    seen << QStringLiteral("%1(%2)").arg(QLatin1String(name), value ? QLatin1String("true")
                                                                                    : QLatin1String("false"));
                });
            };
            record("disableButtonOK", &Base_Controller::disableButtonOK);
            record("disableButtonVoltar", &Base_Controller::disableButtonVoltar);
            record("disableButtonCancelar", &Base_Controller::disableButtonCancelar);
            record("disableTextField", &Base_Controller::disableTextField);
            record("disableListView", &Base_Controller::disableListView);
            record("disableProgressBar", &Base_Controller::disableProgressBar);
            record("showWindow", &Base_Controller::showWindow);
            return controller;
        });
        QCOMPARE(seen, expected);
        QCoreApplication::processEvents();
        QVERIFY(!window()->isVisible());
    }

    void bridgeSale() {
        startService(1);
        Exchange exchange(m_client, sale(QStringLiteral("501")));
        QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
        QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::Approved);
        QCOMPARE(exchange.result().status, QByteArray("000-000 = CRT\r\n001-000 = 501\r\n999-999 = 0\r\n"));
        const TefPosClient::Fields response =
            TefPosClient::parse(QString::fromUtf8(exchange.result().response));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("000-000")), QStringLiteral("CRT"));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("009-000")), QStringLiteral("0"));
        QVERIFY(TefPosClient::value(response, QStringLiteral("028-000")).toInt() > 0);
        QVERIFY(!QFile::exists(m_client.responseDir + QStringLiteral("/arquivo_tef.tmp")));
        QVERIFY(!QFile::exists(m_client.responseDir + QStringLiteral("/IntPos.001"))); // the client took it
    }

    void bridgeInvalidRequestIsAnswered() {
        startService(1);
        QVERIFY(
            writeFile(m_client.requestDir + QStringLiteral("/IntPos.001"), "000-000 = CRT\n001-000 = 77\n"));
        const QString response = m_client.responseDir + QStringLiteral("/IntPos.001");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(response), 20000);
        const TefPosClient::Fields fields = TefPosClient::parse(QString::fromUtf8(readFile(response)));
        QCOMPARE(TefPosClient::value(fields, QStringLiteral("001-000")), QStringLiteral("77"));
        QCOMPARE(TefPosClient::value(fields, QStringLiteral("009-000")), QStringLiteral("-9999"));
    }

    void statusOnlyCodes_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("operation");
        for (int product : {0, 1, 2})
            for (const char *operation : {"ATV", "CNF", "NCN"})
                QTest::addRow("%d %s", product, operation) << product << QString::fromLatin1(operation);
    }
    void statusOnlyCodes() {
        QFETCH(int, product);
        QFETCH(QString, operation);
        startService(product);
        Exchange exchange(m_client, {{QStringLiteral("000-000"), operation},
                                     {QStringLiteral("001-000"), QStringLiteral("900")},
                                     {QStringLiteral("010-000"), QStringLiteral("REDE")},
                                     {QStringLiteral("012-000"), QStringLiteral("123")},
                                     {QStringLiteral("027-000"), QStringLiteral("ABC")}});
        QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
        QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::Approved);
        QTRY_VERIFY(m_wiring->controller()->isFinished());
        QTest::qWait(50);
        QCOMPARE(QDir(m_client.responseDir).entryList(QDir::Files),
                 QStringList{QStringLiteral("IntPos.Sts")});
    }

    void requestWaitingAtStart() {
        QVERIFY(QDir().mkpath(m_client.requestDir));
        QVERIFY(writeFile(m_client.requestDir + QStringLiteral("/IntPos.001"),
                          "000-000 = CRT\n001-000 = 321\n003-000 = 1500\n999-999 = 0\n"));
        startService(1);
        const QString response = m_client.responseDir + QStringLiteral("/IntPos.001");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(response), 20000);
        QCOMPARE(TefPosClient::value(TefPosClient::parse(QString::fromUtf8(readFile(response))),
                                     QStringLiteral("009-000")),
                 QStringLiteral("0"));
    }

private:
    void startService(int product,
                      std::function<Base_Controller *(int, const QString &)> makeController = nullptr) {
        const QByteArray config =
            QStringLiteral("{\"path_in\": \"%1\", \"path_out\": \"%2\", \"file_req\": \"IntPos.001\", "
                           "\"file_resp\": \"IntPos.Sts\", \"produto_tef\": %3}")
                .arg(m_client.requestDir, m_client.responseDir)
                .arg(product)
                .toUtf8();
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("config_tef.json")), config));
        m_engine = std::make_unique<QQmlApplicationEngine>();
        ServiceWiring::Options options{m_dir->path(), QStringLiteral(Q7_BIN_DIR), makeController};
        m_wiring = std::make_unique<ServiceWiring>(product, *m_engine, options);
    }

    QQuickWindow *window() const { return qobject_cast<QQuickWindow *>(m_engine->rootObjects().value(0)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<ServiceWiring> m_wiring;
    TefPosClient m_client;
};

QTEST_MAIN(TestService)
#include "tst_service.moc"
