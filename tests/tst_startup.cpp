#include "app/SingleInstanceGuard.h"
#include "app/Version.h"

#include <QDir>
#include <QFile>
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

    QProcess *start(const QString &logName) {
        auto *process = new QProcess;
        m_processes << process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
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
