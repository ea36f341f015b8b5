// The real executable (ServiceProcess): start-up, one instance per machine, and stops by SIGKILL
// or SIGTERM in the middle of an operation: every request it took is answered, a request it
// did not take stays where the sales application put it, and the next start answers that one.
#include "ServiceHarness.h"
#include "controllers/platform/SharedStateDirectory.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QJsonArray>
#include <QLibraryInfo>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSharedMemory>
#include <functional>
#include <sys/stat.h>

namespace {

TefPosClient::Fields fields(const QString &operation, int id, const QString &amount = "1000") {
    return {{"000-000", operation}, {"001-000", QString::number(id)}, {"003-000", amount}, {"999-999", "0"}};
}

QByteArray request(const QString &operation, int id) {
    return TefPosClient().encode(fields(operation, id));
}

QByteArray statusOf(const QString &operation, int id) {
    return QString("000-000 = %1\r\n001-000 = %2\r\n999-999 = 0\r\n").arg(operation).arg(id).toUtf8();
}

// The sales of a power cut's run: the first is confirmed, the second undone.
struct Sale {
    const char *amount;
    int id;
    const char *settlement;
};
const Sale kCutSales[] = {{"1000", 100, "CNF"}, {"2000", 110, "NCN"}};

const char *const kLibrary[] = {"libAPITEFOrvix.so", "libQ7_Bridge.so", "libQ7_Tef01.so"};

} // namespace

// A private X server (Xvfb) and xdotool, for what only a real window shows: the keyboard of an
// operator without a mouse.
class XDisplay {
public:
    static std::unique_ptr<XDisplay> start() {
        const QString xvfb = qEnvironmentVariable("Q7_XVFB");
        if (xvfb.isEmpty() || qEnvironmentVariableIsEmpty("Q7_XDOTOOL"))
            return nullptr;
        auto x = std::make_unique<XDisplay>();
        x->server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        if (!QTest::qWaitFor([&] { return x->server.canReadLine(); }, 20000))
            return nullptr;
        x->env.insert("DISPLAY", ':' + QString(x->server.readLine()).trimmed());
        x->env.insert("QT_QPA_PLATFORM", "xcb");
        return x;
    }
    ~XDisplay() {
        server.terminate();
        server.waitForFinished(10000);
    }
    QString xdo(const QStringList &arguments) const {
        QProcess tool;
        QProcessEnvironment all = QProcessEnvironment::systemEnvironment();
        all.insert(env);
        tool.setProcessEnvironment(all);
        tool.start(qEnvironmentVariable("Q7_XDOTOOL", "xdotool"), arguments);
        tool.waitForFinished(20000);
        return QString(tool.readAllStandardOutput()).trimmed();
    }
    // Types `keys` into the visible window named `title` until `done`, again every second, since
    // keys that come before the prompt is up go nowhere.
    bool press(const QString &title, const QString &keys, const std::function<bool()> &done) const {
        const auto once = [&] {
            const QString window = xdo({"search", "--onlyvisible", "--name", title}).section('\n', 0, 0);
            if (!window.isEmpty() && xdo({"windowfocus", "--sync", window}).isEmpty())
                xdo(QStringList{"key", "--delay", "100"} + keys.split(' '));
        };
        const QDeadlineTimer deadline(60000);
        while (!done() && !deadline.hasExpired()) {
            once();
            static_cast<void>(QTest::qWaitFor(done, 1000));
        }
        return done();
    }

    QProcess server;
    QProcessEnvironment env;
};

class TestStartup : public QObject {
    Q_OBJECT

    std::unique_ptr<ServiceProcess> s;

