#include "TestFiles.h"
#include "base/Pause.h"
#include "exchange/MonitoraDiretorio.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QThread>

#ifndef Q_OS_WIN
#include <cerrno>
#include <dlfcn.h>
#include <sys/stat.h>
#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

namespace {
// A file the sales application keeps open cannot be replaced on Windows, while it may still be
// written: renames onto a name ending in this fail here the same way. On Windows a real open
// handle does it.
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
#endif

// Stands in for a payment controller: records each request and answers with `response`.
class FakeController : public QThread {
    Q_OBJECT
public:
    QStringList requests;
    QString response = QStringLiteral(R"({"header":"CRT"})");
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
        emit responseProcessTEF(response);
    }
};

namespace {

const QByteArray kSale = "000-000 = CRT\n001-000 = 1234\n003-000 = 1000\n999-999 = 0\n";
const QByteArray kSaleStatus = "000-000 = CRT\r\n001-000 = 1234\r\n999-999 = 0\r\n";
const QByteArray kWindows1252 = R"(, "codificacao": "windows-1252")";
// A response document the bridge writer maps.
const char *kResponse =
    R"({"header":"CRT","resultadoTransacao":0,"mensagemResultado":"APROVADA","nsuTransacao":"9"})";

QString logged(const char *level, const QString &text) {
    return logLine(level, QStringLiteral("[MonitoraDiretorio] ") + text);
}

QByteArray bridge(const QString &response) {
    return ProtocoloSitef().buildBridgeResponse(response).toUtf8();
}

} // namespace

class TestMonitora : public QObject {
    Q_OBJECT

private slots:
    void init() {
        Pause::setScale(0.01);
        m_dir.reset(new QTemporaryDir);
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("logs"))));
        qputenv("Q7_LOG_PATH", m_dir->filePath(QStringLiteral("logs")).toLocal8Bit());
        m_req = m_dir->filePath(QStringLiteral("req"));
        m_resp = m_dir->filePath(QStringLiteral("resp"));
        m_request = m_req + QStringLiteral("/IntPos.001");
        m_status = m_resp + QStringLiteral("/IntPos.Sts");
        m_response = m_resp + QStringLiteral("/IntPos.001");
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
#ifdef Q_OS_WIN
        m_held.close();
#else
        g_heldName = nullptr;
#endif
#ifdef Q_OS_LINUX
        if (!m_mounted.isEmpty())
            ::umount(QFile::encodeName(m_mounted).constData());
        m_mounted.clear();
