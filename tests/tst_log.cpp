#include "base/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

QStringList readLines(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromLocal8Bit(file.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

QString dailyName(const QString &dir) {
    return dir + QLatin1Char('/') + QDate::currentDate().toString(QStringLiteral("ddMMyy")) +
           QStringLiteral("_Q7-LOG.txt");
}

} // namespace

class TestLog : public QObject {
    Q_OBJECT

private slots:
    void init() {
        qunsetenv("Q7_LOG");
        qunsetenv("Q7_LOG_PATH");
        QVERIFY(m_dir.isValid());
    }
    void cleanup() {
        qunsetenv("Q7_LOG");
        qunsetenv("Q7_LOG_PATH");
    }

    void formatLine_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("expected");
        const QString header = QStringLiteral("{05/03/26 14:07:09}{Q7_PAGORA_PASSIVO}");
        QTest::newRow("debug") << 0 << header + QStringLiteral("{Debug} \t\t msg");
        QTest::newRow("warning") << 1 << header + QStringLiteral("{Warning} \t msg");
        QTest::newRow("critical is Error") << 2 << header + QStringLiteral("{Error} \t\t msg");
        QTest::newRow("fatal") << 3 << header + QStringLiteral("{Fatal} \t\t msg");
        QTest::newRow("info") << 4 << header + QStringLiteral("{Info} \t\t msg");
        QTest::newRow("unknown level gives header alone") << 5 << header;
        QTest::newRow("negative level gives header alone") << -1 << header;
    }
    void formatLine() {
        QFETCH(int, level);
        QFETCH(QString, expected);
        const QDateTime when(QDate(2026, 3, 5), QTime(14, 7, 9));
        QCOMPARE(Log::formatLine(level, QStringLiteral("msg"), when), expected);
    }

    void noFileWithoutVariables() {
        QDir::setCurrent(m_dir.path());
        Log().info("nothing on disk");
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    }

    void missingDailyDirectoryIsNotCreated() {
        const QString missing = m_dir.filePath(QStringLiteral("absent"));
        qputenv("Q7_LOG_PATH", missing.toLocal8Bit());
        Log().critical("lost");
        QVERIFY(!QFileInfo::exists(missing));
    }

    void bothFilesGetTheSameLine() {
        const QString single = m_dir.filePath(QStringLiteral("single.txt"));
        const QString daily = m_dir.filePath(QStringLiteral("daily"));
        QVERIFY(QDir().mkpath(daily));
        qputenv("Q7_LOG", single.toLocal8Bit());
        qputenv("Q7_LOG_PATH", daily.toLocal8Bit());

        Log().critical("[Teste] falhou");
        Log().info("[MonitoraDiretorio] Produto TEF configurado: ", 2);

        const QStringList lines = readLines(single);
        QCOMPARE(readLines(dailyName(daily)), lines);
        QCOMPARE(lines.size(), 2);
        static const QRegularExpression header(
            QStringLiteral("^\\{\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\}\\{Q7_PAGORA_PASSIVO\\}"));
        QVERIFY(header.match(lines[0]).hasMatch());
        QCOMPARE(lines[0].mid(38), QStringLiteral("{Error} \t\t [Teste] falhou"));
        QCOMPARE(lines[1].mid(38),
                 QStringLiteral("{Info} \t\t [MonitoraDiretorio] Produto TEF configurado: 2"));
    }

    void appendsAcrossCalls() {
        const QString single = m_dir.filePath(QStringLiteral("append.txt"));
        qputenv("Q7_LOG", single.toLocal8Bit());
        Log().debug(QStringLiteral("um"));
        Log().debug("dois");
        const QStringList lines = readLines(single);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(QStringLiteral("{Debug} \t\t um")));
        QVERIFY(lines[1].endsWith(QStringLiteral("{Debug} \t\t dois")));
    }

    void storesLocal8Bit() {
        const QString single = m_dir.filePath(QStringLiteral("local.txt"));
        qputenv("Q7_LOG", single.toLocal8Bit());
        const QString message = QStringLiteral("Versão: ");
        Log().info(message);
        QFile file(single);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().endsWith(message.toLocal8Bit() + '\n'));
    }

    void unwritableFileIsSkippedAndOtherStillWritten() {
        const QString daily = m_dir.filePath(QStringLiteral("daily2"));
        QVERIFY(QDir().mkpath(daily));
        qputenv("Q7_LOG", m_dir.path().toLocal8Bit()); // a directory cannot be opened as a file
        qputenv("Q7_LOG_PATH", daily.toLocal8Bit());
        Log().info("ainda escrito");
        QCOMPARE(readLines(dailyName(daily)).size(), 1);
    }

    void concurrentLinesStayWhole() {
        const QString single = m_dir.filePath(QStringLiteral("threads.txt"));
        const QString daily = m_dir.filePath(QStringLiteral("daily3"));
        QVERIFY(QDir().mkpath(daily));
        qputenv("Q7_LOG", single.toLocal8Bit());
        qputenv("Q7_LOG_PATH", daily.toLocal8Bit());

        const int perThread = 2000;
        auto writer = [perThread](char tag) {
            return QThread::create([perThread, tag] {
                for (int i = 0; i < perThread; ++i)
                    Log::write(Log::Info, QStringLiteral("%1-%2-").arg(QLatin1Char(tag)).arg(i).repeated(8));
            });
        };
        QScopedPointer<QThread> a(writer('a')), b(writer('b'));
        a->start();
        b->start();
        QVERIFY(a->wait(60000));
        QVERIFY(b->wait(60000));

        static const QRegularExpression whole(
            QStringLiteral("^\\{[^}]+\\}\\{Q7_PAGORA_PASSIVO\\}\\{Info\\} \t\t (([ab])-(\\d+)-)\\1{7}$"));
        for (const QString &path : {single, dailyName(daily)}) {
            const QStringList lines = readLines(path);
            QCOMPARE(lines.size(), 2 * perThread);
            int broken = 0;
            for (const QString &line : lines)
                broken += whole.match(line).hasMatch() ? 0 : 1;
            QCOMPARE(broken, 0);
        }
    }

    void mask_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("masked");
        const auto row = [](const char *name, const char *text, const char *masked) {
            QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(masked);
        };
        row("no digits", "[MonitoraDiretorio] FINALIZANDO OPERACAO TEF",
            "[MonitoraDiretorio] FINALIZANDO OPERACAO TEF");
        row("request password line", "001-000 = 5\r\n375-025 = Qk7 zT9 \r\n999-999 = 0",
            "001-000 = 5\r\n375-025 = **** \r\n999-999 = 0");
        row("password line without blanks", "375-025=Qk7zT9\n", "375-025=****\n");
        row("empty password line", "375-025 = \r\n", "375-025 = \r\n");
        row("request document password",
            "{\"parametros\":{\"adm_senha\":\"Qk\\\"7\",\"adm_usuario\":\"ger\"}}",
            "{\"parametros\":{\"adm_senha\":\"****\",\"adm_usuario\":\"ger\"}}");
        row("indented transaction password", "{\n    \"transacao_administracao_senha\": \"Qk7zT9\"\n}",
            "{\n    \"transacao_administracao_senha\": \"****\"\n}");
        row("unquoted password", "{\"adm_senha\":1234}", "{\"adm_senha\":****}");
        row("card number", "CARTAO 4761739001010119 APROVADO", "CARTAO 476173******0119 APROVADO");
        row("13-digit card number", "x4222222222222x", "x422222***2222x");
        row("19-digit card number", "4761739001010119120", "476173*********9120");
        row("card number with track data", "4761739001010119=2912101000", "476173******0119=**********");
        row("Luhn-invalid run kept", "NSU 4761739001010118", "NSU 4761739001010118");
        row("12-digit run kept", "DOC 123456789012", "DOC 123456789012");
        row("20-digit Luhn-valid run kept", "ID 12345678901234567894", "ID 12345678901234567894");
        row("210-004 line", "210-004 = 5500001122334455\r\n999-999 = 0",
            "210-004 = 550000******4455\r\n999-999 = 0");
        row("short 210-004 value hidden whole", "210-004 = 55", "210-004 = **");
        row("Trilha02 item", "Pan:4761739001010119,Trilha02:5500001122334455=2912101,Nsu:77",
            "Pan:476173******0119,Trilha02:550000******4455=*******,Nsu:77");
        row("Trilha02 member", "{\"Trilha02\":\"5500001122334455=2912\"}",
            "{\"Trilha02\":\"550000******4455=****\"}");
        row("masked text stays as it is", "210-004 = 550000******4455=****\r\n375-025 = ****",
            "210-004 = 550000******4455=****\r\n375-025 = ****");
    }
    void mask() {
        QFETCH(QString, text);
        QFETCH(QString, masked);
        QCOMPARE(Log::mask(text), masked);
    }

    void fileAndMessageOutputAreMasked() {
        const QString single = m_dir.filePath(QStringLiteral("masked.txt"));
        qputenv("Q7_LOG", single.toLocal8Bit());
        static QStringList output;
        output.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { output << message; });
        Log().info(QStringLiteral("[Teste] 375-025 = Qk7zT9"));
        Log().debug("[Teste] 4761739001010119");
        Log::write(Log::Critical, QStringLiteral("[Teste] 210-004 = 5500001122334455"));
        qInstallMessageHandler(previous);

        QCOMPARE(output, (QStringList{QStringLiteral("[Teste] 375-025 = ****"),
                                      QStringLiteral("[Teste] 476173******0119")}));
        QStringList lines = readLines(single);
        for (QString &line : lines)
            line = line.mid(38);
        QCOMPARE(lines, (QStringList{QStringLiteral("{Info} \t\t [Teste] 375-025 = ****"),
                                     QStringLiteral("{Debug} \t\t [Teste] 476173******0119"),
                                     QStringLiteral("{Error} \t\t [Teste] 210-004 = 550000******4455")}));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
