#include "app/Pause.h"
#include "exchange/MonitoraDiretorio.h"
#include "exchange/ProtocoloSitef.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// Stands in for a payment controller: records each request and answers with a script.
class FakeController : public QThread {
    Q_OBJECT
public:
    QStringList requests;
    QString response; // empty: echo the request's header and identification
    bool blocking = false;
    QSemaphore gate;

public slots:
    void setJsonConfigs(QString value) { requests << value; }

signals:
    void responseProcessTEF(QString dados);

protected:
    void run() override {
        if (blocking)
            gate.acquire();
        if (!response.isEmpty()) {
            emit responseProcessTEF(response);
            return;
        }
        const QJsonObject request = QJsonDocument::fromJson(requests.last().toUtf8()).object();
        QJsonObject echo{{QStringLiteral("header"), request.value(QLatin1String("header"))},
                         {QStringLiteral("id"), request.value(QLatin1String("parametros"))
                                                    .toObject()
                                                    .value(QLatin1String("identificacao"))
                                                    .toString()
                                                    .toInt()},
                         {QStringLiteral("resultado"), 0}};
        emit responseProcessTEF(QString::fromUtf8(QJsonDocument(echo).toJson(QJsonDocument::Compact)));
    }
};

namespace {

const QByteArray kSale = "000-000 = CRT\n001-000 = 1234\n003-000 = 1000\n999-999 = 0\n";

// A response document with members every product's writer maps.
const QString kResponse = QStringLiteral(
    "{\"header\":\"CRT\",\"id\":1234,\"resultado\":0,\"texto_operador\":\"APROVADA\","
    "\"resultadoTransacao\":0,\"mensagemResultado\":\"APROVADA\",\"nsuTransacao\":\"999\","
    "\"codigo\":0,\"mensagem\":\"APROVADA\",\"tef\":{\"resultadoTransacao\":0,\"sequencial\":7}}");

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestMonitora : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Pause::setScale(0.01); }

    void init() {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("logs"))));
        qputenv("Q7_LOG_PATH", m_dir->filePath(QStringLiteral("logs")).toLocal8Bit());
        m_req = m_dir->filePath(QStringLiteral("req"));
        m_resp = m_dir->filePath(QStringLiteral("resp"));
    }

    void cleanup() {
        if (m_controller) {
            m_controller->gate.release(100);
            m_controller->wait(5000);
        }
        MonitoraDiretorio::destroyInstance();
        delete m_controller;
        m_controller = nullptr;
        qunsetenv("Q7_LOG_PATH");
        m_dir.reset();
    }

    void answersWithStatusFile() {
        MonitoraDiretorio *monitor = start(1);
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));

        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")),
                     QByteArray("000-000 = CRT\r\n001-000 = 1234\r\n999-999 = 0\r\n"));
        QCOMPARE(m_controller->requests.size(), 1);
        QCOMPARE(m_controller->requests.first(), ProtocoloSitef().parseRequest(QString::fromUtf8(kSale)));
        QVERIFY(!QFile::exists(m_req + QStringLiteral("/IntPos.001")));
        QTRY_VERIFY(m_controller->isFinished());
        // Only the status and response files: no temporary file is left behind.
        QTRY_COMPARE(QDir(m_resp).entryList(QDir::Files),
                     (QStringList{QStringLiteral("IntPos.001"), QStringLiteral("IntPos.Sts")}));
        Q_UNUSED(monitor);
    }

    void statusFileFields_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("ATV") << QByteArray("000-000 = ATV\n001-000 = 77\n999-999 = 0\n")
                             << QByteArray("000-000 = ATV\r\n001-000 = 77\r\n999-999 = 0\r\n");
        QTest::newRow("no identification") << QByteArray("000-000 = CRT\n003-000 = 100\n999-999 = 0\n")
                                           << QByteArray("000-000 = CRT\r\n001-000 = \r\n999-999 = 0\r\n");
    }
    void statusFileFields() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        start(1);
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), request));
        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), status);
    }

    void responseFilePerProduct_data() {
        QTest::addColumn<int>("product");
        QTest::newRow("0 SiTef layout") << 0;
        QTest::newRow("1 bridge") << 1;
        QTest::newRow("2 Tef01") << 2;
    }
    void responseFilePerProduct() {
        QFETCH(int, product);
        ProtocoloSitef protocolo;
        const QString expected[] = {protocolo.buildSitefResponse(kResponse),
                                    protocolo.buildBridgeResponse(kResponse),
                                    protocolo.buildTefResponse(kResponse)};
        QVERIFY(expected[0] != expected[1] && expected[1] != expected[2] && expected[0] != expected[2]);

        start(product);
        m_controller->response = kResponse;
        const QString response = m_resp + QStringLiteral("/IntPos.001");
        QVERIFY(writeFile(response, "an earlier response"));
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));

        QTRY_VERIFY(m_controller->isFinished());
        QTRY_COMPARE(readFile(response), expected[product].toUtf8());
        QVERIFY(!QFile::exists(m_resp + QStringLiteral("/arquivo_tef.tmp")));
    }

    void requestFileNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("read");
        QTest::newRow("exact name") << QStringLiteral("IntPos.001") << true;
        QTest::newRow("lower case") << QStringLiteral("intpos.001") << true;
        QTest::newRow("upper case") << QStringLiteral("INTPOS.001") << true;
        QTest::newRow("other name") << QStringLiteral("IntPos.002") << false;
        QTest::newRow("temporary name") << QStringLiteral("IntPos.tmp") << false;
    }
    void requestFileNames() {
        QFETCH(QString, name);
        QFETCH(bool, read);
        start(1);
        QVERIFY(writeFile(m_req + QLatin1Char('/') + name, kSale));
        if (read) {
            QTRY_COMPARE(m_controller->requests.size(), 1);
            QTRY_VERIFY(!QFile::exists(m_req + QLatin1Char('/') + name));
        } else {
            QTRY_VERIFY(logLines().contains(
                QStringLiteral("{Info} \t\t [MonitoraDiretorio] FINALIZANDO OPERACAO TEF")));
            QTest::qWait(50);
            QCOMPARE(m_controller->requests.size(), 0);
            QVERIFY(QFile::exists(m_req + QLatin1Char('/') + name));
        }
    }

    void twoFilesInOneChange() {
        start(1);
        // Both files appear before the event loop runs again: one notification.
        QVERIFY(writeFile(m_req + QStringLiteral("/0outro.txt"), "x"));
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));
        QTRY_COMPARE(m_controller->requests.size(), 1);
        QVERIFY(logLines().contains(
            QStringLiteral("{Debug} \t\t [MonitoraDiretorio] novo arquivo na posição 1: 0outro.txt")));
    }

    void deletionIsLogged() {
        QVERIFY(QDir().mkpath(m_req));
        QVERIFY(writeFile(m_req + QStringLiteral("/outro.txt"), "x"));
        start(1);
        QVERIFY(QFile::remove(m_req + QStringLiteral("/outro.txt")));
        QTRY_VERIFY(logLines().contains(
            QStringLiteral("{Info} \t\t [MonitoraDiretorio] Arquivo deletado outro.txt")));
        QCOMPARE(m_controller->requests.size(), 0);
    }

    void requestWaitingAtStart() {
        QVERIFY(QDir().mkpath(m_req));
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));
        start(1);
        QCOMPARE(m_controller->requests.size(), 1); // handled within addObservadorDiretorio()
        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")),
                     QByteArray("000-000 = CRT\r\n001-000 = 1234\r\n999-999 = 0\r\n"));
    }

    void codesWithoutResponseFile_data() {
        QTest::addColumn<QString>("header");
        QTest::addColumn<bool>("written");
        QTest::newRow("CNF") << QStringLiteral("CNF") << false;
        QTest::newRow("NCN") << QStringLiteral("NCN") << false;
        QTest::newRow("ATV") << QStringLiteral("ATV") << false;
        QTest::newRow("cnf in lower case") << QStringLiteral("cnf") << true;
        QTest::newRow("CRT") << QStringLiteral("CRT") << true;
    }
    void codesWithoutResponseFile() {
        QFETCH(QString, header);
        QFETCH(bool, written);
        start(1);
        MonitoraDiretorio::instance()->processResponse(
            QStringLiteral("{\"header\":\"%1\",\"id\":5}").arg(header));
        QCOMPARE(QFile::exists(m_resp + QStringLiteral("/IntPos.001")), written);
        QCOMPARE(logLines().contains(QStringLiteral("{Info} \t\t [MonitoraDiretorio] Operação ") + header +
                                     QStringLiteral(" não requer arquivo intpos.001")),
                 !written);
    }

    void requestDuringOperationIsHandledAfterIt() {
        start(1);
        m_controller->blocking = true;
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));
        QTRY_COMPARE(m_controller->requests.size(), 1);
        QTRY_VERIFY(!QFile::exists(m_req + QStringLiteral("/IntPos.001")));

        QVERIFY(
            writeFile(m_req + QStringLiteral("/IntPos.001"), "000-000 = CNC\n001-000 = 1235\n999-999 = 0\n"));
        QTest::qWait(100);
        QCOMPARE(m_controller->requests.size(), 1);

        m_controller->gate.release();
        QTRY_COMPARE(m_controller->requests.size(), 2);
        QVERIFY(m_controller->requests.at(1).contains(QStringLiteral("\"CNC\"")));
        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")),
                     QByteArray("000-000 = CNC\r\n001-000 = 1235\r\n999-999 = 0\r\n"));
        m_controller->gate.release();
    }

    void emptyFileIsRetriedBoundedly() {
        start(1);
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), QByteArray()));
        const QString empty = QStringLiteral("{Debug} \t\t [MonitoraDiretorio] Arquivo IntPos.001 vazio");
        QTRY_COMPARE(logLines().count(empty), MonitoraDiretorio::kMaxReadAttempts);
        // Given up: no further attempts while the file stays as it is.
        QTest::qWait(Pause::scaled(250) * 5);
        QCOMPARE(logLines().count(empty), MonitoraDiretorio::kMaxReadAttempts);
        QCOMPARE(m_controller->requests.size(), 0);
        QVERIFY(QFile::exists(m_req + QStringLiteral("/IntPos.001")));

        // Written again from scratch, it is read.
        QVERIFY(QFile::remove(m_req + QStringLiteral("/IntPos.001")));
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));
        QTRY_COMPARE(m_controller->requests.size(), 1);
    }

    void fileCompletedLaterIsReadOnce() {
        Pause::setScale(0.1); // retries 25 ms apart, leaving time to complete the file
        start(1);
        const QString name = m_req + QStringLiteral("/IntPos.001");
        QVERIFY(writeFile(name, QByteArray()));
        const QString empty = QStringLiteral("{Debug} \t\t [MonitoraDiretorio] Arquivo IntPos.001 vazio");
        QTRY_VERIFY(logLines().count(empty) >= 2);
        QFile file(name);
        QVERIFY(file.open(QIODevice::Append));
        file.write(kSale);
        file.close();
        QTRY_COMPARE(m_controller->requests.size(), 1);
        QTRY_VERIFY(m_controller->isFinished());
        QTest::qWait(100);
        QCOMPARE(m_controller->requests.size(), 1);
        Pause::setScale(0.01);
    }

    void missingDirectoryIsWatchedOnceCreated() {
        writeConfig(1);
        MonitoraDiretorio *monitor = MonitoraDiretorio::instance(m_dir->path());
        connectController(monitor);
        QVERIFY(QDir(m_req).removeRecursively());
        monitor->addObservadorDiretorio();
        QVERIFY(logLines().contains(QStringLiteral(
            "{Error} \t\t [MonitoraDiretorio] Caminho especificado para monitoramento não existe")));

        QVERIFY(QDir().mkpath(m_req));
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));
        QTRY_COMPARE(m_controller->requests.size(), 1);
    }

    void removedDirectoryIsWatchedAgain() {
        start(1);
        QVERIFY(QDir(m_req).removeRecursively());
        QTRY_VERIFY(logLines().contains(QStringLiteral(
            "{Error} \t\t [MonitoraDiretorio] Caminho especificado para monitoramento não existe")));
        QVERIFY(QDir().mkpath(m_req));
        QTest::qWait(Pause::scaled(3000) * 2);
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));
        QTRY_COMPARE(m_controller->requests.size(), 1);
    }

