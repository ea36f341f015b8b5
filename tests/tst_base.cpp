#include "TestFiles.h"
#include "base/ConfigTef.h"
#include "base/Log.h"
#include "base/Version.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

// The ground floor: log lines, their files and masking; config_tef.json.
namespace {

QString info(const char *text) {
    return logLine("Info", QString::fromUtf8(text));
}
QString debug(const char *text) {
    return logLine("Debug", QString::fromUtf8(text));
}
QString error(const char *text) {
    return logLine("Error", QString::fromUtf8(text));
}

QByteArray config(const char *extra) {
    return QByteArray(R"({"path_in": "req", "path_out": "resp", "file_req": "IntPos.001", )"
                      R"("file_resp": "IntPos.Sts")") +
           extra + '}';
}

} // namespace

class TestBase : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_clienteExisted = QFileInfo::exists(QStringLiteral("C:/Cliente"));
        m_dir.reset(new QTemporaryDir);
        QVERIFY(QDir::setCurrent(m_dir->path()) && QDir().mkpath(QStringLiteral("logs")));
        qunsetenv("Q7_LOG");
        qputenv("Q7_LOG_PATH", m_dir->filePath(QStringLiteral("logs")).toLocal8Bit());
    }
    void cleanup() {
#ifdef Q_OS_WIN
        // The defaults are absolute on Windows: what a row made there goes, and only that.
        if (!m_clienteExisted) {
            QDir(QStringLiteral("C:/Cliente")).rmdir(QStringLiteral("Req"));
            QDir(QStringLiteral("C:/Cliente")).rmdir(QStringLiteral("Resp"));
            QDir().rmdir(QStringLiteral("C:/Cliente"));
        }
#endif
        qunsetenv("Q7_LOG");
        qunsetenv("Q7_LOG_PATH");
        Log::setRetention(Log::Retention());
        QDir::setCurrent(QDir::tempPath());
    }

    void formatLine_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("marker");
        QTest::newRow("warning") << 1 << "{Warning} \t msg";
        QTest::newRow("fatal") << 3 << "{Fatal} \t\t msg";
        QTest::newRow("unknown level: header alone") << 5 << "";
    }
    void formatLine() {
        QFETCH(int, level);
        QFETCH(QString, marker);
        QCOMPARE(Log::formatLine(level, QStringLiteral("msg"), QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9))),
                 QStringLiteral("{05/03/26 14:07:09}{Q7_PAGORA_PASSIVO}") + marker);
    }

    // Every call appends the same masked line to Q7_LOG and to the day's file in Q7_LOG_PATH,
    // and but for Log::write's to the console.
    void files_data() {
        QTest::addColumn<QString>("single"); // Q7_LOG
        QTest::addColumn<QString>("daily");  // Q7_LOG_PATH
        QTest::addColumn<QString>("told");   // once, on standard error
        QTest::newRow("both files") << QString("single.txt") << QString("logs") << QString();
        QTest::newRow("Q7_LOG a directory: the day's file still written")
            << QString(".") << QString("logs")
            << "Q7_LOG (.) não pode ser aberto para escrita; as linhas de log não são gravadas nele: indique "
               "um arquivo que o serviço possa escrever";
        QTest::newRow("a missing daily directory is not created")
            << QString("single.txt") << QString("absent")
            << "Q7_LOG_PATH (absent) não é um diretório onde o serviço possa escrever; as linhas de log não "
               "são gravadas nele: crie o diretório ou corrija a variável";
        QTest::newRow("neither variable: no file anywhere") << QString() << QString() << QString();
    }
    void files() {
        QFETCH(QString, single);
        QFETCH(QString, daily);
        QFETCH(QString, told);
        qputenv("Q7_LOG", single.toLocal8Bit());
        qputenv("Q7_LOG_PATH", daily.toLocal8Bit());
        static QStringList output;
        output.clear();
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
                output << QString::number(type) + text;
            });
        const Log log;
        log.critical("[Teste] 4761739001010119=2912");
        log.info("[MonitoraDiretorio] Produto TEF configurado: ", 2);
        log.debug(QStringLiteral("um 4761739001010119"));
        log.debug("dois");
        log.info(QStringLiteral("Versão: 375-025 = Qk7zT9"));
        log.critical(QStringLiteral("três"));
        Log::write(Log::Critical, QStringLiteral("210-004 = 5500001122334455"));
        qInstallMessageHandler(previous);
        QStringList console{
            "2[Teste] 476173******0119=****", "4[MonitoraDiretorio] Produto TEF configurado: 2",
            "0um 476173******0119",           "0dois",
            "4Versão: 375-025 = ****",        "2três"};
        if (!told.isEmpty())
            console.insert(1, "1" + told);
        QCOMPARE(output, console);
        const QStringList lines{
            error("[Teste] 476173******0119=****"), info("[MonitoraDiretorio] Produto TEF configurado: 2"),
            debug("um 476173******0119"),           debug("dois"),
            info("Versão: 375-025 = ****"),         error("três"),
            error("210-004 = 550000******4455")};
        const bool neither = single.isEmpty() && daily.isEmpty();
        QCOMPARE(logLines(single), single == "." || neither ? QStringList() : lines);
        QCOMPARE(logLines(dailyLog(daily)), daily == "absent" || neither ? QStringList() : lines);
        QVERIFY(!QFileInfo::exists(QStringLiteral("absent")));
        if (neither)
            QCOMPARE(QDir().entryList(QDir::Files) + QDir(QStringLiteral("logs")).entryList(QDir::Files),
                     QStringList());
    }

    // Two threads write at once: every line stays whole in both files.
    void concurrentLinesStayWhole() {
        qputenv("Q7_LOG", "threads.txt");
        auto writer = [](char tag) {
            return QThread::create([tag] {
                for (int i = 0; i < 2000; ++i)
                    Log::write(Log::Info, QStringLiteral("%1-%2-").arg(QLatin1Char(tag)).arg(i).repeated(8));
            });
        };
        QScopedPointer<QThread> a(writer('a')), b(writer('b'));
        a->start();
        b->start();
        QVERIFY(a->wait(60000) && b->wait(60000));
        const QRegularExpression whole(QStringLiteral("^\\{Info\\} \t\t (([ab])-(\\d+)-)\\1{7}$"));
        for (const QString &path : {QStringLiteral("threads.txt"), dailyLog(QStringLiteral("logs"))})
            QCOMPARE(logLines(path).filter(whole).size(), 4000);
    }

    void mask_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("masked");
        const auto row = [](const char *name, const char *text, const char *masked) {
            QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(masked);
        };
        row("no digits", "[MonitoraDiretorio] FINALIZANDO OPERACAO TEF",
            "[MonitoraDiretorio] FINALIZANDO OPERACAO TEF");
        row("password lines: with blanks, without, empty",
            "001-000 = 5\r\n375-025 = Qk7 zT9 \r\n375-025=Qk7zT9\n375-025 = \r\n",
            "001-000 = 5\r\n375-025 = **** \r\n375-025=****\n375-025 = \r\n");
        row("password members: quoted with an escape, indented, unquoted",
            "{\"parametros\":{\"adm_senha\":\"Qk\\\"7\",\"adm_usuario\":\"ger\"}}\n{\n    "
            "\"transacao_administracao_senha\": \"Qk7zT9\"\n}{\"adm_senha\":1234}",
            "{\"parametros\":{\"adm_senha\":\"****\",\"adm_usuario\":\"ger\"}}\n{\n    "
            "\"transacao_administracao_senha\": \"****\"\n}{\"adm_senha\":****}");
        row("card numbers of 16, 13 and 19 digits",
            "CARTAO 4761739001010119 APROVADO x4222222222222x 4761739001010119120",
            "CARTAO 476173******0119 APROVADO x422222***2222x 476173*********9120");
        row("card number with track data", "4761739001010119=2912101000", "476173******0119=**********");
        row("Luhn-invalid, 12-digit and 20-digit runs kept",
            "NSU 4761739001010118 DOC 123456789012 ID 12345678901234567894",
            "NSU 4761739001010118 DOC 123456789012 ID 12345678901234567894");
        row("210-004 lines, a short value hidden whole",
            "210-004 = 5500001122334455\r\n210-004 = 55\r\n999-999 = 0",
            "210-004 = 550000******4455\r\n210-004 = **\r\n999-999 = 0");
        row("Trilha02 item and member",
            R"(Pan:4761739001010119,Trilha02:5500001122334455=2912101,Nsu:77 {"Trilha02":"5500001122334455=2912"})",
            R"(Pan:476173******0119,Trilha02:550000******4455=*******,Nsu:77 {"Trilha02":"550000******4455=****"})");
        row("masked text stays as it is", "210-004 = 550000******4455=****\r\n375-025 = ****",
            "210-004 = 550000******4455=****\r\n375-025 = ****");
        row("card numbers grouped by blanks, dashes and dots; one inside a longer run",
            "4111 1111 1111 1111 / 4111-1111-1111-1111 / 4111.1111.1111.1111 / NSU 123 4111 1111 1111 1111",
            "4111 11** **** 1111 / 4111-11**-****-1111 / 4111.11**.****.1111 / NSU 123 4111 11** **** 1111");
        row("track 1 with and without sentinels, track 2 anywhere",
            "%B4111111111111111^SILVA/JOAO^2712101?B4111111111111111^SILVA/JOAO^2712 ;4111111111111111=2712?",
            "%B411111******1111^**********^*******?B411111******1111^**********^**** "
            ";411111******1111=****?");
        row("CVV and expiry next to their labels",
            "CVV 123, CVV: 1234, cvc2=321; VAL 12/27, validade 12/2027, Venc.: 1227",
            "CVV ***, CVV: ****, cvc2=***; VAL *****, validade *******, Venc.: ****");
        row("identifiers stay readable, a card under an identifier's tag does not",
            "150-000 = 123456789012347\r\n150-000 = 4761739001010119 {\"nsuTerminal\":\"1234567890128\"}",
            "150-000 = 123456789012347\r\n150-000 = 476173******0119 {\"nsuTerminal\":\"1234567890128\"}");
    }
    void mask() {
        QFETCH(QString, text);
        QFETCH(QString, masked);
        QCOMPARE(Log::mask(text), masked);
    }

    // config_tef.json as the service finds it: the file afterwards, the one set aside, the log
    // lines, and what the service then reads from it.
    // The first line of a day removes the daily files of that name from before the kept days,
    // and nothing else. Ages keep off the limits, so that midnight between two calls is harmless.
    void dailyRetention_data() {
        QTest::addColumn<int>("days");
        QTest::addColumn<QStringList>("gone"); // ages in days
        QTest::newRow("90 days") << 90 << QStringList{"93"};
        QTest::newRow("30 days") << 30 << QStringList{"88", "93"};
        QTest::newRow("0 keeps them all") << 0 << QStringList();
    }
    void dailyRetention() {
        QFETCH(int, days);
        QFETCH(QStringList, gone);
        const auto name = [](int ago) {
            return QDate::currentDate().addDays(-ago).toString(QStringLiteral("ddMMyy")) + "_Q7-LOG.txt";
        };
        QStringList kept{"999999_Q7-LOG.txt", "notas.txt", "x" + name(93), name(0)};
        for (const QString &file : kept + QStringList{name(88), name(93)})
            QVERIFY(writeFile("logs/" + file, "antigo\n"));
        QVERIFY(QDir().mkpath("logs/" + name(400)));
        kept << name(400);
        for (const char *age : {"88", "93"})
            if (!gone.contains(age))
                kept << name(QByteArray(age).toInt());
        Log::setRetention({days, 1 << 20, 3});
        Log::write(Log::Info, QStringLiteral("hoje"));
        kept.sort();
        QCOMPARE(QDir("logs").entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), kept);
        const QStringList lines = logLines(dailyLog("logs")).mid(1);
        QCOMPARE(lines.filter("removido(s)"),
                 gone.isEmpty() ? QStringList()
                                : QStringList{info("[Log] ") + QString::number(gone.size()) +
                                              QStringLiteral(" arquivo(s) de log diário de mais de %1 dias "
                                                             "removido(s) de %2")
                                                  .arg(days)
                                                  .arg(qEnvironmentVariable("Q7_LOG_PATH"))});
    }

    // Q7_LOG is set aside at its size: the newest lines are in it and its copies, in order, and
    // the oldest copy goes.
    void singleRotates() {
        qputenv("Q7_LOG", "q7_log.txt");
        Log::setRetention({90, 1000, 2});
        for (int i = 0; i < 60; ++i)
            Log::write(Log::Info, QStringLiteral("linha %1 ").arg(i, 3, 10, QLatin1Char('0')).repeated(4));
        QCOMPARE(QDir().entryList({"q7_log*"}, QDir::Files, QDir::Name),
                 QStringList({"q7_log.1.txt", "q7_log.2.txt", "q7_log.txt"}));
        QStringList lines;
        for (const char *file : {"q7_log.2.txt", "q7_log.1.txt", "q7_log.txt"}) {
            QVERIFY(QFileInfo(file).size() < 1100);
            lines += logLines(file);
        }
        QVERIFY(lines.size() > 12 && lines.last().endsWith("linha 059 "));
        for (int i = 1; i < lines.size(); ++i)
            QVERIFY(lines.at(i).contains(
                QStringLiteral("linha %1").arg(60 - lines.size() + i, 3, 10, QLatin1Char('0'))));
    }

    void configTef_data() {
        QTest::addColumn<QString>("setup");      // besides config_tef.json
        QTest::addColumn<QByteArray>("content"); // config_tef.json before; null: none
        QTest::addColumn<QByteArray>("after");   // and after
        QTest::addColumn<QByteArray>("old");     // config_tefOLD.json after; null: none
        QTest::addColumn<QString>("read");       // paths, product, encoding, layout, Q7_LOG
        QTest::addColumn<QStringList>("log");

        const QByteArray none;
        const QByteArray created =
            "{\n    \"file_req\": \"IntPos.001\",\n    \"file_resp\": \"IntPos.Sts\",\n"
            "    \"log\": 0,\n    \"path_in\": \"C:/Cliente/Req\",\n"
            "    \"path_out\": \"C:/Cliente/Resp\",\n    \"produto_tef\": -1\n}\n";
        const QString defaults =
            QStringLiteral("C:/Cliente/Req C:/Cliente/Resp IntPos.001 IntPos.Sts 0 utf-8 padrao ");
        const QString unset = QStringLiteral("    -2 utf-8 padrao ");
        const QString mine = QStringLiteral("req resp IntPos.001 IntPos.Sts ");
        QStringList creation{info("Arquivo não existe"), debug("log: 0"), info("Arquivo criado com sucesso")};
#ifndef Q_OS_WIN
        for (const char *drivePath : {"C:/Cliente/Req", "C:/Cliente/Resp"})
            creation << info("Caminho com unidade do Windows não é criado: ") + QLatin1String(drivePath);
#endif
        const QStringList setAside{debug("Arquivo existe mas não contém as chaves necessárias"),
                                   info("Arquivo inválido, renomeado para config_tefOLD.json")};
        // Empty settings mean empty paths, and the current directory always exists.
        const QString exists = debug("Diretórios já existentes");
        const QStringList log0{debug("log: 0")};
        const auto row = [](const char *name, const char *setup, const QByteArray &content,
                            const QByteArray &after, const QByteArray &old, const QString &read,
                            const QStringList &log) {
            QTest::newRow(name) << setup << content << after << old << read << log;
        };
        const auto valid = [&](const char *name, const char *extra, const QString &read,
                               const QStringList &log) {
            row(name, "", config(extra), config(extra), none, mine + read, log);
        };

        row("missing file: created with defaults", "", none, created, none, defaults, creation);
        const QByteArray onlyPathIn = R"({"path_in": "req"})";
        row("keys missing: set aside, defaults written", "", onlyPathIn, created, onlyPathIn, defaults,
            setAside + creation);
        row("an earlier copy is never overwritten", "old exists", onlyPathIn, onlyPathIn, "earlier", unset,
            {setAside.first(), error("Impossível renomear arquivo para config_tefOLD.json"), exists});
        row("directory not writable", "no directory", none, none, none, unset,
            {info("Arquivo não existe"), error("Impossível escrever no arquivo"), exists});
        // Not a JSON object: set aside like a file without the keys, saying why.
        const auto notObject = [&](const char *name, const char *setup, const QByteArray &content,
                                   const QString &why) {
            row(name, setup, content, created, content.isNull() ? "" : content, defaults,
                QStringList{logLine("Error", why), setAside.last()} + creation);
        };
        notObject("a zero first: empty", "", QByteArray("\0{}", 3), "Arquivo de configuração vazio");
        notObject("only blanks", "", " \r\n\t", "Arquivo de configuração só contém espaços em branco");
        notObject("text", "", "produto_tef=1", "Arquivo de configuração não é JSON (erro na posição 1)");
        notObject("a list", "", "[1]", "Arquivo de configuração não é um objeto JSON");
        notObject("unreadable: a directory", "config is a directory", none,
                  "config_tef.json é um diretório, não um arquivo");
        // A required key of another type is there, and reads as empty: the file is kept.
        const QByteArray numericPath = config("").replace("\"req\"", "5");
        row("path_in a number: present, empty", "", numericPath, numericPath, none,
            " resp IntPos.001 IntPos.Sts -2 utf-8 padrao ", log0);
        // Exactly one of the listed integers, or no product.
        for (const QByteArray product : {"\"1\"", "1.5", "null", "1e300", "2147483648", "5", "3"}) {
            const QByteArray text = config(", \"produto_tef\": " + product);
            QTest::addRow("product %s", product.constData())
                << "" << text << text << none << mine + "-2 utf-8 padrao " << log0;
        }
        valid("product absent", "", "-2 utf-8 padrao ", log0);
        valid("product -1 reads as 0", R"(, "produto_tef": -1)", "0 utf-8 padrao ", log0);
        const QByteArray zero = config(R"(, "produto_tef": 2)") + QByteArray("\0garbage", 8);
        row("product 2, what follows a zero ignored", "", zero, zero, none, mine + "2 utf-8 padrao ", log0);
        row("product 1, response directory exists", "resp exists", config(R"(, "produto_tef": 1)"),
            config(R"(, "produto_tef": 1)"), none, mine + "1 utf-8 padrao ", log0 + QStringList{exists});
        const QByteArray named = config(R"(, "log": 1, "codificacao": "utf-8", "compatibilidade": "padrao")");
        row("log 1 keeps an outside Q7_LOG; utf-8 and padrao", "Q7_LOG set", named, named, none,
            mine + "-2 utf-8 padrao outside.txt", {debug("log: 1")});
        valid("log 1 sets Q7_LOG; Windows-1252 and TefDial in any case",
              R"(, "log": 1, "codificacao": "Windows-1252", "compatibilidade": "TefDial")",
              "-2 windows-1252 tefdial q7_log.txt",
              {debug("log: 1"), info(QByteArray("Versão: ").append(kVersionText))});
        valid("product 3 is invalid; unknown encoding and layout",
              R"(, "produto_tef": 3, "codificacao": "latin1", "compatibilidade": "sitef")",
              "-2 utf-8 padrao ",
              log0 + QStringList{error("Codificação desconhecida: latin1; usando utf-8"),
                                 error("Compatibilidade desconhecida: sitef; usando padrao")});
        // Days the daily logs are kept, as the log was told (after the layout, when given).
        valid("log_dias 30", R"(, "log_dias": 30)", "-2 utf-8 padrao  30", log0);
        valid("log_dias not a whole number of days: 90", R"(, "log_dias": "30")", "-2 utf-8 padrao  90",
              log0 + QStringList{
                         error("Retenção de log inválida: \"30\"; use em log_dias de config_tef.json um "
                               "número inteiro de dias, de 0 (nunca remover) a 3650; por ora, 90 dias")});
    }
    void configTef() {
        QFETCH(QString, setup);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, old);
        QFETCH(QString, read);
        QFETCH(QStringList, log);
        const QString file = m_dir->filePath(QStringLiteral("config_tef.json"));
        const QString oldFile = m_dir->filePath(QStringLiteral("config_tefOLD.json"));
        if (!content.isNull())
            QVERIFY(writeFile(file, content));
        if (setup == "old exists")
            QVERIFY(writeFile(oldFile, old));
        if (setup == "Q7_LOG set")
            qputenv("Q7_LOG", "outside.txt");
        if (setup == "config is a directory")
            QVERIFY(QDir().mkpath(file));
        if (setup == "resp exists")
            QVERIFY(QDir().mkpath(QStringLiteral("resp")));

        const ConfigTef config(setup == "no directory" ? m_dir->filePath(QStringLiteral("no/such"))
                                                       : m_dir->path());

        QCOMPARE(readFile(file), after);
        QCOMPARE(QFileInfo::exists(oldFile), !old.isNull());
        QCOMPARE(readFile(oldFile), old);
        QCOMPARE(
            QStringList({config.getPathIn(), config.getPathOut(), config.getFileReq(), config.getFileResp(),
                         QString::number(config.getProdutoTef()), config.getCodificacao(),
                         config.getCompatibilidade(), qEnvironmentVariable("Q7_LOG")})
                    .join(QLatin1Char(' ')) +
                (config.values().contains("log_dias") ? " " + QString::number(Log::retention().days)
                                                      : QString()),
            read);
        QCOMPARE(logLines(dailyLog(QStringLiteral("logs"))), log);
        // A drive path is made on Windows only; elsewhere it would land in the working directory.
        const bool drivesMade = QDir::isAbsolutePath(QStringLiteral("C:/"));
        for (const QString &dir : {config.getPathIn(), config.getPathOut()})
            QVERIFY2(dir.isEmpty() || QFileInfo(dir).isDir() == (drivesMade || !dir.startsWith("C:")),
                     qPrintable(dir));
    }

private:
    QScopedPointer<QTemporaryDir> m_dir;
    bool m_clienteExisted = false;
};

QTEST_GUILESS_MAIN(TestBase)
#include "tst_base.moc"
