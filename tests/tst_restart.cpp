// The real service stopped in the middle of an operation, by SIGKILL or SIGTERM, and started
// again: every request it took is answered, a request it did not take stays where the sales
// application put it, and the next start answers that one.
#include "ServiceProcess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

TefPosClient::Fields request(const char *operation, int id) {
    return {{QStringLiteral("000-000"), QLatin1String(operation)},
            {QStringLiteral("001-000"), QString::number(id)},
            {QStringLiteral("003-000"), QStringLiteral("1000")},
            {QStringLiteral("999-999"), QStringLiteral("0")}};
}

QString statusOf(const char *operation, int id) {
    return QStringLiteral("000-000 = %1\r\n001-000 = %2\r\n999-999 = 0\r\n")
        .arg(QLatin1String(operation))
        .arg(id);
}

const char *kLibrary[] = {"libAPITEFOrvix.so", "libQ7_Bridge.so", "libQ7_Tef01.so"};

} // namespace

class TestRestart : public QObject {
    Q_OBJECT

private slots:
    void killedMidOperationStartsAgain_data() {
        QTest::addColumn<bool>("controllerRunning");
        // Between reading the request and starting the controller the request file is still
        // there: it is answered after the restart.
        QTest::newRow("before the controller starts") << false;
        QTest::newRow("while the controller runs") << true;
    }
    void killedMidOperationStartsAgain() {
        QFETCH(bool, controllerRunning);
        ServiceProcess service({QLatin1String(kLibrary[1])});
        service.writeConfig(1);
        QProcess *first = service.start();
        QTRY_VERIFY_WITH_TIMEOUT(service.logged(QStringLiteral("Monitoramento iniciando em")), 30000);

        QVERIFY(service.write(QStringLiteral("req/IntPos.001"), service.client.encode(request("CRT", 901))));
        if (controllerRunning)
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(service.dir.filePath(QStringLiteral("resp/IntPos.Sts"))),
                                     30000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(service.logged(QStringLiteral("Dados do arquivo lido")), 30000);
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(first->exitStatus(), QProcess::CrashExit);
        QCOMPARE(QFile::exists(service.dir.filePath(QStringLiteral("req/IntPos.001"))), !controllerRunning);

        QProcess *second = service.start(QStringLiteral("second.log"));
        if (!controllerRunning) {
            const QString response = service.dir.filePath(QStringLiteral("resp/IntPos.001"));
            QTRY_VERIFY_WITH_TIMEOUT(
                service.read(QStringLiteral("resp/IntPos.001")).contains("001-000 = 901"), 30000);
            QVERIFY(QFile::remove(response)); // taken by the sales application
        }
        const TefPosClient::Result next = service.client.send(request("CRT", 902));
        QCOMPARE(next.outcome, TefPosClient::Outcome::Approved);
        QCOMPARE(next.status, statusOf("CRT", 902).toUtf8());
        QCOMPARE(second->state(), QProcess::Running);
    }

    // SIGTERM while an operation runs and the next request already waits: the operation is
    // stopped as "CANCELAR" would and answered; the waiting request is neither taken nor
    // passed to the library, and the next start answers it.
    void stoppedMidOperation_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QJsonObject>("scenario");
        QTest::addColumn<QString>("busy");       // the call after which the operation is under way
        QTest::addColumn<QString>("waiting");    // the second request
        QTest::addColumn<QString>("secondCall"); // what the second request makes the library do
        QTest::addColumn<bool>("approved");
        QTest::addColumn<bool>("stuck");