    void make(int product, const QByteArray &scenario = "{}") {
        s = std::make_unique<ServiceProcess>(product, kLibrary[product], scenario);
    }
    TefPosClient::Result send(const QString &operation, int id) const {
        return s->client.send(fields(operation, id));
    }
    // Sends a CNF or NCN, naming the sale `sold` when given, and waits until it is settled: the
    // status file comes first, and the settlement is done when the claim goes. What went wrong, if
    // anything.
    static QString settle(const ServiceProcess &service, const char *operation, int id,
                          const QByteArray &sold) {
        TefPosClient::Fields request = fields(operation, id);
        if (!sold.isEmpty())
            request.insert(2, {"012-000", field(sold, "012-000")});
        if (service.client.send(request).status != statusOf(operation, id))
            return QString("no status for %1 %2").arg(operation).arg(id);
        const auto settled = [&] {
            return !QFile::exists(service.path("req/arquivo_tef.em_andamento"));
        };
        return QTest::qWaitFor(settled, 60000) ? QString()
                                               : QString("%1 %2 never settled").arg(operation).arg(id);
    }
    // The replacement library's books, by the sale's amount: each approval confirmed when the
    // client recorded it, else undone, once (the bridge, which cannot undo, never approves unheard);
    // each sale started once; nothing left in the journal. What disagrees, if anything. After a
    // power cut, an approval `unknown` to the service (a library that cannot be asked) may stand
    // unsettled, and a settled entry stay in the journal.
    static QString booksAgree(const ServiceFiles &service, int product, const QStringList &confirmed,
                              const QStringList &heard, const QStringList &unknown = {},
                              bool settledMayStay = false) {
        QMap<QString, QStringList> fate;
        for (const QJsonObject &done : service.calls("aprovacao", true))
            if (done["aprovada"].toBool())
                fate[done["valor"].toString()] << "approved";
        for (const QJsonObject &done : service.calls("liquidacao", true))
            fate[done["valor"].toString()] << (done["confirmar"].toInt() ? "confirmed" : "undone");
        QStringList wrong;
        for (auto it = fate.cbegin(); it != fate.cend(); ++it) {
            const QString books = it.value().join(' ');
            const QString due = product == 1 ? (heard.contains(it.key()) ? "approved" : "unheard")
                                : confirmed.contains(it.key()) ? "approved confirmed"
                                                               : "approved undone";
            if (books != due && !(unknown.contains(it.key()) && books == "approved"))
                wrong << QString("%1: %2, not %3").arg(it.key(), books, due);
        }
        QStringList started;
        for (const QJsonObject &sale : service.calls("inicio", true))
            started << sale["valor"].toString();
        if (started.size() != QSet<QString>(started.begin(), started.end()).size())
            wrong << "started twice: " + started.join(' ');
        // A cut between the library's settlement and the journal's update: the library refuses to
        // settle it again, and support is told.
        const QList<QJsonObject> settled = service.calls("liquidacao", true);
        for (const QJsonValue entry :
             QJsonDocument::fromJson(service.read("pendentes.json"))["pendentes"].toArray())
            if (!(settledMayStay &&
                  std::any_of(settled.cbegin(), settled.cend(), [&](const QJsonObject &done) {
                      return QString::number(done["sequencial"].toInt()) == entry["sequencial"].toString();
                  })))
                wrong << "left in the journal: " + entry["sequencial"].toString();
        return wrong.join("; ");
    }
    // The sales application's restart after a power cut, from what it `knew` then: a sale it read
    // it confirms (the first) or undoes (the second), unless it was told that was done already; a
    // sale it is told of only now, by a response left in path_out or by the service's recovery
    // while it still waits, it undoes; one never answered it undoes without naming it. A sale the
    // library approved a moment before the service had it on the disk (so before its response was
    // `delivered`) is beyond the service, whose recovery tells the client its result is unknown:
    // products 1 and 2 cannot ask their library about it.
    static QString recoverFromCut(ServiceProcess &after, int product, const QStringList &knew, bool delivered,
                                  const QMap<QString, QByteArray> &read, const QProcessEnvironment &display) {
        const QByteArray left = after.read("resp/IntPos.001");
        if (!left.isEmpty() && !left.trimmed().endsWith("999-999 = 0"))
            return "a half response stands in path_out";
        const QJsonObject fate = QJsonDocument::fromJson(after.read("arquivo_tef.destino")).object();
        QStringList recorded = {
            QJsonDocument::fromJson(fate["requisicao"].toString().toUtf8())["parametros"]["identificacao"]
                .toString()};
        // Delivered, and gone: the client had read it, a moment before the cut.
        const QByteArray taken = fate["estado"] == "entregando" && left.isEmpty() &&
                                         !QFile::exists(after.path("resp/arquivo_tef.tmp"))
                                     ? fate["resposta"].toString().toUtf8()
                                     : QByteArray();
        for (const QJsonValue entry :
             QJsonDocument::fromJson(after.read("pendentes.json"))["pendentes"].toArray())
            recorded << entry["id"].toString();
        const bool claimed = !QFile::remove(after.path("req/IntPos.001"));
        for (const char *stale : {"req/IntPos.tmp", "resp/IntPos.001", "resp/IntPos.Sts"})
            QFile::remove(after.path(stale));
        if (!after.startWatching("restart.log", display))
            return "no start";
        QStringList confirmed, heard, unknown;
        QString problem;
        for (const auto &[amount, id, settlement] : kCutSales) {
            if (!knew.contains(QString("sent ") + amount) || !problem.isEmpty())
                break;
            if (knew.contains(QString("read ") + amount)) {
                heard << amount;
                if (settlement == QLatin1String("CNF"))
                    confirmed << amount;
                if (!knew.contains(QString("%1 %2").arg(settlement, amount)))
                    problem = settle(after, settlement, id + 5, read[amount]);
                continue;
            }
            QByteArray response = field(left, "001-000") == QString::number(id)    ? left
                                  : field(taken, "001-000") == QString::number(id) ? taken
                                                                                   : QByteArray();
            const auto answered = [&] {
                return field(after.read("resp/IntPos.001"), "001-000") == QString::number(id);
            };
            if (response.isEmpty() && claimed) {
                if (!QTest::qWaitFor(answered, 60000))
                    return "a request taken before the cut is never answered";
                response = after.read("resp/IntPos.001");
                QFile::remove(after.path("resp/IntPos.001"));
            }
            if (field(response, "009-000") == "0")
                heard << amount;
            else if (product != 0 && !delivered && !recorded.contains(QString::number(id)))
                unknown << amount;
            problem =
                settle(after, "NCN", id + 6, field(response, "009-000") == "0" ? response : QByteArray());
        }
        return problem.isEmpty() ? booksAgree(after, product, confirmed, heard, unknown, true) : problem;
    }

private slots:
    void cleanup() { s.reset(); }