#endif
    }

    // One request file in (product 1): the request the controller gets, the status file, the
    // response file written from the controller's answer, and nothing else left behind.
    void exchange_data() {
        QTest::addColumn<QByteArray>("setting"); // members added to config_tef.json
        QTest::addColumn<QString>("name");       // of the request file
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("read");     // the request text the controller gets; null: not taken
        QTest::addColumn<QString>("response"); // the controller's answer; empty: a bare CRT
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("answer"); // the response file; null: none
        QTest::addColumn<QString>("logLine");   // a line the log must hold
        const auto row = [](const char *row, const QByteArray &setting, const char *name,
                            const QByteArray &request, const QString &read, const char *response,
                            const QByteArray &status, const QByteArray &answer,
                            const QString &logLine = QString()) {
            QTest::newRow(row) << setting << name << request << read << QString::fromUtf8(response) << status
                               << answer << logLine;
        };
        const QByteArray bare = "999-999 = 0"; // the bridge layout of a document with a header only
        const char *approval = R"({"header":"CRT","mensagemResultado":"APROVAÇÃO"})";
        const QString accented =
            QStringLiteral("000-000 = CRT\n001-000 = 1234\n002-000 = AÇÃO nº 5\n999-999 = 0\n");
        const QByteArray windows = QTextCodec::codecForName("windows-1252")->fromUnicode(accented);
        const QByteArray noId = "000-000 = CRT\n003-000 = 100\n999-999 = 0\n";

        row("a sale", "", "IntPos.001", kSale, kSale, kResponse, kSaleStatus, bridge(kResponse));
        row("UTF-8 request and response by default", "", "IntPos.001", accented.toUtf8(), accented, approval,
            kSaleStatus, "030-000 = APROVA\xC3\x87\xC3\x83O\r\n999-999 = 0");
        row("Windows-1252 request and response", kWindows1252, "IntPos.001", windows, accented, approval,
            kSaleStatus, "030-000 = APROVA\xC7\xC3O\r\n999-999 = 0",
            logged("Info", "Codificação dos arquivos: windows-1252"));
        row("no identification, name in lower case", "", "intpos.001", noId, noId, "",
            "000-000 = CRT\r\n001-000 = \r\n999-999 = 0\r\n", bare);
        row("other name: not taken", "", "IntPos.002", kSale, QString(), "", QByteArray(), QByteArray());
        row("Windows-1252 request under utf-8", "", "IntPos.001", windows, accented, "", kSaleStatus, bare,
            logged("Info", "Arquivo IntPos.001 não é UTF-8 válido; lido como Windows-1252"));
        row("UTF-8 request with a byte order mark", "", "IntPos.001", "\xEF\xBB\xBF" + accented.toUtf8(),
            accented, "", kSaleStatus, bare);
        for (const char *utf16 : {"UTF-16LE", "UTF-16BE"}) // with its byte order mark
            row(utf16, "", "IntPos.001", QTextCodec::codecForName(utf16)->fromUnicode(accented), accented, "",
                kSaleStatus, bare);
        const QByteArray forged = "000-000 = CRT\n001-000 = 1234\n{07/12/26 "
                                  "23:59:59}{Q7_PAGORA_PASSIVO}{Error} APROVADO\n999-999 = 0";
        row("a line break from outside never starts a log line", "", "IntPos.001", forged, forged, "",
            kSaleStatus, bare,
            logged("Debug", "Dados do arquivo lido: " + QString(forged).replace('\n', "\\n")));
        const QString head = "120 bytes, não é texto; início em hexadecimal: " + kSale.left(32).toHex(' ');
        row("a request that is not text: its size and head", "", "IntPos.001",
            kSale + '\0' + QByteArray(63, 1), kSale, "", kSaleStatus, bare,
            logged("Debug", "Dados do arquivo lido: " + head));
    }
    void exchange() {
        QFETCH(QByteArray, setting);
        QFETCH(QString, name);
        QFETCH(QByteArray, request);
        QFETCH(QString, read);
        QFETCH(QString, response);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, answer);
        QFETCH(QString, logLine);
        start(setting);
        if (!response.isEmpty())
            m_controller->response = response;
        if (!answer.isNull())
            QVERIFY(writeFile(m_response, "an earlier response"));
        const QString file = m_req + QLatin1Char('/') + name;
        QVERIFY(writeFile(file, request));
        if (read.isNull()) {
            QTRY_VERIFY(logLines().contains(logged("Info", QStringLiteral("FINALIZANDO OPERACAO TEF"))));
            QTest::qWait(50);
            QVERIFY(m_controller->requests.isEmpty() && QFile::exists(file));
            return;
        }
        QTRY_COMPARE(readFile(m_status), status);
        QTRY_VERIFY(m_controller->isFinished());
        QCOMPARE(m_controller->requests, QStringList{ProtocoloSitef().parseRequest(read)});
        QVERIFY(!QFile::exists(file));
        QTRY_COMPARE(readFile(m_response), answer);
        if (!logLine.isEmpty())
            QTRY_VERIFY2(logLines().contains(logLine), qPrintable(logLine));
        QCOMPARE(QDir(m_resp).entryList(QDir::Files | QDir::Hidden),
                 answer.isNull() ? QStringList{"IntPos.Sts"} : (QStringList{"IntPos.001", "IntPos.Sts"}));
        // The Windows-1252 fallback is told exactly where a row expects it.
        const QString fallback = QStringLiteral("lido como Windows-1252");
        QCOMPARE(logLines().filter(fallback).size(), int(logLine.endsWith(fallback)));
    }

    // Three changes before the event loop runs again make one notification.
    void changesInOneNotification() {
        QVERIFY(QDir().mkpath(m_req) && writeFile(m_req + QStringLiteral("/outro.txt"), "x"));
        start();
        QVERIFY(QFile::remove(m_req + QStringLiteral("/outro.txt")));
        QVERIFY(writeFile(m_req + QStringLiteral("/0outro.txt"), "x"));
        QVERIFY(writeFile(m_request, kSale));
        QTRY_COMPARE(m_controller->requests.size(), 1);
    }

    // A request waiting at start is taken at once; one that comes during its operation, after it.
    void requestsTakenInTurn() {
        QVERIFY(QDir().mkpath(m_req) && writeFile(m_request, kSale));
        MonitoraDiretorio *monitor = create();
        m_controller->blocking = true;
        monitor->addObservadorDiretorio();
        QCOMPARE(m_controller->requests.size(), 1); // taken within addObservadorDiretorio()
        QTRY_COMPARE(readFile(m_status), kSaleStatus);
        QVERIFY(writeFile(m_request, "000-000 = CNC\n001-000 = 1235\n999-999 = 0\n"));
        QTest::qWait(100);
        QCOMPARE(m_controller->requests.size(), 1);
        m_controller->gate.release();
        QTRY_COMPARE(m_controller->requests.size(), 2);
        QVERIFY(m_controller->requests.at(1).contains(QStringLiteral("\"CNC\"")));
        QTRY_COMPARE(readFile(m_status), QByteArray("000-000 = CNC\r\n001-000 = 1235\r\n999-999 = 0\r\n"));
        m_controller->gate.release();
    }

    // A request file that is empty or has no final line yet is read again, a bounded number of
    // times; what comes meanwhile is read once, whole.
    void readRetries_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("rest"); // written once a retry was told; null: never
        QTest::addColumn<QString>("retry");   // the log line of a retry
        const QString empty = logged("Debug", QStringLiteral("Arquivo IntPos.001 vazio"));
        const QString incomplete = logged("Debug", QStringLiteral("Arquivo IntPos.001 incompleto"));
        const int split = kSale.indexOf("003-000");
        QTest::newRow("empty, then written") << QByteArray("") << kSale << empty;
        QTest::newRow("written in two goes") << kSale.left(split) << kSale.mid(split) << incomplete;
        QTest::newRow("never completed: answered as invalid")
            << kSale.left(split) << QByteArray() << incomplete;
        QTest::newRow("empty for good: left alone until written again")
            << QByteArray("") << QByteArray() << empty;
    }
    void readRetries() {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, rest);
        QFETCH(QString, retry);
        Pause::setScale(0.1); // retries 25 ms apart
        start();
        const QString file = m_request;
        QVERIFY(writeFile(file, first));
        if (!rest.isNull()) {
            QTRY_VERIFY(logLines().count(retry) >= 2);
            QVERIFY(writeFile(file, first + rest));
        } else if (first.isEmpty()) {
            // Given up: no further attempt while the file stays as it is; written again, it is read.
            QTRY_COMPARE(logLines().count(retry), MonitoraDiretorio::kMaxReadAttempts);
            QTest::qWait(Pause::scaled(250) * 5);
            QCOMPARE(logLines().count(retry), MonitoraDiretorio::kMaxReadAttempts);
            QVERIFY(m_controller->requests.isEmpty() && QFile::exists(file));
            QVERIFY(QFile::remove(file) && writeFile(file, kSale));
        }
        QTRY_COMPARE(readFile(m_status), kSaleStatus);
        const bool whole = first.isEmpty() || !rest.isNull();
        QCOMPARE(m_controller->requests, QStringList{ProtocoloSitef().parseRequest(whole ? kSale : first)});
        if (!whole)
            QCOMPARE(logLines().count(retry), MonitoraDiretorio::kMaxIncompleteReads);
        QTRY_VERIFY(m_controller->isFinished());
        QTest::qWait(100);
        QCOMPARE(m_controller->requests.size(), 1);
    }

    // A request that cannot be taken (the claim's name held: another service, no permission) is
    // never run, and told once while it stays as it is.
    void requestThatCannotBeTaken() {
        QVERIFY(QDir().mkpath(m_req + QStringLiteral("/arquivo_tef.em_andamento/x")));
        start();
        QVERIFY(writeFile(m_request, kSale));
        const QString told = QStringLiteral("Impossível tomar o arquivo %1").arg(m_request);
        QTRY_COMPARE(logLines().filter(told).size(), 1);
        QVERIFY(writeFile(m_req + QStringLiteral("/outro.txt"), "x")); // watched again: still left alone
        QTRY_VERIFY(logLines().filter(QStringLiteral("FINALIZANDO")).size() >= 2);
        QCOMPARE(logLines().filter(told).size(), 1);
        QVERIFY(m_controller->requests.isEmpty() && !QFile::exists(m_status));
        QCOMPARE(readFile(m_request), kSale);
    }

    // Missing at start, or removed later: the request directory is watched once it exists.
    void requestDirectoryWatchedOnceItExists() {
#ifdef Q_OS_WIN
        // A watched directory that is removed stays delete-pending while the watch is open.
        QSKIP("the removal of a watched directory is not reliably told on Windows (Wine)");
#endif
        MonitoraDiretorio *monitor = create();
        QVERIFY(QDir(m_req).removeRecursively());
        monitor->addObservadorDiretorio();
        const QString missing =
            logged("Error", QStringLiteral("Caminho especificado para monitoramento não existe"));
        QCOMPARE(logLines().count(missing), 1);
        for (int sale = 1; sale <= 2; ++sale) {
            QVERIFY(QDir().mkpath(m_req));
            QTest::qWait(Pause::scaled(3000) * 2);
            QVERIFY(writeFile(m_request, kSale));
            QTRY_COMPARE(m_controller->requests.size(), sale);
            QTRY_VERIFY(m_controller->isFinished());
            QVERIFY(QDir(m_req).removeRecursively());
            QTRY_COMPARE(logLines().count(missing), sale + 1);
        }
    }

    // Requests are a few hundred bytes: anything else is answered as an invalid request
    // without being read whole or followed, and removed (a link, never its target).
    void refusedRequestFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QByteArray>("status");
        const QByteArray unnamed = "000-000 = \r\n001-000 = \r\n999-999 = 0\r\n";
        const auto row = [](const char *kind, const char *reason, const QByteArray &status) {
            QTest::newRow(kind) << kind << QString::fromUtf8(reason) << status;
        };
        row("large", "maior que 65536 bytes", kSaleStatus); // 300 MB