        QTest::newRow("1 library busy for 4 s")
            << 1 << QJsonObject{{"demoraMs", QJsonObject{{"IniciaVenda", 4000}}}} << "IniciaVenda"
            << "CRT"
            << "IniciaVenda" << true << false;
        QTest::newRow("2 waiting for the operator")
            << 2
            << QJsonObject{{"RealizarPagamentoTEF",
                            QJsonArray{
                                QJsonObject{{"codigo", 0},
                                            {"mensagem", ""},
                                            {"tef", QJsonObject{{"automacao_coleta_tipo", "N"},
                                                                {"automacao_coleta_retorno", "0"},
                                                                {"automacao_coleta_sequencial", "1"}}}}}}}
            << "RealizarPagamentoTEF"
            << "CNF"
            << "RecuperarOperacaoTEF" << false << false;
        QTest::newRow("0 waiting for the operator") << 0 << QJsonObject() << "OrvixTEF_IniciarOperacaoTEF"
                                                    << "CNF"
                                                    << "OrvixTEF_ConfirmarOperacaoTEF" << false << false;
        QTest::newRow("1 library call that does not return")
            << 1 << QJsonObject{{"demoraMs", QJsonObject{{"IniciaVenda", 60000}}}} << "IniciaVenda"
            << "CRT"
            << "IniciaVenda" << false << true;
    }
    void stoppedMidOperation() {
        QFETCH(int, product);
        QFETCH(QJsonObject, scenario);
        QFETCH(QString, busy);
        QFETCH(QString, waiting);
        QFETCH(QString, secondCall);
        QFETCH(bool, approved);
        QFETCH(bool, stuck);
        ServiceProcess service({QLatin1String(kLibrary[product])});
        service.writeConfig(product);
        service.setScenario(scenario);
        QProcess *first = service.start();
        QTRY_VERIFY_WITH_TIMEOUT(service.logged(QStringLiteral("Monitoramento iniciando em")), 30000);
        QVERIFY(service.write(QStringLiteral("req/IntPos.001"), service.client.encode(request("CRT", 11))));
        QTRY_VERIFY_WITH_TIMEOUT(service.calls(busy).size() == 1, 30000);
        const int callsBefore = service.calls(secondCall).size();
        const QByteArray second = service.client.encode(request(waiting.toLatin1().constData(), 12));
        QVERIFY(service.write(QStringLiteral("req/IntPos.001"), second));

        QElapsedTimer timer;
        timer.start();
        first->terminate();
        QVERIFY(first->waitForFinished(15000));
        QVERIFY2(timer.elapsed() < 15000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        QVERIFY(!service.slotTaken());
        QCOMPARE(service.logged(QStringLiteral("{Error} \t\t [ServiceWiring] Operação não terminou a tempo")),
                 stuck);

        // The first request is answered, approved only when the library approved it.
        const TefPosClient::Fields response =
            TefPosClient::parse(QString::fromUtf8(service.read(QStringLiteral("resp/IntPos.001"))));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("001-000")), QStringLiteral("11"));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("009-000")) == QLatin1String("0"), approved);
        // The second one was not taken.
        QCOMPARE(service.read(QStringLiteral("req/IntPos.001")), second);
        QCOMPARE(service.calls(secondCall).size(), callsBefore);

        QVERIFY(QFile::remove(service.dir.filePath(QStringLiteral("resp/IntPos.001"))));
        service.setScenario(QJsonObject());
        service.start(QStringLiteral("second.log"));
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(service.read(QStringLiteral("resp/IntPos.Sts"))),
                                  statusOf(waiting.toLatin1().constData(), 12), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(service.calls(secondCall).size(), callsBefore + 1, 30000);
        QVERIFY(!QFile::exists(service.dir.filePath(QStringLiteral("req/IntPos.001"))));
    }

    // Product 2: sales the sales application had not confirmed when the service was killed are
    // confirmed or undone by its next CNF or NCN, as if nothing had happened.
    void pendingSalesSurviveKill_data() {
        QTest::addColumn<int>("sales");
        QTest::addColumn<QString>("settle");
        QTest::newRow("one sale, undone") << 1 << "NCN";
        QTest::newRow("one sale, confirmed") << 1 << "CNF";
        QTest::newRow("two sales, undone in order") << 2 << "NCN";
    }
    void pendingSalesSurviveKill() {
        QFETCH(int, sales);
        QFETCH(QString, settle);
        ServiceProcess service({QLatin1String(kLibrary[2])});
        service.writeConfig(2);
        QProcess *first = service.start();
        QTRY_VERIFY_WITH_TIMEOUT(service.logged(QStringLiteral("Monitoramento iniciando em")), 30000);
        QStringList sequencias;
        for (int i = 0; i < sales; ++i) {
            QCOMPARE(service.client.send(request("CRT", 30 + i)).outcome, TefPosClient::Outcome::Approved);
            const QJsonArray pending = QJsonDocument::fromJson(service.read(QStringLiteral("pendentes.json")))
                                           .object()
                                           .value(QLatin1String("pendentes"))
                                           .toArray();
            QCOMPARE(pending.size(), i + 1);
            sequencias << pending.last().toObject().value(QLatin1String("sequencial")).toString();
        }
        first->kill();
        QVERIFY(first->waitForFinished(10000));

        service.start(QStringLiteral("second.log"));
        QCOMPARE(service.client.send(request(settle.toLatin1().constData(), 40)).outcome,
                 TefPosClient::Outcome::Approved);
        QStringList settled;
        for (const QString &sequencial : qAsConst(sequencias))
            settled << QStringLiteral("%1:%2").arg(sequencial).arg(settle == QLatin1String("CNF") ? 1 : 0);
        const auto confirmations = [&service] {
            QStringList calls;
            for (const QJsonObject &call : service.calls(QStringLiteral("ConfirmarOperacaoTEF")))
                calls << QStringLiteral("%1:%2")
                             .arg(call.value(QLatin1String("sequencial")).toInt())
                             .arg(call.value(QLatin1String("confirmar")).toInt());
            return calls;
        };
        QTRY_COMPARE_WITH_TIMEOUT(confirmations(), settled, 20000);
        QTRY_COMPARE(QJsonDocument::fromJson(service.read(QStringLiteral("pendentes.json"))).object(),
                     QJsonObject({{QStringLiteral("pendentes"), QJsonArray()}}));
        QCOMPARE(service.logLines(QStringLiteral("second.log"))
                     .filter(QStringLiteral("[Q7_Tef_Controller] Transação pendente restaurada"))
                     .size(),
                 sales);
    }
};

QTEST_GUILESS_MAIN(TestRestart)
#include "tst_restart.moc"
