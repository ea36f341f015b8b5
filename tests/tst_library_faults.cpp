// A payment library that answers garbage: every product still answers the sales application,
// with a non-approval, and goes on answering the next request.
#include "ServiceHarness.h"
#include "base/Pause.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QTest>

class TestLibraryFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Pause::setScale(0.01);
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }

    void garbageIsDeclined_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QJsonObject>("scenario");
        QTest::addColumn<QString>("resultado"); // "009-000" of the response; empty when absent

        const auto bridge = [](const QJsonValue &reply) {
            return QJsonObject{{QStringLiteral("IniciaVenda"), reply}};
        };
        QTest::newRow("bridge malformed JSON")
            << 1 << "CRT"
            << bridge(QJsonObject{{QStringLiteral("text"), QStringLiteral("{\"q7_bridge_code\":")}})
            << "-9999";
        QTest::newRow("bridge empty text") << 1 << "CRT" << bridge(QStringLiteral("empty")) << "-9999";
        QTest::newRow("bridge null pointer") << 1 << "CRT" << bridge(QJsonValue::Null) << "-9999";

        // Tef01 answers without "009-000": anything but "0" is no approval to the sales application.
        const auto tef = [](const char *entryPoint, const QJsonValue &reply) {
            return QJsonObject{{QLatin1String(entryPoint), reply}};
        };
        QTest::newRow("Tef01 malformed JSON")
            << 2 << "CRT" << tef("RealizarPagamentoTEF", QStringLiteral("{\"codigo\":0,")) << "";
        QTest::newRow("Tef01 empty text") << 2 << "CRT" << tef("RealizarPagamentoTEF", QString()) << "";
        QTest::newRow("Tef01 null pointer")
            << 2 << "CRT" << tef("RealizarPagamentoTEF", QJsonValue::Null) << "";
        QTest::newRow("Tef01 null pointer at start")
            << 2 << "CRT" << tef("IniciarOperacaoTEF", QJsonValue::Null) << "";

        // Pagora's step functions write into the service's buffer: no null pointer there. An
        // administrative operation (reprint, from the service's menu) always calls the library.
        const auto pagora = [](const QJsonObject &reply) {
            return QJsonObject{{QStringLiteral("OrvixTEF_RealizarAdmTEF"), reply}};
        };
        QTest::newRow("Pagora malformed JSON")
            << 0 << "ADM" << pagora({{QStringLiteral("texto"), QStringLiteral("{\"SequenciaCaptura\":")}})
            << "-1";
        QTest::newRow("Pagora empty text")
            << 0 << "ADM" << pagora({{QStringLiteral("texto"), QString()}}) << "-1";
        QTest::newRow("Pagora capture document without terminating zero")
            << 0 << "ADM"
            << pagora({{QStringLiteral("texto"), QStringLiteral("{\"SequenciaCaptura\":99,\"Status\":0}")},
                       {QStringLiteral("semTerminador"), true}})
            << "-1";
    }
    void garbageIsDeclined() {
        QFETCH(int, product);
        QFETCH(QString, operation);
        QFETCH(QJsonObject, scenario);
        QFETCH(QString, resultado);

        ServiceHarness service;
        service.setScenario(scenario);
        service.start(product);
        service.chooseInLists(1);
        {
            Exchange exchange(service.client, {{QStringLiteral("000-000"), operation},
                                               {QStringLiteral("001-000"), QStringLiteral("801")},
                                               {QStringLiteral("003-000"), QStringLiteral("1000")}});
            QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
            QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::Declined);
            const TefPosClient::Fields response =
                TefPosClient::parse(QString::fromUtf8(exchange.result().response));
            QCOMPARE(TefPosClient::value(response, QStringLiteral("009-000")), resultado);
        }
        QTRY_VERIFY(service.controller()->isFinished());

        // Still watching and answering.
        Exchange next(service.client, {{QStringLiteral("000-000"), QStringLiteral("ATV")},
                                       {QStringLiteral("001-000"), QStringLiteral("802")}});
        QTRY_VERIFY_WITH_TIMEOUT(next.done(), 20000);
        QCOMPARE(next.result().outcome, TefPosClient::Outcome::Approved);
        QTRY_VERIFY(service.controller()->isFinished());
    }
};

QTEST_MAIN(TestLibraryFaults)
#include "tst_library_faults.moc"