    // An invalid product, a window that cannot load (QML imports pointed nowhere), directories
    // where the service would read its own answers as requests, or that cannot be: -1. Options
    // answered before anything starts, and one it does not know.
    void endsAtStart_data() {
        QTest::addColumn<QString>("product"); // as in config_tef.json
        QTest::addColumn<QString>("in");      // path_in
        QTest::addColumn<QString>("out");     // path_out
        QTest::addColumn<QString>("log");     // the whole log; or, one line long, a line of it
        QTest::addColumn<QString>("option");  // on the command line; then `log` is its output
        QTest::addColumn<int>("exitCode");
        const QString head = "{Debug} \t\t log: 0\n{Info} \t\t Q7_PAGORA_PASSIVO\n{Info} \t\t Versão: " +
                             QString(kVersionText) + "\n";
        for (const char *product : {"5", "-5", "\"1\"", "1.5", "null", "1e+300", "2147483648", ""})
            QTest::addRow("product %s", *product ? product : "absent")
                << (*product ? QString(", \"produto_tef\": ") + product : QString()) << "req"
                << "resp"
                << head + "{Error} \t\t Produto TEF inválido: " + (*product ? product : "ausente") +
                       "; use -1, 0, 1 ou 2 em produto_tef de config_tef.json"
                << QString() << 255;
        const QString one = ", \"produto_tef\": 1", two = ", \"produto_tef\": 2";
        QTest::newRow("window that cannot load")
            << two << "req"
            << "resp"
            << "{Error} \t\t [ServiceWiring] Janela não carregada: " << QString() << 255;
        for (const char *out : {"req", "req/resp", "."})
            QTest::addRow("path_out %s", out)
                << one << "req" << out
                << QString("{Error} \t\t [ServiceWiring] path_in (req) e path_out (%1) não podem ser o mesmo "
                           "diretório nem um dentro do outro; corrija config_tef.json")
                       .arg(out)
                << QString() << 255;
        QTest::newRow("path_in a file")
            << one << "q7_pagora_passivo"
            << "resp"
            << "{Error} \t\t path_in (q7_pagora_passivo) não é um diretório; corrija config_tef.json"
            << QString() << 255;
        QTest::newRow("path_out cannot be made")
            << one << "req"
            << "q7_pagora_passivo/resp"
            << "{Error} \t\t Impossível criar path_out (q7_pagora_passivo/resp); crie o diretório ou corrija "
               "config_tef.json"
            << QString() << 255;
        for (const auto &[option, output, code] :
             {std::tuple<const char *, QString, int>{"--version",
                                                     "q7_pagora_passivo " + QString(kVersionText) + "\n", 0},
              {"--help", "  -v, --version  mostra a versão e sai", 0},
              {"--verbose", "q7_pagora_passivo: opção desconhecida: --verbose; use --help para ver as opções",
               64}})
            QTest::newRow(option) << one << "req"
                                  << "resp" << output << option << code;
    }
    void endsAtStart() {
        QFETCH(QString, product);
        QFETCH(QString, in);
        QFETCH(QString, out);
        QFETCH(QString, log);
        QFETCH(QString, option);
        QFETCH(int, exitCode);
        s = std::make_unique<ServiceProcess>(2, kLibrary[2]);
        s->writeConfig(product, in, out, ", \"log\": 0");
        if (product.endsWith(" 2"))
            QVERIFY(s->write(
                "qt.conf", "[Paths]\nPlugins=" + QLibraryInfo::location(QLibraryInfo::PluginsPath).toUtf8() +
                               "\nQml2Imports=" + s->path("no-imports").toUtf8() + "\n"));
        QProcess *process =
            s->start("service.log", {}, option.isEmpty() ? QStringList() : QStringList{option});
        QVERIFY(process->waitForFinished(30000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), exitCode);
        // Answered right away: no log, no single-instance slot.
        QVERIFY(exitCode != 0 || (!QFile::exists(s->path("service.log")) && QDir(s->path("tmp")).isEmpty()));
        const QString text = option.isEmpty() ? logLines(s->path("service.log")).join('\n')
                                              : s->read("service.log.stdout") + s->read("service.log.stderr");
        QVERIFY2(log.contains('\n') ? text == log : text.contains(log), qPrintable(text));
    }

    void oneInstancePerMachine() {
        make(1);
        // What a dead copy may leave: a lock file naming it, and System V objects at the keys of
        // this TMPDIR's files, which another directory's files may share.
        QSharedMemory stale;
        QVERIFY(s->withSlotDirectory([&] {
            const SingleInstanceGuard guard(kApplicationId);
            stale.setKey(guard.memoryKey());
            return stale.create(8) &&
                   s->write("tmp/" + QFileInfo(guard.lockPath()).fileName(), "999999999\n");
        }));
        QProcess *first = s->startWatching("first.log");
        QVERIFY(first);
        QProcess *second = s->start("second.log");
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(
            logLines(s->path("second.log")).join('\n'),
            QString(
                "{Debug} \t\t log: 0\n{Debug} \t\t Diretórios já existentes\n{Info} \t\t Q7_PAGORA_PASSIVO\n"
                "{Info} \t\t Versão: " +
                QString(kVersionText) + "\n{Info} \t\t Uma instância já está aberta (PID " +
                (underWine() ? QString("desconhecido") : QString::number(first->processId())) + ")"));
        QCOMPARE(first->state(), QProcess::Running);
        // A holder killed without releasing the slot does not block the next start.
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QProcess *third = s->startWatching("third.log");
        QVERIFY(third);
        // SIGTERM (a close on Windows) when idle: a clean exit that unloads the library and frees
        // the slot.
        s->stopPolitely(third);
        QVERIFY(third->waitForFinished(30000));
        QCOMPARE(third->exitStatus(), QProcess::NormalExit);
        QCOMPARE(third->exitCode(), 0);
        QVERIFY(s->logged("{Info} \t\t [Base_Controller] Destruído", "third.log"));
        QVERIFY(underWine() || !s->slotTaken());
    }

