#include "app/SingleInstanceGuard.h"
#include "app/Version.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Runs the real executable, copied into a temporary directory so that its
// config_tef.json is the test's own.
class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A segment left by a killed run of an earlier test is removed by constructing a guard.
        SingleInstanceGuard guard(QString::fromLatin1(kApplicationId));
        QVERIFY2(!guard.isAnotherRunning(), "another service instance is running on this machine");
    }

    void init() {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_exe = m_dir->filePath(QStringLiteral("q7_pagora_passivo"));
        QVERIFY(QFile::copy(QStringLiteral(Q7_BIN_DIR "/q7_pagora_passivo"), m_exe));
    }

    void cleanup() {
        for (QProcess *process : qAsConst(m_processes)) {
            process->kill();
            process->waitForFinished();
        }
        qDeleteAll(m_processes);
        m_processes.clear();
        SingleInstanceGuard cleaner(QString::fromLatin1(kApplicationId));
        m_dir.reset();
    }

    void invalidProductEndsWithMinusOne_data() {
        QTest::addColumn<int>("product");
        QTest::newRow("3") << 3;
        QTest::newRow("7") << 7;
        QTest::newRow("-5") << -5;
    }
    void invalidProductEndsWithMinusOne() {
        QFETCH(int, product);
        writeConfig(product);
        QProcess *process = start(QStringLiteral("invalid.log"));
        QVERIFY(process->waitForFinished(30000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 255); // -1
        QCOMPARE(logLines(QStringLiteral("invalid.log")),
                 (QStringList{QStringLiteral("{Debug} \t\t log: 0"),
                              QStringLiteral("{Info} \t\t Q7_PAGORA_PASSIVO"),
                              QStringLiteral("{Info} \t\t Versão: "),
                              QStringLiteral("{Info} \t\t Produto TEF configurado: -2"),
                              QStringLiteral("{Error} \t\t Produto TEF inválido")}));
    }

    void oneInstancePerMachine() {
        writeConfig(1);
        QProcess *first = start(QStringLiteral("first.log"));
        QTRY_VERIFY_WITH_TIMEOUT(logLines(QStringLiteral("first.log"))
                                     .contains(QStringLiteral("{Info} \t\t Produto TEF configurado: 1")),
                                 30000);

        QProcess *second = start(QStringLiteral("second.log"));
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(logLines(QStringLiteral("second.log")),
                 (QStringList{QStringLiteral("{Debug} \t\t log: 0"),
                              QStringLiteral("{Debug} \t\t Diretórios já existentes"),
                              QStringLiteral("{Info} \t\t Q7_PAGORA_PASSIVO"),
                              QStringLiteral("{Info} \t\t Versão: "),
                              QStringLiteral("{Debug} \t\t Uma instância já está aberta")}));
        QCOMPARE(first->state(), QProcess::Running);

        // A holder killed without releasing the slot does not block the next start.
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QProcess *third = start(QStringLiteral("third.log"));
        QTRY_VERIFY_WITH_TIMEOUT(logLines(QStringLiteral("third.log"))
                                     .contains(QStringLiteral("{Info} \t\t Produto TEF configurado: 1")),
                                 30000);
        QCOMPARE(third->state(), QProcess::Running);
    }

    void terminationQuitsCleanly() {
        QVERIFY(QFile::copy(QStringLiteral(Q7_BIN_DIR "/libQ7_Bridge.so"),
                            m_dir->filePath(QStringLiteral("libQ7_Bridge.so"))));
        writeConfig(1);
        QProcess *service = start(QStringLiteral("service.log"));
        QTRY_VERIFY_WITH_TIMEOUT(
            logLines(QStringLiteral("service.log"))
                .contains(QStringLiteral("{Debug} \t\t [MonitoraDiretorio] Monitoramento "
                                         "iniciando em: req")),
            30000);
        service->terminate();
        QVERIFY(service->waitForFinished(30000));
        QCOMPARE(service->exitStatus(), QProcess::NormalExit);
        QCOMPARE(service->exitCode(), 0);
        // The controller was destroyed, so the library was unloaded and the slot freed.
        const QStringList lines = logLines(QStringLiteral("service.log"));
        QVERIFY(lines.contains(QStringLiteral("{Info} \t\t [Base_Controller] Destruído")));
        SingleInstanceGuard guard(QString::fromLatin1(kApplicationId));
        QVERIFY(!guard.isAnotherRunning());
    }

    void unloadableWindowEndsWithMinusOne() {
        // Point the QML imports nowhere, so the window cannot be created.
        QFile qtConf(m_dir->filePath(QStringLiteral("qt.conf")));
        QVERIFY(qtConf.open(QIODevice::WriteOnly));
        qtConf.write("[Paths]\nPlugins=" + QLibraryInfo::location(QLibraryInfo::PluginsPath).toUtf8() +
                     "\nQml2Imports=" + m_dir->filePath(QStringLiteral("no-imports")).toUtf8() + "\n");
        qtConf.close();
        writeConfig(2);
        QProcess *service = start(QStringLiteral("window.log"));
        QVERIFY(service->waitForFinished(30000));
        QCOMPARE(service->exitStatus(), QProcess::NormalExit);
        QCOMPARE(service->exitCode(), 255); // -1
    }

    // The window check a cashier would make, in a real X server with keys from xdotool: a
    // stray Tab must not keep the keyboard from answering the library's text prompt.
    void keyboardAnswersInARealWindow() {
        const QString xvfb = qEnvironmentVariable("Q7_XVFB");
        const QString xdotool = qEnvironmentVariable("Q7_XDOTOOL");
        if (xvfb.isEmpty() || xdotool.isEmpty())
            QSKIP("needs Xvfb and xdotool, named by Q7_XVFB and Q7_XDOTOOL");
        QProcess server;
        server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 20000);
        const QString display = ':' + QString::fromLatin1(server.readLine()).trimmed();

        QVERIFY(QFile::copy(QStringLiteral(Q7_BIN_DIR "/libQ7_Tef01.so"),
                            m_dir->filePath(QStringLiteral("libQ7_Tef01.so"))));
        writeConfig(2);
        const QJsonObject prompt{{"codigo", 0},
                                 {"tef", QJsonObject{{"mensagemResultado", "DIGITE O CODIGO"},
                                                     {"automacao_coleta_tipo", "N"},
                                                     {"automacao_coleta_retorno", "0"},
                                                     {"automacao_coleta_sequencial", "1"}}}};
        const QJsonObject approved{{"codigo", 0},
                                   {"tef", QJsonObject{{"resultadoTransacao", "0"}, {"sequencial", "1"}}}};
        QFile scenario(m_dir->filePath(QStringLiteral("scenario.json")));
        QVERIFY(scenario.open(QIODevice::WriteOnly));
        scenario.write(
            QJsonDocument(QJsonObject{{"RealizarPagamentoTEF", QJsonArray{prompt, approved}}}).toJson());
        scenario.close();
        const QString callLog = m_dir->filePath(QStringLiteral("calls.jsonl"));
        QProcessEnvironment env;
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("TMPDIR"), m_dir->path());
        env.insert(QStringLiteral("Q7_SIM_SCENARIO"), scenario.fileName());
        env.insert(QStringLiteral("Q7_SIM_CALLS"), callLog);
        start(QStringLiteral("x11.log"), env);
        QTRY_VERIFY_WITH_TIMEOUT(logLines(QStringLiteral("x11.log")).filter("Monitoramento iniciando").size(),
                                 30000);

        QFile request(m_dir->filePath(QStringLiteral("req/IntPos.tmp")));
        QVERIFY(request.open(QIODevice::WriteOnly));
        request.write("000-000 = CRT\r\n001-000 = 18\r\n003-000 = 500\r\n999-999 = 0\r\n");
        request.close();
        QVERIFY(request.rename(m_dir->filePath(QStringLiteral("req/IntPos.001"))));
        QTRY_VERIFY_WITH_TIMEOUT(logLines(QStringLiteral("x11.log")).filter("automacao_coleta_tipo").size(),
                                 30000);

        const auto xdo = [&](const QStringList &arguments) {
            QProcess tool;
            tool.setProcessEnvironment(env);
            tool.start(xdotool, arguments);
            return tool.waitForFinished(20000) && tool.exitCode() == 0
                       ? QString::fromLatin1(tool.readAllStandardOutput()).trimmed()
                       : QString();
        };
        const QString window = xdo({"search", "--sync", "--onlyvisible", "--name", "Orvix Pay - Pagora"});
        QVERIFY(!window.isEmpty());
        xdo({"windowfocus", "--sync", window});
        QTest::qWait(500); // the prompt's signals reach the window a moment after the log line
        xdo({"key", "--delay", "100", "Tab", "4", "3", "2", "1", "Return"});

        const auto contents = [](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        // The answer travels inside the transaction document, a JSON text in the call log.
        QTRY_VERIFY_WITH_TIMEOUT(contents(callLog).contains(R"(\"automacao_coleta_informacao\":\"4321\")"),
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(contents(m_dir->filePath("resp/IntPos.001")).contains("009-000 = 0"), 20000);
        m_processes.last()->terminate();
        QVERIFY(m_processes.last()->waitForFinished(30000));
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }

private:
    void writeConfig(int product) {
        QFile file(m_dir->filePath(QStringLiteral("config_tef.json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            QStringLiteral("{\"path_in\": \"req\", \"path_out\": \"resp\", \"file_req\": \"IntPos.001\", "
                           "\"file_resp\": \"IntPos.Sts\", \"log\": 0, \"produto_tef\": %1}")
                .arg(product)
                .toUtf8());
    }

    QProcess *start(const QString &logName, const QProcessEnvironment &extra = {}) {
        auto *process = new QProcess;
        m_processes << process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(extra);
        env.insert(QStringLiteral("Q7_LOG"), m_dir->filePath(logName));
        env.remove(QStringLiteral("Q7_LOG_PATH"));
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(m_dir->path());
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(m_exe, QStringList());
        return process;
    }

    QStringList logLines(const QString &logName) const {
        QFile file(m_dir->filePath(logName));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines;
        for (const QByteArray &line : file.readAll().split('\n'))
            if (!line.isEmpty())
                lines << QString::fromLocal8Bit(line).mid(38);
        return lines;
    }

    QScopedPointer<QTemporaryDir> m_dir;
    QString m_exe;
    QList<QProcess *> m_processes;
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