#ifdef Q_OS_WIN
        row("link", "é um atalho do Windows", unnamed); // what QFile::link makes there
#else
        row("link", "é um link simbólico", unnamed);
#endif
        row("shortcut", "é um atalho do Windows", unnamed);
#ifndef Q_OS_WIN
        row("fifo", "não é um arquivo comum", unnamed); // opening it would block
#endif
        row("directory", "não é um arquivo comum", unnamed);
    }
    void refusedRequestFiles() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QFETCH(QByteArray, status);
        start();
        const QString target = m_dir->filePath(QStringLiteral("outro.txt"));
        const QByteArray secret = "000-000 = CRT\n001-000 = 5678\n999-999 = 0\n";
        QVERIFY(writeFile(target, secret));
        const QString made = m_dir->filePath(QStringLiteral("novo"));
        if (kind == "large") {
            // Sparse: a 300 MB file that costs nothing to make.
            QFile file(made);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kSale) == kSale.size());
            QVERIFY(file.resize(300 * 1024 * 1024));
        } else if (kind == "shortcut") {
            // A shell link's header, then what would name its target.
            QVERIFY(writeFile(made, QByteArray("L\0\0\0\x01\x14\x02\0\0\0\0\0\xc0\0\0\0\0\0\0F", 20) +
                                        target.toUtf8()));
#ifndef Q_OS_WIN
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(made).constData(), 0600), 0);
#endif
        } else {
            QVERIFY(kind == "link" ? QFile::link(target, made) : QDir().mkpath(made + QStringLiteral("/x")));
        }
        QVERIFY(QFile::rename(made, m_request));

        QTRY_COMPARE(readFile(m_status), status);
        QCOMPARE(m_controller->requests.size(), 1);
        const QJsonObject document =
            QJsonDocument::fromJson(m_controller->requests.first().toUtf8()).object();
        QCOMPARE(document.value(QLatin1String("msg_erro")).toString(),
                 "Arquivo IntPos.001 recusado: " + reason);
        QVERIFY(m_controller->requests.first().size() < 1024);
        QCOMPARE(readFile(target), secret);
        QVERIFY(!logLines().join(QLatin1Char('\n')).contains(QStringLiteral("5678")));
        // What cannot be removed is not taken again while it stays as it is.
        QCOMPARE(QFileInfo::exists(m_request), kind == "directory");
        QTRY_VERIFY(m_controller->isFinished());
        QTest::qWait(Pause::scaled(250) * 4);
        QCOMPARE(m_controller->requests.size(), 1);
    }

    // Links planted in path_out under the service's names (the sales application may write there):
    // never written through; the target stays as it is and the files land as plain files.
    void plantedLinks_data() {
        QTest::addColumn<QString>("name");
        for (const char *name : {"arquivo_tef.tmp", "IntPos.Sts", "IntPos.001"})
            QTest::newRow(name) << name;
    }
    void plantedLinks() {
        QFETCH(QString, name);
        const QString target = m_dir->filePath(QStringLiteral("config_tef.json"));
        start();
        m_controller->response = kResponse;
        const QByteArray before = readFile(target);
        QVERIFY(QDir().mkpath(m_resp) && QFile::link(target, m_resp + QLatin1Char('/') + name));
        QVERIFY(writeFile(m_request, kSale));
        QTRY_COMPARE(readFile(m_response), bridge(kResponse));
        QCOMPARE(readFile(m_status), kSaleStatus);
        QCOMPARE(readFile(target), before);
        for (const QString &file : {m_status, m_response})
            QVERIFY(!QFileInfo(file).isSymLink());
    }

    // The response directory or its files cannot be written as usual. The status file is on disk
    // before the controller starts, or the request is set aside unrun once its client no longer
    // waits; an answer is never dropped, and nothing new is taken before it is delivered; each
    // failure is told once where it happens.
    void writeFaults_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("mended"); // once the first line told is in the log
        QTest::addColumn<QStringList>("told");
        QTest::addColumn<QStringList>("files"); // the response directory in the end; empty: not run
        const QString status = logged("Error", "Impossível escrever no arquivo STS %1/IntPos.Sts (");
        const QString held = logged("Error", "Falha ao renomear arquivo para %1/IntPos.001");
        const QString inPlace = logged("Info", "Arquivo de resposta gravado diretamente em %1/IntPos.001");
        const QString blocked = logged("Error", "Respostas não podem ser entregues em %1.");
        const QString aside = logged("Error", "Requisição CRT 1234 não executada: ");
        const QStringList both{"IntPos.001", "IntPos.Sts"};
        const auto row = [](const char *name, const char *fault, bool mended, const QStringList &told,
                            const QStringList &files) {
            QTest::newRow(name) << fault << mended << told << files;
        };
        row("directory removed, back in time", "directory removed", true, {status}, both);
        row("directory gone past the client's wait", "directory removed late", false, {status, aside}, {});
        row("request older than the client's wait", "stale request", false, {aside}, {});
        row("directory removed during the sale", "removed during the sale", true,
            {blocked,
             logged("Error", "Resposta não lida pela automação, retirada (chegou a requisição CNC 1235)")},
            {"IntPos.Sts"});
