#include "ServiceProcess.h"

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

private:
    std::unique_ptr<ServiceProcess> m_service;
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