    // The installed service's state directory, setgid and the group's: a file of its own left by an
    // older start, and one it makes now (through a temporary file), are the group's to replace.
    void sharedStateDirectory_data() {
        QTest::addColumn<int>("directoryMode");
        QTest::addColumn<QString>("modes"); // the old file's, the new one's
        QTest::newRow("shared") << 02770 << "664 664";
        QTest::newRow("not shared: as they were") << 0770 << "644 644";
    }
    void sharedStateDirectory() {
        QFETCH(int, directoryMode);
        QTemporaryDir dir;
        const auto restore = qScopeGuard([mask = ::umask(022)] { ::umask(mask); });
        QVERIFY(writeFile(dir.filePath("pendentes.json"), "{}"));
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), mode_t(directoryMode)), 0);
        QCOMPARE(platform::shareWithGroup(dir.path()), QStringList());
        QSaveFile made(dir.filePath("arquivo_tef.destino"));
        QVERIFY(made.open(QIODevice::WriteOnly) && made.commit());
        QStringList modes;
        for (const char *name : {"pendentes.json", "arquivo_tef.destino"}) {
            struct stat info {};
            QCOMPARE(::stat(QFile::encodeName(dir.filePath(name)).constData(), &info), 0);
            modes << QString::number(info.st_mode & 0777, 8);
        }
        QTEST(modes.join(' '), "modes");
    }

    // A second service on the same request directory, with a slot of its own, says so and ends;
    // the first runs each request once.
    void twoServicesOneDirectory() {
        make(1);
        QVERIFY(s->startWatching());
        QVERIFY(QDir().mkpath(s->path("tmp2")));
        QProcessEnvironment slot;
        slot.insert("TMPDIR", s->path("tmp2"));
        QProcess *second = s->start("second.log", slot);
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitCode(), 255); // -1
        QVERIFY(s->logged("{Error} \t\t [ServiceWiring] Outro serviço monitora req; este serviço encerra",
                          "second.log"));
        QVERIFY(!s->logged("Monitoramento iniciando", "second.log"));
        for (int id = 60; id < 64; ++id)
            QCOMPARE(send("CRT", id).status, statusOf("CRT", id));
        QCOMPARE(s->calls("IniciaVenda").size(), 4);
    }

    // A technician's commands change no file and end with 0 only when all is well; what they print
    // but "ok: ..." lines ($DIR: the service's directory).
    void supportCommands_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("extra");      // more of config_tef.json, after its five keys
        QTest::addColumn<QByteArray>("journal"); // pendentes.json; empty: none
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("lines");
        const QByteArray two = R"({"pendentes": [{"sequencial": "17", "id": "4711", "controle": "000123",
            "nsu": "998877", "adicionado": "2026-12-08T09:15:02", "respondida": true, "decisao": 1},
            {"sequencial": "18", "id": "4712", "nsu": "9", "adicionado": "2026-12-08T09:20:40"}]})";
        const QString v = "--verificar";
        QTest::newRow("all well") << v << 2 << "req"
                                  << "resp" << QString() << two << 0 << "";
        QTest::newRow("product 5") << v << 5 << "req"
                                   << "resp" << QString() << QByteArray() << 1
                                   << "ERRO: Produto TEF inválido: 5; use -1, 0, 1 ou 2 em produto_tef de "
                                      "config_tef.json";
        QTest::newRow("path_in a file") << v << 2 << "q7_pagora_passivo"
                                        << "resp" << QString() << QByteArray() << 1
                                        << "ERRO: path_in (q7_pagora_passivo) não é um diretório; corrija "
                                           "config_tef.json";
        QTest::newRow("path_in is path_out") << v << 2 << "req"
                                             << "req" << QString() << QByteArray() << 1
                                             << "ERRO: path_in (req) e path_out (req) não podem ser o mesmo "
                                                "diretório nem um dentro do outro; corrija config_tef.json";
        QTest::newRow("library missing")
            << v << 1 << "req"
            << "resp" << QString() << QByteArray() << 1
            << "ERRO: biblioteca de pagamento $DIR/libQ7_Bridge.so não encontrada; "
               "instale-a ali ou corrija produto_tef em config_tef.json";
        QTest::newRow("journal not JSON") << v << 2 << "req"
                                          << "resp" << QString() << QByteArray("{") << 1
                                          << "ERRO: diário $DIR/pendentes.json ilegível (unterminated "
                                             "object); o serviço o poria de lado sem "
                                             "acertar as transações nele: restaure-o de uma cópia, ou "
                                             "confira-as com a rede, antes de iniciar "
                                             "o serviço";
        QTest::newRow("settings unknown, log_dias not a number")
            << v << 2 << "req"
            << "resp"
            << R"(, "log_dias": -1, "compatibilidade": "sitef")" << QByteArray() << 1
            << "ERRO: Compatibilidade desconhecida: sitef; use padrao ou tefdial em compatibilidade de "
               "config_tef.json\n"
               "ERRO: Retenção de log inválida: -1; use em log_dias de config_tef.json um número inteiro "
               "de dias, de 0 (nunca remover) a 3650";
        QTest::newRow("not JSON") << v << 2 << "req"
                                  << "resp"
                                  << "," << QByteArray() << 1
                                  << "ERRO: Arquivo de configuração não é JSON (erro na posição 120) "
                                     "($DIR/config_tef.json); corrija-o: o serviço o renomearia para "
                                     "config_tefOLD.json e criaria um padrão";
        QTest::newRow("two pending")
            << "--pendentes" << 2 << "req"
            << "resp" << QString() << two << 0
            << "sequencial  identificação  NSU     controle  adicionado           "
               "respondida  decisão\n"
               "17          4711           998877  000123    2026-12-08T09:15:02  sim"
               "         confirmar\n"
               "18          4712           9                 2026-12-08T09:20:40  sim"
               "         -";
        QTest::newRow("none pending")
            << "--pendentes" << 0 << "req"
            << "resp" << QString() << QByteArray() << 0 << "Nenhuma transação pendente";
    }
    void supportCommands() {
        QFETCH(QString, command);
        QFETCH(int, product);
        QFETCH(QString, in);
        QFETCH(QString, out);
        QFETCH(QString, extra);
        QFETCH(QByteArray, journal);
        QFETCH(int, status);
        make(2);
        s->writeConfig(product, in, out, ", \"log\": 0" + extra);
        QVERIFY(journal.isEmpty() || s->write("pendentes.json", journal));
        const auto files = [this] {
            QStringList found;
            for (QDirIterator it(s->dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                 QDirIterator::Subdirectories);
                 it.hasNext();)
                found << it.next();
            return found.filter(QRegularExpression("(?<!\\.stderr|\\.stdout)$"));
        };
        const QStringList before = files();
        QProcess *run = s->start("support.log", {}, {command});
        QVERIFY(run->waitForFinished(30000));
        QCOMPARE(files(), before);
        QCOMPARE(run->exitCode(), status);
        const QStringList printed =
            logText(s->read("support.log.stdout")).split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
        QTEST(printed.filter(QRegularExpression("^(?!ok: )"))
                  .join('\n')
                  .replace(QRegularExpression("(Z:)?" + QRegularExpression::escape(s->dir.path())), "$DIR"),
              "lines");
    }

    // SIGKILL at a moment of a sale (or of a confirmation), then a restart and the sales
    // application's own recovery at its start: what it recorded it confirms, a sale it is told of
    // only now it undoes, one never answered it undoes without naming it. The replacement
    // library's books must then agree: each approval confirmed if recorded, else undone, once
    // (the bridge, which cannot undo, never approves unheard); no request run twice or left
    // without its answer. Product 0 needs an operator at its window: an X display.
    // Q7_KILL_SWEEP=N plays N sales a row.
    void killPoints_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("moment");
        QTest::addColumn<QString>("held"); // the library call under way at that moment, held there
        const char *const opening[] = {"OrvixTEF_IniciarOperacaoTEF", "IniciaVenda", "IniciarOperacaoTEF"};
        const char *const step[] = {"OrvixTEF_RealizarPagamentoTEF", "IniciaVenda", "RealizarPagamentoTEF"};
        const char *const settling[] = {"OrvixTEF_ConfirmarOperacaoTEF", "", "RecuperarOperacaoTEF"};
        for (int product : {1, 2, 0}) {
            const auto row = [product](const char *moment, const char *held) {
                QTest::addRow("%d %s", product, moment) << product << QString(moment) << QString(held);
            };
            row("request claimed", "");
            row("status written", opening[product]);
            row("library call running", step[product]);
            row("answer decided", "");
            row("response written", "");
            row("CNF claimed", settling[product]);
        }
        QTest::addRow("2 CNF between two settlements") << 2 << "CNF between two settlements"
                                                       << "";
        // A sale told, as the first card of a split payment, waits for its CNF across the second.
        QTest::addRow("0 second sale, library call running") << 0 << "second sale" << step[0];
    }
    void killPoints() {
        QFETCH(int, product);
        QFETCH(QString, moment);
        QFETCH(QString, held);
        std::unique_ptr<XDisplay> x;
        if (product == 0 && !(x = XDisplay::start()))
            QSKIP("needs Xvfb and xdotool, named by Q7_XVFB and Q7_XDOTOOL");
        const QProcessEnvironment display = x ? x->env : QProcessEnvironment();
        make(product);
        QProcess *service = s->startWatching("service.log", display);
        QVERIFY(service);
        // Product 0's operator: debit in the sale menu, a "1" for the card's last digits.
        const auto waitFor = [&](const std::function<bool()> &done) {
            return x ? x->press("Orvix Pay - Pagora", "1 Return", done) : QTest::qWaitFor(done, 60000);
        };
        const QString claim = s->path("req/arquivo_tef.em_andamento");
        const bool confirming = moment.startsWith("CNF");
        QMap<QString, QByteArray> recorded; // amount -> its approved response, to be confirmed
        QStringList confirmed;              // amounts it recorded
        QStringList heard;                  // amounts it was told were approved
        const int sales = qMax(1, qEnvironmentVariableIntValue("Q7_KILL_SWEEP"));
        for (int n = 0, id = 100; n < sales; ++n, id += 10) {
            const QString amount = QString::number(1000 + n);
            for (int i = 0; (confirming || moment == "second sale") && i < (moment.contains("two") ? 2 : 1);
                 ++i) {
                Exchange sold(s->client, fields("CRT", id + i, amount + QString::number(i)));
                QVERIFY(waitFor([&] { return sold.done(); }));
                QCOMPARE(sold.result().outcome, TefPosClient::Outcome::Approved);
                recorded[amount + QString::number(i)] = sold.result().response;
            }
            const int calls = s->calls(held).size();
            s->setScenario(moment.contains("two") ? R"({"demoraMs": {"ConfirmarOperacaoTEF": 1500}})"
                           : held.isEmpty()       ? "{}"
                                            : QString(R"({"demoraMs": {"%1": 60000}})").arg(held).toUtf8());
            for (const char *stale :
                 {"resp/IntPos.001", "resp/IntPos.Sts"}) // given again after the last stop
                QFile::remove(s->path(stale));
            QVERIFY(s->write("req/IntPos.tmp",
                             s->client.encode(fields(confirming ? "CNF" : "CRT", id + 5, amount))) &&
                    QFile::rename(s->path("req/IntPos.tmp"), s->path("req/IntPos.001")));
            QVERIFY2(waitFor([&] {
                         if (moment == "status written" && !QFile::exists(s->path("resp/IntPos.Sts")))
                             return false;
                         if (!held.isEmpty())
                             return s->calls(held).size() > calls;
                         if (moment.contains("claimed"))
                             return QFile::exists(claim);
                         if (moment.contains("two")) // the first one off the journal
                             return QJsonDocument::fromJson(s->read("pendentes.json"))["pendentes"]
                                        .toArray()
                                        .size() == 1;
                         return moment == "answer decided"
                                    ? s->read("arquivo_tef.destino").contains("decidida")
                                    : QFile::exists(s->path("resp/IntPos.001"));
                     }),
                     qPrintable(moment));
            service->kill();
            service->waitForFinished();
            s->clearScenario();
            // What it read before the stop it knows; then its own restart clears stale files, and a
            // request still there was never taken.
            QByteArray response = s->read("resp/IntPos.001");
            const bool taken = !QFile::remove(s->path("req/IntPos.001"));
            for (const char *stale : {"resp/IntPos.001", "resp/IntPos.Sts"})
                QFile::remove(s->path(stale));
            service = s->startWatching(QString("restart%1.log").arg(n), display);
            QVERIFY(service);
            if (field(response, "009-000") == "0") {
                recorded[amount] = response;
            } else if (!confirming && taken) {
                // Answered by the recovery, before anything else.
                response = s->read("resp/IntPos.001");
                QCOMPARE(field(response, "001-000"), QString::number(id + 5));
                QVERIFY(QFile::remove(s->path("resp/IntPos.001")));
                if (field(response, "009-000") == "0")
                    QCOMPARE(settle(*s, "NCN", id + 6, response), QString());
            } else if (!taken) {
                QCOMPARE(settle(*s, "NCN", id + 6, QByteArray()), QString());
            }
            if (field(response, "009-000") == "0")
                heard << amount;
            for (auto it = recorded.cbegin(); it != recorded.cend(); ++it)
                QCOMPARE(settle(*s, "CNF", id + 7, it.value()), QString());
            confirmed << recorded.keys();
            heard << recorded.keys();
            recorded.clear();
        }
        QCOMPARE(booksAgree(*s, product, confirmed, heard), QString());
        qInfo("%d sales", sales);
    }

    // A power cut at every write of a sale and its CNF, then of a second sale and its NCN: the
    // recorder preloaded into the service (powercut/PowerCut.cpp) writes down each state the disk
    // may be left in. A service started on each plays it out with the sales application's recovery
    // (as above, from what the client knew at that instant), and the books must agree the same way;
    // no half response may stand in path_out as an answer.
    void powerCuts_data() {
        QTest::addColumn<int>("product");
        for (int product : {1, 2, 0})
            QTest::addRow("%d", product) << product;
    }
    void powerCuts() {
        QFETCH(int, product);
        if (!qEnvironmentVariableIsSet("Q7_POWER_CUTS"))
            QSKIP(
                "a few minutes a product: run by the tst_startup_power_cuts tests, or with Q7_POWER_CUTS=1");
        std::unique_ptr<XDisplay> x;
        if (product == 0 && !(x = XDisplay::start()))
            QSKIP("needs Xvfb and xdotool, named by Q7_XVFB and Q7_XDOTOOL");
        const QProcessEnvironment display = x ? x->env : QProcessEnvironment();
        QProcessEnvironment env = display;
        const auto waitFor = [&](const std::function<bool()> &done) {
            return x ? x->press("Orvix Pay - Pagora", "1 Return", done) : QTest::qWaitFor(done, 60000);
        };
        QTemporaryDir cuts;
        make(product);
        env.insert("LD_PRELOAD", Q7_POWER_CUT);
        env.insert("Q7_CUT_ROOT", s->dir.path());
        env.insert("Q7_CUT_OUT", cuts.path());
        env.insert("ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        QFile points(cuts.filePath("points"));
        const auto mark = [&](const QString &what) {
            QVERIFY(points.open(QIODevice::Append) && points.write("C " + what.toUtf8() + '\n') > 0);
            points.close();
        };
        // The sales: the first confirmed, the second undone.
        QMap<QString, QByteArray> read; // amount -> its approved response, as the client read it
        QVERIFY(s->startWatching("service.log", env));
        for (const auto &[amount, id, settlement] : kCutSales) {
            mark(QString("sent %1").arg(amount));
            Exchange sold(s->client, fields("CRT", id, amount));
            QVERIFY(waitFor([&] { return sold.done(); }));
            QCOMPARE(sold.result().outcome, TefPosClient::Outcome::Approved);
            read[amount] = sold.result().response;
            mark(QString("read %1").arg(amount));
            QCOMPARE(settle(*s, settlement, id + 1, read[amount]), QString());
            mark(QString("%1 %2").arg(settlement, amount));
        }
        QVERIFY(points.open(QIODevice::ReadOnly));
        const QStringList log = QString(points.readAll()).split('\n');
        points.close();
        QStringList knew; // what the client knew at each cut
        QSet<QByteArray> played;
        QStringList failures;
        int cutCount = 0;
        bool sweeping = true;   // the second sale's own points are the first's again
        bool delivered = false; // the sale in flight has its response in path_out
        for (const QString &line : log) {
            if (line.startsWith("C "))
                knew << line.mid(2);
            if (line.startsWith("C sent ") || line.startsWith("C read "))
                sweeping = line != QString("C sent ") + kCutSales[1].amount;
            delivered = !line.startsWith("C sent ") && (delivered || line.endsWith("/resp/IntPos.001"));
            if (!line.startsWith("S ") || !sweeping)
                continue;
            const QString cut = cuts.filePath(line.section(' ', 1, 1));
            for (const char *variant : {"undone", "done"}) {
                ServiceProcess after(product, kLibrary[product]);
                QByteArray state = knew.join(',').toUtf8() + (delivered ? " delivered" : "");
                QStringList sizes; // for the report
                QDirIterator files(cut + '/' + variant, QDir::Files, QDirIterator::Subdirectories);
                while (files.hasNext()) {
                    const QString name = files.next().mid(cut.size() + strlen(variant) + 2);
                    state += '\0' + name.toUtf8() + '\0' + readFile(files.filePath());
                    sizes << QString("%1 %2").arg(name).arg(files.fileInfo().size());
                    QVERIFY(after.write(name, readFile(files.filePath())));
                }
                QVERIFY(after.write("calls.jsonl", readFile(cut + "/calls.jsonl")));
                state += readFile(cut + "/calls.jsonl");
                if (Q_UNLIKELY(played.contains(state)))
                    continue;
                played << state;
                ++cutCount;
                const QString where = QString("cut %1 %2 (%3), the client knew: %4; files: %5")
                                          .arg(line.section(' ', 1, 1), variant, line.section(' ', 2),
                                               knew.join(", "), sizes.join(", "));
                const QString problem = recoverFromCut(after, product, knew, delivered, read, display);
                if (!problem.isEmpty()) {
                    failures << where + ": " + problem;
                    qInfo("%s", qPrintable(failures.last()));
                }
            }
        }
        qInfo("%d states after a cut, of %d points; %d wrong", cutCount,
              int(log.filter(QRegularExpression("^S ")).size()), int(failures.size()));
        QVERIFY(failures.isEmpty());
    }

    // SIGTERM (on Windows: the end of the session) while an operation runs and the next request
    // already waits: the operation is stopped as "CANCELAR" would and answered; the waiting
    // request is neither taken nor passed to the library, and the next start answers it, unless
    // the stop outlasted the client's wait for its status: then it is set aside unrun.
    void stoppedMidOperation_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QString>("busy");       // the call after which the operation is under way
        QTest::addColumn<QString>("waiting");    // the second request
        QTest::addColumn<QString>("secondCall"); // what the second request makes the library do
        QTest::addColumn<bool>("approved");
        const auto row = [](const char *name, int product, const char *scenario, const char *busy,
                            const char *waiting, const char *secondCall, bool approved) {
            QTest::newRow(name) << product << QByteArray(scenario) << busy << waiting << secondCall
                                << approved;
        };
        // Approvals that come well into the stop are answered as such, without the closing pause.
        row("1 library approves 8 s into the stop", 1, R"({"demoraMs": {"IniciaVenda": 8000}})",
            "IniciaVenda", "CRT", "IniciaVenda", true);
        row("2 library approves 8 s into the stop", 2,
            R"({"demoraMs": {"RealizarPagamentoTEF": 8000}, "RealizarPagamentoTEF": [{"codigo": 0,
                "mensagem": "", "tef": {"resultadoTransacao": "0", "sequencial": "1"}}]})",
            "RealizarPagamentoTEF", "CRT", "IniciarOperacaoTEF", true);
        row("2 waiting for the operator", 2,
            R"({"RealizarPagamentoTEF": [{"codigo": 0, "mensagem": "", "tef": {"automacao_coleta_tipo": "N",
                "automacao_coleta_retorno": "0", "automacao_coleta_sequencial": "1"}}]})",
            "RealizarPagamentoTEF", "CNF", "RecuperarOperacaoTEF", false);
        row("0 waiting for the operator", 0, "{}", "OrvixTEF_IniciarOperacaoTEF", "CNF",
            "OrvixTEF_ConfirmarOperacaoTEF", false);
    }
    void stoppedMidOperation() {
        QFETCH(int, product);
        QFETCH(QByteArray, scenario);
        QFETCH(QString, busy);
        QFETCH(QString, waiting);
        QFETCH(QString, secondCall);
        QFETCH(bool, approved);
        make(product, scenario);
        QProcess *first = s->startWatching();
        QVERIFY(first);
        QVERIFY(s->write("req/IntPos.001", request("CRT", 11)));
        QTRY_VERIFY_WITH_TIMEOUT(s->calls(busy).size() == 1, 30000);
        const int callsBefore = s->calls(secondCall).size();
        QVERIFY(s->write("req/IntPos.001", request(waiting, 12)));

        if (underWine()) {
            const QByteArray told = windowsHelper({"endsession"});
            QVERIFY2(told.contains("query answered 1"), told.constData());
            // Windows may end the process as soon as the handler returns: the answer is there by then.
            QVERIFY(QFile::exists(s->path("resp/IntPos.001")));
        } else {
            first->terminate();
        }
        QVERIFY(first->waitForFinished(30000));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        QVERIFY(underWine() || !s->slotTaken());
        // The controller was destroyed, so its library was unloaded.
        QVERIFY(s->logged("{Info} \t\t [Base_Controller] Destruído"));

        // The first request is answered, approved only when the library approved it.
        const QByteArray response = s->read("resp/IntPos.001");
        QCOMPARE(field(response, "001-000") + (field(response, "009-000") == "0" ? " approved" : ""),
                 QString(approved ? "11 approved" : "11"));
        // The second one was not taken.
        QCOMPARE(s->read("req/IntPos.001"), request(waiting, 12));
        QCOMPARE(s->calls(secondCall).size(), callsBefore);

        QVERIFY(QFile::remove(s->path("resp/IntPos.001")));
        s->clearScenario();
        QFile next(s->path("req/IntPos.001"));
        if (!approved) // the client still waits: as written just now
            QVERIFY(next.open(QIODevice::ReadWrite) &&
                    next.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime));
        next.close();
        s->start("second.log");
        if (approved) { // the stop took 8 s: past the client's 7 s
            QTRY_VERIFY_WITH_TIMEOUT(
                s->logged(QString("Requisição %1 12 não executada").arg(waiting), "second.log"), 30000);
            QVERIFY(s->read("resp/IntPos.Sts") == statusOf("CRT", 11) &&
                    !QFile::exists(s->path("req/IntPos.001")));
            QCOMPARE(s->calls(secondCall).size(), callsBefore);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(s->read("resp/IntPos.Sts"), statusOf(waiting, 12), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(s->calls(secondCall).size(), callsBefore + 1, 30000);
        QVERIFY(!QFile::exists(s->path("req/IntPos.001")));
    }

    // The Windows build under Wine (scripts/build-windows): a sale of each product from request to
    // response, product 0's answered with keys in its window; a status file the sales application
    // holds open, which Windows refuses to replace: the service writes it in place.
    void windowsLane_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<bool>("statusHeld");
        QTest::newRow("0 sale answered in the window") << 0 << false;
        QTest::newRow("1 sale") << 1 << false;
        QTest::newRow("2 sale") << 2 << false;
        QTest::newRow("1 status file held open") << 1 << true;
    }
    void windowsLane() {
        QFETCH(int, product);
        QFETCH(bool, statusHeld);
        if (!underWine())
            QSKIP("the Windows build under Wine: scripts/build-windows runs it");
        make(product);
        QProcess *service = s->startWatching();
        QVERIFY(service);
        QProcess holder;
        if (statusHeld) {
            QVERIFY(s->write("resp/IntPos.Sts", "earlier"));
            holder.start("wine",
                         {qEnvironmentVariable("Q7_STOP_SENDER"), "hold", s->path("resp/IntPos.Sts")});
            QVERIFY(holder.waitForReadyRead(60000) && holder.readLine().trimmed() == "held");
            QVERIFY(s->write("req/IntPos.001", request("ATV", 23)));
            QTRY_COMPARE_WITH_TIMEOUT(s->read("resp/IntPos.Sts"), statusOf("ATV", 23), 30000);
            // Logged just after the write the line above saw.
            QTRY_VERIFY_WITH_TIMEOUT(s->logged("Arquivo de status gravado diretamente em"), 30000);
            return holder.closeWriteChannel();
        }
        Exchange sale(s->client, fields("CRT", 21));
        if (product == 0) {
            // The lane's own display. Under Wine the window takes keys a while after it is shown
            // and active: Return on the menu's first row (debit) until the library has the
            // answer, then the card's digits until the sale is answered.
            const XDisplay x;
            QVERIFY(x.press("Orvix Pay - Pagora", "Return",
                            [&] { return s->calls("OrvixTEF_RealizarPagamentoTEF").size() >= 2; }));
            QVERIFY(x.press("Orvix Pay - Pagora", "1 2 3 4 Return", [&] { return sale.done(); }));
        }
        QTRY_VERIFY_WITH_TIMEOUT(sale.done(), 60000);
        QCOMPARE(sale.result().status, statusOf("CRT", 21));
        QCOMPARE(sale.result().outcome, TefPosClient::Outcome::Approved);
        if (product == 0) {
            const QJsonDocument last = QJsonDocument::fromJson(
                s->calls("OrvixTEF_RealizarPagamentoTEF").last()["captura"].toString().toUtf8());
            // The digits typed, or those of them the field was up for.
            const QString digits = last["Dados"]["Digitos"].toString();
            QVERIFY(!digits.isEmpty() && QString("1234").endsWith(digits));
        }
        s->stopPolitely(service);
        QVERIFY(service->waitForFinished(30000) && service->exitCode() == 0);
    }

    // The installer under Wine, silent: the service started from the installed folder answers an
    // ATV; the uninstaller removes what was installed and keeps the configuration, the journal
    // and the library a store puts there, unless /PURGE asks for the first two.
    void windowsInstaller_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("kept") << "/S"
                              << QStringList{"config_tef.json", "pendente_orvix.json", "pendentes.json",
                                             "Q7_Bridge.dll"};
        QTest::newRow("purged") << "/PURGE" << QStringList{"Q7_Bridge.dll"};
    }
    void windowsInstaller() {
        QFETCH(QString, option);
        QFETCH(QStringList, left);
        if (!underWine())
            QSKIP("the Windows build under Wine: scripts/build-windows runs it");
        const auto wine = [](const QStringList &arguments) {
            QProcess process;
            process.start("wine", arguments);
            return process.waitForFinished(180000) && process.exitCode() == 0;
        };
        QVERIFY(wine({qEnvironmentVariable("Q7_WINDOWS_INSTALLER"), "/S"}));
        const QDir users(qEnvironmentVariable("WINEPREFIX") + "/drive_c/users");
        const QString user = users.filePath(users.entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                                .filter(QRegularExpression("^(?!Public$)"))
                                                .value(0));
        const QDir installed(user + "/AppData/Local/Programs/q7_pagora_passivo");
        const QStringList links{
            user + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Orvix Pagora.lnk",
            user + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/StartUp/Orvix Pagora.lnk"};
        QVERIFY(QFile::exists(links[0]) && QFile::exists(links[1]));

        ServiceFiles files;
        QVERIFY(QDir().mkpath(files.client.requestDir) && QDir().mkpath(files.client.responseDir));
        files.writeConfig(1, "Z:" + files.client.requestDir, "Z:" + files.client.responseDir, "");
        QVERIFY(QFile::rename(files.path("config_tef.json"), installed.filePath("config_tef.json")));
        // Both products' journals, with transactions that a purge removes (counting them is shown
        // only in the uninstaller's window).
        for (const char *journal : {"pendentes.json", "pendente_orvix.json"})
            QVERIFY(writeFile(installed.filePath(journal),
                              R"({"pendentes": [{"sequencial": "1"}, {"sequencial": "2"}]})"));
        QVERIFY(QFile::copy(qEnvironmentVariable("Q7_WINDOWS_BIN") + "/Q7_Bridge.dll",
                            installed.filePath("Q7_Bridge.dll")));
        QProcess service;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        service.setProcessEnvironment(environment);
        service.start("wine", {installed.filePath("q7_pagora_passivo.exe")});
        files.client.statusTimeoutMs = 60000;
        QCOMPARE(files.client.send(fields("ATV", 31)).status, statusOf("ATV", 31));
        // The installed tefpos, with the installed folder's DLLs alone, is answered too: with it a
        // technician settles a pending sale by hand. (Its --version shows a message box here.)
        QProcess tefpos;
        tefpos.start("wine", {installed.filePath("tefpos.exe"), "--config",
                              "Z:" + installed.filePath("config_tef.json"), "--status-timeout", "60",
                              "--response-timeout", "60", "ATV"});
        QVERIFY(tefpos.waitForFinished(180000) && tefpos.exitCode() == 0);
        QVERIFY(!windowsHelper({"close"}).isNull() && service.waitForFinished(60000) &&
                service.exitCode() == 0);

        QVERIFY(wine({installed.filePath("uninstall.exe"), "/S", option}));
        // The uninstaller runs on from a copy of itself.
        QTRY_COMPARE_WITH_TIMEOUT(installed.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), left, 60000);
        QVERIFY(!QFile::exists(links[0]) && !QFile::exists(links[1]));
        // The uninstaller's copy may still be at its last step, removing the folder once empty.
        QVERIFY(QDir(installed).removeRecursively() || !QFileInfo::exists(installed.path()));
    }

    // Keyboard only, in a real X window: a stray Tab must not take the keys away from the prompt.
    void keyboardAnswersInARealWindow() {
        const std::unique_ptr<XDisplay> x = XDisplay::start();
        if (!x)
            QSKIP("needs Xvfb and xdotool, named by Q7_XVFB and Q7_XDOTOOL");
        make(2, R"({"RealizarPagamentoTEF": [
            {"codigo": 0, "tef": {"mensagemResultado": "DIGITE O CODIGO", "automacao_coleta_tipo": "N",
             "automacao_coleta_retorno": "0", "automacao_coleta_sequencial": "1"}},
            {"codigo": 0, "tef": {"resultadoTransacao": "0", "sequencial": "1"}}]})");
        // Waiting before the start: the window, otherwise built after the monitor watches, must
        // be whole before this request's prompt reaches it.
        QVERIFY(s->write("req/IntPos.001", request("CRT", 18)));
        QProcess *service = s->start("service.log", x->env);
        QTRY_VERIFY_WITH_TIMEOUT(s->logged("automacao_coleta_tipo"), 30000);
        QVERIFY(
            x->press("Orvix Pay - Pagora", "Tab 4 3 2 1 Return", [&] { return !s->collected().isEmpty(); }));
        QCOMPARE(s->collected(), QString("|4321"));
        QTRY_VERIFY_WITH_TIMEOUT(s->read("resp/IntPos.001").contains("009-000 = 0"), 20000);
        service->terminate();
        QVERIFY(service->waitForFinished(30000));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