private:
    void writeConfig(int product) {
        const QByteArray config =
            QStringLiteral("{\"path_in\": \"%1\", \"path_out\": \"%2\", \"file_req\": "
                           "\"IntPos.001\", \"file_resp\": \"IntPos.Sts\", \"produto_tef\": %3}")
                .arg(m_req, m_resp)
                .arg(product)
                .toUtf8();
        QVERIFY(writeFile(m_dir->filePath(QStringLiteral("config_tef.json")), config));
    }

    void connectController(MonitoraDiretorio *monitor) {
        m_controller = new FakeController;
        // The same four connections as the service wiring.
        connect(monitor, &MonitoraDiretorio::confJson, m_controller, &FakeController::setJsonConfigs);
        connect(monitor, SIGNAL(startTefProcess()), m_controller, SLOT(start()));
        connect(m_controller, &FakeController::responseProcessTEF, monitor,
                &MonitoraDiretorio::processResponse);
        connect(m_controller, SIGNAL(finished()), monitor, SLOT(signal_to_add_addObservadorDiretorio()));
    }

    MonitoraDiretorio *start(int product) {
        writeConfig(product);
        MonitoraDiretorio *monitor = MonitoraDiretorio::instance(m_dir->path());
        connectController(monitor);
        monitor->addObservadorDiretorio();
        return monitor;
    }

    QStringList logLines() const {
        QStringList lines;
        const QByteArray bytes =
            readFile(m_dir->filePath(QStringLiteral("logs/")) +
                     QDate::currentDate().toString(QStringLiteral("ddMMyy")) + QStringLiteral("_Q7-LOG.txt"));
        for (const QByteArray &line : bytes.split('\n'))
            if (!line.isEmpty())
                lines << QString::fromLocal8Bit(line).mid(38);
        return lines;
    }

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_req;
    QString m_resp;
    FakeController *m_controller = nullptr;
};

QTEST_GUILESS_MAIN(TestMonitora)
#include "tst_monitora.moc"