#ifdef Q_OS_LINUX
        row("disk full during the sale", "disk full", true, {blocked}, both);
#endif
        row("response file held, released", "held", true, {held}, both);
        row("response file held for good", "held", false, {blocked, held}, {"arquivo_tef.tmp", "IntPos.Sts"});
        row("status file held open", "status held", false,
            {logged("Info", "Arquivo de status gravado diretamente em %1/IntPos.Sts")}, both);
        row("temporary response file blocked", "temporary blocked", false,
            {inPlace, logged("Error", "Erro ao abrir arquivo de resposta %1/arquivo_tef.tmp")}, both);
    }
    void writeFaults() {
        QFETCH(QString, fault);
        QFETCH(bool, mended);
        QFETCH(QStringList, told);
        QFETCH(QStringList, files);
        Pause::setScale(0.05);
        start();
        m_controller->response = kResponse;
        m_controller->blocking = fault == "removed during the sale" || fault == "disk full";
        const QString filler = m_resp + QStringLiteral("/filler");
#ifdef Q_OS_LINUX
        // A small file system of its own, where the machine lets the test mount one.
        if (fault == "disk full") {
            QVERIFY(QDir().mkpath(m_resp));
            if (::mount("tmpfs", QFile::encodeName(m_resp).constData(), "tmpfs", 0, "size=64k") != 0)
                QSKIP("cannot mount a tmpfs here");
            m_mounted = m_resp;
        }
#endif
        const QString temporary = m_resp + QStringLiteral("/arquivo_tef.tmp");
        if (fault.startsWith("directory removed")) {
            QVERIFY(QDir(m_resp).removeRecursively());
        } else if (fault == "held") {
            // A directory in its place stands for a file that the sales application keeps open
            // (a sharing violation on Windows): it can be neither removed nor replaced.
            QVERIFY(QDir().mkpath(m_response + QStringLiteral("/aberto")));
        } else if (fault == "status held") {
            QVERIFY(writeFile(m_status, "earlier"));
#ifdef Q_OS_WIN
            // Qt opens without FILE_SHARE_DELETE: the file may be written, not replaced.
            m_held.setFileName(m_status);
            QVERIFY(m_held.open(QIODevice::ReadOnly));
#else
            g_heldName = "/IntPos.Sts";
#endif
        } else if (fault == "temporary blocked") {
            QVERIFY(QDir().mkpath(temporary + QStringLiteral("/x")));
        }
        // Written while another operation ran; the client stops waiting 7 s after it wrote.
        const int age = fault == "stale request" ? 7000 : fault == "directory removed late" ? 6000 : 0;
        QVERIFY(writeFile(m_request, kSale));
        if (age > 0) {
            QFile request(m_request);
            QVERIFY(request.open(QIODevice::ReadWrite) &&
                    request.setFileTime(QDateTime::currentDateTime().addMSecs(-age),
                                        QFileDevice::FileModificationTime));
        }
        if (m_controller->blocking) {
            QTRY_COMPARE(readFile(m_status), kSaleStatus);
            if (fault == "disk full") {
                QFile fill(filler);
                QVERIFY(fill.open(QIODevice::WriteOnly));
                while (fill.write(QByteArray(4096, 'x')) > 0 && fill.flush()) {
                }
            } else {
                QVERIFY(QDir(m_resp).removeRecursively());
            }
            m_controller->gate.release();
        }
        QTRY_VERIFY_WITH_TIMEOUT(logLines().filter(told.first().arg(m_resp)).size() == 1, 30000);
        if (files.isEmpty()) { // set aside, never run
            QTRY_VERIFY(logLines().filter(told.last()).size() == 1);
            QVERIFY(!m_controller->isFinished() && !m_controller->isRunning() && !QFile::exists(m_status));
            QCOMPARE(m_controller->requests.size(), fault == "stale request" ? 0 : 1);
            QCOMPARE(QDir(m_req).entryList({"arquivo_tef.expirada.*"}, QDir::Files).size(), 1);
            return;
        }
        if (fault != "directory removed")
            QTRY_VERIFY(m_controller->isFinished()); // its answer waits as well
        const QByteArray next = "000-000 = CNC\n001-000 = 1235\n999-999 = 0\n";
        if (fault == "removed during the sale") {
            // Not taken while the answer before it waits; once delivered, that answer was never read.
            QVERIFY(writeFile(m_request, next));
            QTRY_VERIFY(logLines().filter(told.first().arg(m_resp)).size() == 1);
            QCOMPARE(m_controller->requests.size(), 1);
        }
        if (fault == "disk full") {
            QVERIFY(QFile::remove(filler));
        } else if (mended && fault == "held") {
            QVERIFY(QDir(m_response).removeRecursively());
        } else if (mended) {
            QVERIFY(QDir().mkpath(m_resp));
        }
        if (fault == "removed during the sale") {
            QTRY_COMPARE(m_controller->requests.size(), 2);
            QTRY_COMPARE(readFile(m_status),
                         QByteArray("000-000 = CNC\r\n001-000 = 1235\r\n999-999 = 0\r\n"));
            QVERIFY(!QFile::exists(m_response));
            m_controller->gate.release();
        } else {
            QTRY_COMPARE(readFile(files.contains("IntPos.001") ? m_response : temporary), bridge(kResponse));
            QCOMPARE(readFile(m_status), kSaleStatus);
        }
        QTRY_COMPARE(QDir(m_resp).entryList(QDir::Files | QDir::Hidden), files);
        const QStringList lines = logLines();
        for (const QString &line : told)
            QVERIFY2(lines.filter(line.arg(m_resp)).size() == 1, qPrintable(line));
        const QStringList statusLines = lines.filter(QStringLiteral("[MonitoraDiretorio] Arquivo status ["));
        QCOMPARE(statusLines.size(), fault == "removed during the sale" ? 2 : 1);
        // The library is called only once the status file is there.
        QVERIFY(lines.indexOf(statusLines.first()) < lines.indexOf(QRegularExpression(".*IntPos.001$")));
        // A temporary file that cannot be opened is told before the response text; a status file
        // held open is no trouble of the response's.
        const QString openError =
            logged("Error", "Erro ao abrir arquivo de resposta %1/arquivo_tef.tmp").arg(m_resp);
        QVERIFY(lines.indexOf(openError) <
                lines.indexOf(QRegularExpression(QStringLiteral(".*Formato SiTef: .*"))));
        if (fault == "status held")
            QVERIFY(!lines.contains(openError));
    }

