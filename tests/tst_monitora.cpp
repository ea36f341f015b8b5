#include "base/Pause.h"
#include "exchange/MonitoraDiretorio.h"
#include "exchange/ProtocoloSitef.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QThread>

#include <cerrno>
#include <dlfcn.h>
#include <memory>

namespace {
// A file the sales application keeps open cannot be replaced on Windows, while it may still be
// written: renames onto a name ending in this fail here the same way.
const char *g_heldName = nullptr;
} // namespace

// Exported from the test executable (see CMakeLists.txt), so Qt's renames come through here.
extern "C" int rename(const char *from, const char *to) {
    if (g_heldName && QByteArray(to).endsWith(g_heldName)) {
        errno = EACCES;
        return -1;
    }
    using Rename = int (*)(const char *, const char *);
    static const auto real = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}

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
const QByteArray kSaleStatus = "000-000 = CRT\r\n001-000 = 1234\r\n999-999 = 0\r\n";
const QByteArray kWindows1252 = ", \"codificacao\": \"windows-1252\"";

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

QByteArray encoded(const char *codec, const QString &text) {
    return QTextCodec::codecForName(codec)->fromUnicode(text);
}

// Gives a directory its permissions back, also when a test fails.
struct PermissionGuard {
    PermissionGuard(const QString &path, QFile::Permissions permissions)
        : path(path)
        , saved(QFile::permissions(path)) {
        QFile::setPermissions(path, permissions);
    }
    ~PermissionGuard() { QFile::setPermissions(path, saved); }
    QString path;
    QFile::Permissions saved;
};

// Restores a scale changed by one test, also when it fails.
struct ScaleGuard {
    explicit ScaleGuard(double scale) { Pause::setScale(scale); }
    ~ScaleGuard() { Pause::setScale(0.01); }
};

