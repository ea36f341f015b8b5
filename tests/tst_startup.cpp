#include "ServiceProcess.h"

#include <QJsonArray>
#include <QLibraryInfo>
#include <QTest>

// The real executable in a directory of its own (ServiceProcess).
class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init() { m_service = std::make_unique<ServiceProcess>(); }
    void cleanup() { m_service.reset(); }

    void invalidProductEndsWithMinusOne_data() {
        QTest::addColumn<int>("product");
        QTest::newRow("3") << 3;
        QTest::newRow("7") << 7;
        QTest::newRow("-5") << -5;
    }
    void invalidProductEndsWithMinusOne() {
        QFETCH(int, product);
        m_service->writeConfig(product);
        QProcess *process = m_service->start(QStringLiteral("invalid.log"));
        QVERIFY(process->waitForFinished(30000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 255); // -1
        QCOMPARE(m_service->logLines(QStringLiteral("invalid.log")),
                 (QStringList{QStringLiteral("{Debug} \t\t log: 0"),
                              QStringLiteral("{Info} \t\t Q7_PAGORA_PASSIVO"),
                              QStringLiteral("{Info} \t\t Versão: "),
                              QStringLiteral("{Info} \t\t Produto TEF configurado: -2"),
                              QStringLiteral("{Error} \t\t Produto TEF inválido")}));
    }

    void oneInstancePerMachine() {
        m_service->writeConfig(1);
        QProcess *first = m_service->start(QStringLiteral("first.log"));
        QTRY_VERIFY_WITH_TIMEOUT(m_service->logLines(QStringLiteral("first.log"))
                                     .contains(QStringLiteral("{Info} \t\t Produto TEF configurado: 1")),
                                 30000);

        QProcess *second = m_service->start(QStringLiteral("second.log"));
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(m_service->logLines(QStringLiteral("second.log")),
                 (QStringList{QStringLiteral("{Debug} \t\t log: 0"),
                              QStringLiteral("{Debug} \t\t Diretórios já existentes"),
                              QStringLiteral("{Info} \t\t Q7_PAGORA_PASSIVO"),
                              QStringLiteral("{Info} \t\t Versão: "),
                              QStringLiteral("{Debug} \t\t Uma instância já está aberta")}));
        QCOMPARE(first->state(), QProcess::Running);

        // A holder killed without releasing the slot does not block the next start.
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QProcess *third = m_service->start(QStringLiteral("third.log"));
        QTRY_VERIFY_WITH_TIMEOUT(m_service->logLines(QStringLiteral("third.log"))
                                     .contains(QStringLiteral("{Info} \t\t Produto TEF configurado: 1")),
                                 30000);
        QCOMPARE(third->state(), QProcess::Running);
    }

    void terminationQuitsCleanly() {
        m_service = std::make_unique<ServiceProcess>(QStringList{QStringLiteral("libQ7_Bridge.so")});
        m_service->writeConfig(1);
        QProcess *service = m_service->start();
        QTRY_VERIFY_WITH_TIMEOUT(m_service->logged(QStringLiteral(
                                     "{Debug} \t\t [MonitoraDiretorio] Monitoramento iniciando em: req")),
                                 30000);
        service->terminate();
        QVERIFY(service->waitForFinished(30000));
        QCOMPARE(service->exitStatus(), QProcess::NormalExit);
        QCOMPARE(service->exitCode(), 0);
        // The controller was destroyed, so the library was unloaded and the slot freed.
        QVERIFY(m_service->logLines().contains(QStringLiteral("{Info} \t\t [Base_Controller] Destruído")));
        QVERIFY(!m_service->slotTaken());
    }

    void unloadableWindowEndsWithMinusOne() {
        // Point the QML imports nowhere, so the window cannot be created.
        QVERIFY(m_service->write(
            QStringLiteral("qt.conf"),
            "[Paths]\nPlugins=" + QLibraryInfo::location(QLibraryInfo::PluginsPath).toUtf8() +
                "\nQml2Imports=" + m_service->dir.filePath(QStringLiteral("no-imports")).toUtf8() + "\n"));
        m_service->writeConfig(2);
        QProcess *service = m_service->start();
        QVERIFY(service->waitForFinished(30000));
        QCOMPARE(service->exitStatus(), QProcess::NormalExit);
        QCOMPARE(service->exitCode(), 255); // -1
    }

    // Keyboard only, in a real X window: a stray Tab must not take the keys away from the prompt.
    void keyboardAnswersInARealWindow() {
        const QString xvfb = qEnvironmentVariable("Q7_XVFB");
        const QString xdotool = qEnvironmentVariable("Q7_XDOTOOL");
        if (xvfb.isEmpty() || xdotool.isEmpty())
            QSKIP("needs Xvfb and xdotool, named by Q7_XVFB and Q7_XDOTOOL");
        QProcess server;
        server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 20000);
        QProcessEnvironment x11;
        x11.insert(QStringLiteral("DISPLAY"), ':' + QString::fromLatin1(server.readLine()).trimmed());
        x11.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

        m_service = std::make_unique<ServiceProcess>(QStringList{QStringLiteral("libQ7_Tef01.so")});
        m_service->writeConfig(2);
        const QJsonObject prompt{{"codigo", 0},
                                 {"tef", QJsonObject{{"mensagemResultado", "DIGITE O CODIGO"},
                                                     {"automacao_coleta_tipo", "N"},
                                                     {"automacao_coleta_retorno", "0"},
                                                     {"automacao_coleta_sequencial", "1"}}}};
        const QJsonObject approved{{"codigo", 0},
                                   {"tef", QJsonObject{{"resultadoTransacao", "0"}, {"sequencial", "1"}}}};
        m_service->setScenario(QJsonObject{{"RealizarPagamentoTEF", QJsonArray{prompt, approved}}});
        QProcess *service = m_service->start(QStringLiteral("service.log"), x11);
        QTRY_VERIFY_WITH_TIMEOUT(m_service->logged(QStringLiteral("Monitoramento iniciando")), 30000);
        QVERIFY(m_service->write(QStringLiteral("req/IntPos.tmp"),
                                 "000-000 = CRT\r\n001-000 = 18\r\n003-000 = 500\r\n999-999 = 0\r\n"));
        QVERIFY(QFile::rename(m_service->dir.filePath(QStringLiteral("req/IntPos.tmp")),
                              m_service->dir.filePath(QStringLiteral("req/IntPos.001"))));
        QTRY_VERIFY_WITH_TIMEOUT(m_service->logged(QStringLiteral("automacao_coleta_tipo")), 30000);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(x11);
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

        const auto answer = [this] {
            const QList<QJsonObject> calls = m_service->calls(QStringLiteral("RealizarPagamentoTEF"));
            return calls.size() < 2
                       ? QString()
                       : QJsonDocument::fromJson(calls.at(1).value("dadosTransacao").toString().toUtf8())
                             .object()
                             .value("automacao_coleta_informacao")
                             .toString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(answer(), QStringLiteral("4321"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(m_service->read(QStringLiteral("resp/IntPos.001")).contains("009-000 = 0"),
                                 20000);
        service->terminate();
        QVERIFY(service->waitForFinished(30000));
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }

private:
    std::unique_ptr<ServiceProcess> m_service;
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