private:
    MonitoraDiretorio *create(const QByteArray &extra = QByteArray()) {
        writeFile(m_dir->filePath(QStringLiteral("config_tef.json")),
                  QStringLiteral(R"({"path_in": "%1", "path_out": "%2", "file_req": "IntPos.001", )"
                                 R"("file_resp": "IntPos.Sts", "produto_tef": 1%3})")
                      .arg(m_req, m_resp, QString::fromUtf8(extra))
                      .toUtf8());
        MonitoraDiretorio *monitor = MonitoraDiretorio::instance(m_dir->path());
        m_controller = new FakeController;
        // The same four connections as the service wiring.
        connect(monitor, &MonitoraDiretorio::confJson, m_controller, &FakeController::setJsonConfigs);
        connect(monitor, SIGNAL(startTefProcess()), m_controller, SLOT(start()));
        connect(m_controller, &FakeController::responseProcessTEF, monitor,
                &MonitoraDiretorio::processResponse);
        connect(m_controller, SIGNAL(finished()), monitor, SLOT(signal_to_add_addObservadorDiretorio()));
        return monitor;
    }

    void start(const QByteArray &extra = QByteArray()) {
        create(extra)->addObservadorDiretorio();
    }

    QStringList logLines() const {
        return ::logLines(dailyLog(m_dir->filePath(QStringLiteral("logs"))));
    }

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_req;
    QString m_resp;
    QString m_request; // the request file
    QString m_status;
    QString m_response;
    FakeController *m_controller = nullptr;
    QFile m_held;      // the status file as the sales application holds it open
    QString m_mounted; // a file system the test mounted
};

QTEST_GUILESS_MAIN(TestMonitora)
#include "tst_monitora.moc"