// Permissions bind neither root nor every file system.
bool permissionsBind(const QString &readOnlyDir) {
    QFile probe(readOnlyDir + QStringLiteral("/probe"));
    if (!probe.open(QIODevice::WriteOnly))
        return true;
    probe.remove();
    return false;
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

        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), kSaleStatus);
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
        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), kSaleStatus);
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

    void responseEncoding_data() {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("default") << QByteArray() << QByteArray("UTF-8")
                                 << QByteArray("030-000 = APROVA\xC3\x87\xC3\x83O\r\n");
        QTest::newRow("windows-1252")
            << kWindows1252 << QByteArray("windows-1252") << QByteArray("030-000 = APROVA\xC7\xC3O\r\n");
    }
    void responseEncoding() {
        QFETCH(QByteArray, setting);
        QFETCH(QByteArray, codec);
        QFETCH(QByteArray, line);
        start(0, setting);
        const QString response = QStringLiteral(
            "{\"header\":\"CRT\",\"id\":1234,\"resultado\":0,\"texto_operador\":\"APROVAÇÃO\"}");
        m_controller->response = response;
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));

        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.001")),
                     encoded(codec.constData(), ProtocoloSitef().buildSitefResponse(response)));
        QVERIFY(readFile(m_resp + QStringLiteral("/IntPos.001")).contains(line));
        QCOMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), kSaleStatus);
    }

    void requestEncoding_data() {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("fallback");
        const QByteArray windows = encoded("windows-1252", accentedSale());
        const QByteArray utf8 = accentedSale().toUtf8();
        QTest::newRow("windows-1252 request, default") << QByteArray() << windows << true;
        QTest::newRow("windows-1252 request, windows-1252") << kWindows1252 << windows << false;
        QTest::newRow("utf-8 request, default") << QByteArray() << utf8 << false;
        QTest::newRow("utf-8 request with byte order mark")
            << QByteArray() << QByteArray("\xEF\xBB\xBF") + utf8 << false;
    }
    void requestEncoding() {
        QFETCH(QByteArray, setting);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, fallback);
        start(1, setting);
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), bytes));
        QTRY_COMPARE(m_controller->requests.size(), 1);
        QCOMPARE(m_controller->requests.first(), ProtocoloSitef().parseRequest(accentedSale()));
        QCOMPARE(
            logLines().contains(QStringLiteral("{Info} \t\t [MonitoraDiretorio] Arquivo IntPos.001 não é "
                                               "UTF-8 válido; lido como Windows-1252")),
            fallback);
    }

    void requestWrittenInTwoGoesIsReadWhole() {
        const ScaleGuard scale(0.25); // retries 62 ms apart, 0.5 s in all: longer than the writer's pause
        start(1);
        const QString name = m_req + QStringLiteral("/IntPos.001");
        const int split = kSale.indexOf("003-000");
        QVERIFY(writeFile(name, kSale.left(split)));
        QTest::qWait(300);
        QFile file(name);
        QVERIFY(file.open(QIODevice::Append));
        file.write(kSale.mid(split));
        file.close();

        QTRY_COMPARE(m_controller->requests.size(), 1);
        QCOMPARE(m_controller->requests.first(), ProtocoloSitef().parseRequest(QString::fromUtf8(kSale)));
        QVERIFY(logLines().contains(
            QStringLiteral("{Debug} \t\t [MonitoraDiretorio] Arquivo IntPos.001 incompleto")));
        QTRY_VERIFY(m_controller->isFinished());
        QTest::qWait(100);
        QCOMPARE(m_controller->requests.size(), 1);
    }

    void requestNeverCompletedIsAnsweredAsInvalid() {
        start(1);
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), "000-000 = CRT\n001-000 = 1234\n"));
        QTRY_COMPARE(m_controller->requests.size(), 1);
        QVERIFY(m_controller->requests.first().contains(QStringLiteral("\"msg_erro\"")));
        QCOMPARE(logLines().count(
                     QStringLiteral("{Debug} \t\t [MonitoraDiretorio] Arquivo IntPos.001 incompleto")),
                 MonitoraDiretorio::kMaxIncompleteReads);
        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), kSaleStatus);
    }

    void filesWrittenWhenResponseDirectoryReturns_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("removed") << QStringLiteral("removed");
        QTest::newRow("replaced by a file") << QStringLiteral("file");
        QTest::newRow("read-only") << QStringLiteral("read-only");
    }
    void filesWrittenWhenResponseDirectoryReturns() {
        QFETCH(QString, fault);
        const ScaleGuard scale(0.05);
        start(1);
        m_controller->response = kResponse;
        std::unique_ptr<PermissionGuard> readOnly;
        if (fault == QLatin1String("read-only")) {
            readOnly = std::make_unique<PermissionGuard>(m_resp, QFile::ReadOwner | QFile::ExeOwner);
            if (!permissionsBind(m_resp))
                QSKIP("permissions do not bind this user");
        } else {
            QVERIFY(QDir(m_resp).removeRecursively());
            if (fault == QLatin1String("file"))
                QVERIFY(writeFile(m_resp, "not a directory"));
        }
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));
        QTRY_VERIFY(logLines().contains(
            QStringLiteral("{Info} \t\t [MonitoraDiretorio] Nova tentativa de gravação em ") + m_resp));
        QTRY_VERIFY(m_controller->isFinished()); // its response waits as well

        readOnly.reset();
        if (fault == QLatin1String("file"))
            QVERIFY(QFile::remove(m_resp));
        QVERIFY(QDir().mkpath(m_resp));
        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), kSaleStatus);
        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.001")),
                     ProtocoloSitef().buildBridgeResponse(kResponse).toUtf8());
        // Neither the temporary response file nor a temporary status file is left behind.
        QCOMPARE(QDir(m_resp).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("IntPos.001"), QStringLiteral("IntPos.Sts")}));
    }

    void heldResponseFile_data() {
        QTest::addColumn<bool>("released");
        QTest::newRow("released while retrying") << true;
        QTest::newRow("held for good") << false;
    }
    void heldResponseFile() {
        QFETCH(bool, released);
        const ScaleGuard scale(0.05);
        start(1);
        m_controller->response = kResponse;
        // A directory in its place stands for a file that the sales application keeps open
        // (a sharing violation on Windows): it can be neither removed nor replaced.
        const QString response = m_resp + QStringLiteral("/IntPos.001");
        const QString temporary = m_resp + QStringLiteral("/arquivo_tef.tmp");
        QVERIFY(QDir().mkpath(response + QStringLiteral("/aberto")));
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));
        const QString failed =
            QStringLiteral("{Error} \t\t [MonitoraDiretorio] Falha ao renomear arquivo para ") + response;
        QTRY_VERIFY(logLines().contains(failed));
        const QByteArray expected = ProtocoloSitef().buildBridgeResponse(kResponse).toUtf8();

        if (released) {
            QVERIFY(QDir(response).removeRecursively());
            QTRY_COMPARE(readFile(response), expected);
            QVERIFY(!QFile::exists(temporary));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(
                logLines().contains(
                    QStringLiteral(
                        "{Error} \t\t [MonitoraDiretorio] Gravação em %1 abandonada após %2 tentativas")
                        .arg(m_resp)
                        .arg(MonitoraDiretorio::kMaxWriteAttempts)),
                30000);
            // The answer is kept, once, and the failure was logged once.
            QCOMPARE(readFile(temporary), expected);
            QCOMPARE(QDir(m_resp).entryList(QDir::Files | QDir::Hidden),
                     (QStringList{QStringLiteral("arquivo_tef.tmp"), QStringLiteral("IntPos.Sts")}));
            QCOMPARE(logLines().count(failed), 1);
        }
        QCOMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), kSaleStatus);
    }

    void filesThatCannotBeReplaced_data() {
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QString>("inPlace"); // the log line of the file written in place
        QTest::newRow("status file held open")
            << "IntPos.Sts"
            << "{Info} \t\t [MonitoraDiretorio] Arquivo de status gravado diretamente em %1/IntPos.Sts";
        QTest::newRow("temporary response file blocked")
            << "arquivo_tef.tmp"
            << "{Info} \t\t [MonitoraDiretorio] Arquivo de resposta gravado diretamente em %1/IntPos.001";
    }
    void filesThatCannotBeReplaced() {
        QFETCH(QString, blocked);
        QFETCH(QString, inPlace);
        const ScaleGuard scale(0.05);
        start(1);
        m_controller->response = kResponse;
        struct Held {
            ~Held() { g_heldName = nullptr; }
        } held;
        if (blocked == QLatin1String("IntPos.Sts")) {
            QVERIFY(writeFile(m_resp + QStringLiteral("/IntPos.Sts"), "earlier"));
            g_heldName = "/IntPos.Sts";
        } else {
            QVERIFY(QDir().mkpath(m_resp + QStringLiteral("/arquivo_tef.tmp/x")));
        }
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));

        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.001")),
                     ProtocoloSitef().buildBridgeResponse(kResponse).toUtf8());
        QCOMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), kSaleStatus);
        const QStringList lines = logLines();
        const int written = lines.indexOf(inPlace.arg(m_resp));
        QVERIFY(written >= 0);
        // Told once, when it was written, and before the response.
        const QStringList status = lines.filter(QStringLiteral("[MonitoraDiretorio] Arquivo status ["));
        QCOMPARE(status.size(), 1);
        QVERIFY(lines.indexOf(status.first()) <
                lines.indexOf(QRegularExpression(QStringLiteral(".*IntPos.001$"))));
        // A temporary file that cannot be opened is told where it happens, before the response text.
        const int failed = lines.indexOf(
            QStringLiteral("{Error} \t\t [MonitoraDiretorio] Erro ao abrir arquivo de resposta ") + m_resp +
            QStringLiteral("/arquivo_tef.tmp"));
        QCOMPARE(failed >= 0, blocked == QLatin1String("arquivo_tef.tmp"));
        if (failed >= 0)
            QVERIFY(failed < lines.indexOf(QRegularExpression(QStringLiteral(".*Formato SiTef: .*"))));
    }

    // Requests are a few hundred bytes: anything else is answered as an invalid request
    // without being read whole or followed, and removed (a link, never its target).
    void refusedRequestFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QByteArray>("status");
        const QByteArray unnamed = "000-000 = \r\n001-000 = \r\n999-999 = 0\r\n";
        QTest::newRow("300 MB") << "large"
                                << "maior que 65536 bytes" << kSaleStatus;
        QTest::newRow("symbolic link") << "link"
                                       << "é um link simbólico" << unnamed;
        QTest::newRow("directory") << "directory"
                                   << "não é um arquivo comum" << unnamed;
    }
    void refusedRequestFiles() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QFETCH(QByteArray, status);
        start(1);
        const QString request = m_req + QStringLiteral("/IntPos.001");
        const QString target = m_dir->filePath(QStringLiteral("outro.txt"));
        const QByteArray secret = "000-000 = CRT\n001-000 = 5678\n999-999 = 0\n";
        QVERIFY(writeFile(target, secret));
        const QString temporary = m_dir->filePath(QStringLiteral("novo"));
        if (kind == QLatin1String("large")) {
            // Sparse: a 300 MB file that costs nothing to make.
            QFile file(temporary);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kSale) == kSale.size());
            QVERIFY(file.resize(300 * 1024 * 1024));
        } else if (kind == QLatin1String("link")) {
            QVERIFY(QFile::link(target, temporary));
        } else {
            QVERIFY(QDir().mkpath(temporary + QStringLiteral("/x")));
        }
        QVERIFY(QFile::rename(temporary, request));

        QTRY_COMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), status);
        QCOMPARE(m_controller->requests.size(), 1);
        const QJsonObject document =
            QJsonDocument::fromJson(m_controller->requests.first().toUtf8()).object();
        QCOMPARE(document.value(QLatin1String("msg_erro")).toString(),
                 QStringLiteral("Arquivo IntPos.001 recusado: ") + reason);
        QVERIFY(m_controller->requests.first().size() < 1024);
        QVERIFY(logLines().contains(
            QStringLiteral("{Error} \t\t [MonitoraDiretorio] Arquivo %1 recusado: %2").arg(request, reason)));
        QCOMPARE(readFile(target), secret);
        QVERIFY(!logLines().join(QLatin1Char('\n')).contains(QStringLiteral("5678")));
        // What cannot be removed is not taken again while it stays as it is.
        QCOMPARE(QFileInfo::exists(request), kind == QLatin1String("directory"));
        QTRY_VERIFY(m_controller->isFinished());
        QTest::qWait(Pause::scaled(250) * 4);
        QCOMPARE(m_controller->requests.size(), 1);
    }

    void unremovableResponseIsOverwrittenInPlace() {
        const ScaleGuard scale(0.05);
        start(1);
        m_controller->response = kResponse;
        for (const char *name : {"/IntPos.001", "/IntPos.Sts", "/arquivo_tef.tmp"})
            QVERIFY(writeFile(m_resp + QLatin1String(name), "earlier"));
        // Nothing can be created, removed or renamed there, but its files can be written.
        const PermissionGuard readOnly(m_resp, QFile::ReadOwner | QFile::ExeOwner);
        if (!permissionsBind(m_resp))
            QSKIP("permissions do not bind this user");
        QVERIFY(writeFile(m_req + QStringLiteral("/IntPos.001"), kSale));

        const QString response = m_resp + QStringLiteral("/IntPos.001");
        QTRY_COMPARE(readFile(response), ProtocoloSitef().buildBridgeResponse(kResponse).toUtf8());
        QCOMPARE(readFile(m_resp + QStringLiteral("/IntPos.Sts")), kSaleStatus);
        QVERIFY(logLines().contains(
            QStringLiteral("{Info} \t\t [MonitoraDiretorio] Arquivo de resposta gravado diretamente em ") +
            response));
    }

private:
    static QString accentedSale() {
        return QStringLiteral("000-000 = CRT\n001-000 = 1234\n002-000 = AÇÃO nº 5\n999-999 = 0\n");
    }

    void writeConfig(int product, const QByteArray &extra = QByteArray()) {
        const QByteArray config =
            QStringLiteral("{\"path_in\": \"%1\", \"path_out\": \"%2\", \"file_req\": "
                           "\"IntPos.001\", \"file_resp\": \"IntPos.Sts\", \"produto_tef\": %3%4}")
                .arg(m_req, m_resp)
                .arg(product)
                .arg(QString::fromUtf8(extra))
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

    MonitoraDiretorio *start(int product, const QByteArray &extra = QByteArray()) {
        writeConfig(product, extra);
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
