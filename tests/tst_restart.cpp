// The real service killed with SIGKILL in the middle of an operation and started again: it
// starts and answers the next request. The executable is copied into a temporary directory
// with the bridge's replacement library beside it and a config_tef.json of the test's own.
#include "TefPosClient.h"
#include "app/SingleInstanceGuard.h"
#include "app/Version.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TefPosClient::Fields sale(int id) {
    return {{QStringLiteral("000-000"), QStringLiteral("CRT")},
            {QStringLiteral("001-000"), QString::number(id)},
            {QStringLiteral("003-000"), QStringLiteral("1000")}};
}

} // namespace

class TestRestart : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A segment left by a killed run of an earlier test is removed by constructing a guard.
        SingleInstanceGuard guard(QString::fromLatin1(kApplicationId));
        QVERIFY2(!guard.isAnotherRunning(), "another service instance is running on this machine");
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        for (const char *name : {"q7_pagora_passivo", "libQ7_Bridge.so"})
            QVERIFY(QFile::copy(QStringLiteral(Q7_BIN_DIR "/") + QLatin1String(name),
                                m_dir->filePath(QLatin1String(name))));
        QFile config(m_dir->filePath(QStringLiteral("config_tef.json")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("{\"path_in\": \"req\", \"path_out\": \"resp\", \"file_req\": \"IntPos.001\", "
                     "\"file_resp\": \"IntPos.Sts\", \"log\": 0, \"produto_tef\": 1}");
        config.close();
        m_client.requestDir = m_dir->filePath(QStringLiteral("req"));
        m_client.responseDir = m_dir->filePath(QStringLiteral("resp"));
        m_client.pollMs = 50;
        m_client.statusTimeoutMs = 20000;
        m_client.responseTimeoutMs = 30000;
    }

    void cleanup() {
        if (m_service) {
            m_service->kill();
            m_service->waitForFinished();
        }
        m_service.reset();
        SingleInstanceGuard cleaner(QString::fromLatin1(kApplicationId));
        m_dir.reset();
    }

    void killedMidOperationStartsAgain_data() {
        QTest::addColumn<bool>("controllerRunning");
        // Between reading the request and starting the controller the request file is still
        // there: it is answered after the restart.
        QTest::newRow("before the controller starts") << false;
        QTest::newRow("while the controller runs") << true;
    }
    void killedMidOperationStartsAgain() {
        QFETCH(bool, controllerRunning);
        start(QStringLiteral("first.log"));
        QTRY_VERIFY_WITH_TIMEOUT(log(QStringLiteral("first.log")).contains("Monitoramento iniciando em"),
                                 30000);

        const QString request = m_client.requestDir + QStringLiteral("/IntPos.001");
        QFile file(request);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(m_client.encode(sale(901) << qMakePair(QStringLiteral("999-999"), QStringLiteral("0"))));
        file.close();
        if (controllerRunning)
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_client.responseDir + QStringLiteral("/IntPos.Sts")),
                                     30000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(log(QStringLiteral("first.log")).contains("Dados do arquivo lido"),
                                     30000);
        m_service->kill();
        QVERIFY(m_service->waitForFinished(10000));
        QCOMPARE(m_service->exitStatus(), QProcess::CrashExit);
        QCOMPARE(QFile::exists(request), !controllerRunning);

        start(QStringLiteral("second.log"));
        if (!controllerRunning) {
            const QString response = m_client.responseDir + QStringLiteral("/IntPos.001");
            QTRY_VERIFY_WITH_TIMEOUT(readFile(response).contains("001-000 = 901"), 30000);
            QVERIFY(QFile::remove(response)); // taken by the sales application
        }
        const TefPosClient::Result next = m_client.send(sale(902));
        QCOMPARE(next.outcome, TefPosClient::Outcome::Approved);
        QCOMPARE(next.status, QByteArray("000-000 = CRT\r\n001-000 = 902\r\n999-999 = 0\r\n"));
        QCOMPARE(m_service->state(), QProcess::Running);
    }

private:
    void start(const QString &logName) {
        m_service = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("Q7_LOG"), m_dir->filePath(logName));
        env.remove(QStringLiteral("Q7_LOG_PATH"));
        env.remove(QStringLiteral("Q7_SIM_SCENARIO"));
        env.remove(QStringLiteral("Q7_SIM_CALLS"));
        m_service->setProcessEnvironment(env);
        m_service->setWorkingDirectory(m_dir->path());
        m_service->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_service->start(m_dir->filePath(QStringLiteral("q7_pagora_passivo")), QStringList());
        QVERIFY(m_service->waitForStarted(10000));
    }

    QByteArray log(const QString &logName) const { return readFile(m_dir->filePath(logName)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_service;
    TefPosClient m_client;
};

QTEST_GUILESS_MAIN(TestRestart)
#include "tst_restart.moc"
