// The whole service in-process: configuration, monitor, controller, window and the
// replacement payment libraries, driven through the file exchange like a sales application.
#include "ServiceHarness.h"
#include "TestFiles.h"
#include "app/ServiceWiring.h"
#include "base/Pause.h"
#include "controllers/Base_Controller.h"
#include "exchange/MonitoraDiretorio.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

namespace {

TefPosClient::Fields sale(const QString &id, const QString &amount = QStringLiteral("1000")) {
    return {{QStringLiteral("000-000"), QStringLiteral("CRT")},
            {QStringLiteral("001-000"), id},
            {QStringLiteral("002-000"), QStringLiteral("98393")},
            {QStringLiteral("003-000"), amount},
            {QStringLiteral("004-000"), QStringLiteral("0")}};
}

} // namespace

class TestService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Pause::setScale(0.01);
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }

    void init() { m_service = std::make_unique<ServiceHarness>(); }
    void cleanup() { m_service.reset(); }

    void firstWindowState_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("0 Pagora") << 0 << QStringList{QStringLiteral("showWindow(false)")};
        QTest::newRow("1 bridge") << 1 << QStringList{QStringLiteral("disableButtonOK(true)"),
                                                      QStringLiteral("disableButtonVoltar(true)"),
                                                      QStringLiteral("disableButtonCancelar(true)"),
                                                      QStringLiteral("disableTextField(true)"),
                                                      QStringLiteral("disableListView(true)"),
                                                      QStringLiteral("showWindow(false)")};
        QTest::newRow("2 Tef01") << 2 << QStringList{QStringLiteral("showWindow(false)")};
    }
    void firstWindowState() {
        QFETCH(int, product);
        QFETCH(QStringList, expected);
        QStringList seen;
        m_service->start(product, [&seen](int produto, const QString &directory) {
            Base_Controller *controller = ServiceWiring::createController(produto, directory);
            const auto record = [&seen, controller](const char *name, void (Base_Controller::*signal)(bool)) {
                QObject::connect(controller, signal, controller, [&seen, name](bool value) {
                    seen << QStringLiteral("%1(%2)").arg(QLatin1String(name), value ? QLatin1String("true")
                                                                                    : QLatin1String("false"));
                });
            };
            record("disableButtonOK", &Base_Controller::disableButtonOK);
            record("disableButtonVoltar", &Base_Controller::disableButtonVoltar);
            record("disableButtonCancelar", &Base_Controller::disableButtonCancelar);
            record("disableTextField", &Base_Controller::disableTextField);
            record("disableListView", &Base_Controller::disableListView);
            record("disableProgressBar", &Base_Controller::disableProgressBar);
            record("showWindow", &Base_Controller::showWindow);
            return controller;
        });
        QCOMPARE(seen, expected);
        QCoreApplication::processEvents();
        QVERIFY(!m_service->window()->isVisible());
    }

    void bridgeSale() {
        m_service->start(1);
        Exchange exchange(m_service->client, sale(QStringLiteral("501")));
        QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
        QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::Approved);
        QCOMPARE(exchange.result().status, QByteArray("000-000 = CRT\r\n001-000 = 501\r\n999-999 = 0\r\n"));
        const TefPosClient::Fields response =
            TefPosClient::parse(QString::fromUtf8(exchange.result().response));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("000-000")), QStringLiteral("CRT"));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("009-000")), QStringLiteral("0"));
        QVERIFY(TefPosClient::value(response, QStringLiteral("028-000")).toInt() > 0);
        QVERIFY(!QFile::exists(m_service->client.responseDir + QStringLiteral("/arquivo_tef.tmp")));
        QVERIFY(!QFile::exists(m_service->client.responseDir +
                               QStringLiteral("/IntPos.001"))); // the client took it
    }

    void bridgeInvalidRequestIsAnswered() {
        m_service->start(1);
        QVERIFY(writeFile(m_service->client.requestDir + QStringLiteral("/IntPos.001"),
                          "000-000 = CRT\n001-000 = 77\n"));
        const QString response = m_service->client.responseDir + QStringLiteral("/IntPos.001");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(response), 20000);
        const TefPosClient::Fields fields = TefPosClient::parse(QString::fromUtf8(readFile(response)));
        QCOMPARE(TefPosClient::value(fields, QStringLiteral("001-000")), QStringLiteral("77"));
        QCOMPARE(TefPosClient::value(fields, QStringLiteral("009-000")), QStringLiteral("-9999"));
    }

    void statusOnlyCodes_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("operation");
        for (int product : {0, 1, 2})
            for (const char *operation : {"ATV", "CNF", "NCN"})
                QTest::addRow("%d %s", product, operation) << product << QString::fromLatin1(operation);
    }
    void statusOnlyCodes() {
        QFETCH(int, product);
        QFETCH(QString, operation);
        m_service->start(product);
        Exchange exchange(m_service->client, {{QStringLiteral("000-000"), operation},
                                              {QStringLiteral("001-000"), QStringLiteral("900")},
                                              {QStringLiteral("010-000"), QStringLiteral("REDE")},
                                              {QStringLiteral("012-000"), QStringLiteral("123")},
                                              {QStringLiteral("027-000"), QStringLiteral("ABC")}});
        QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
        QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::Approved);
        QTRY_VERIFY(m_service->controller()->isFinished());
        QTest::qWait(50);
        QCOMPARE(QDir(m_service->client.responseDir).entryList(QDir::Files),
                 QStringList{QStringLiteral("IntPos.Sts")});
    }

    void requestWaitingAtStart() {
        QVERIFY(QDir().mkpath(m_service->client.requestDir));
        QVERIFY(writeFile(m_service->client.requestDir + QStringLiteral("/IntPos.001"),
                          "000-000 = CRT\n001-000 = 321\n003-000 = 1500\n999-999 = 0\n"));
        m_service->start(1);
        const QString response = m_service->client.responseDir + QStringLiteral("/IntPos.001");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(response), 20000);
        QCOMPARE(TefPosClient::value(TefPosClient::parse(QString::fromUtf8(readFile(response))),
                                     QStringLiteral("009-000")),
                 QStringLiteral("0"));
    }

    void tefSaleWithPromptsThenConfirmation() {
        m_service->setScenario(R"({"RealizarPagamentoTEF": [
            {"codigo": 0, "mensagem": "", "tef": {"automacao_coleta_mensagem": "FORMA DE PAGAMENTO",
             "automacao_coleta_opcao": "A VISTA;PARCELADO", "automacao_coleta_retorno": "0",
             "automacao_coleta_sequencial": "1"}},
            {"codigo": 0, "mensagem": "", "tef": {"automacao_coleta_mensagem": "ULTIMOS 4 DIGITOS",
             "automacao_coleta_tipo": "N", "automacao_coleta_retorno": "0", "automacao_coleta_sequencial": "2"}},
            {"codigo": 0, "mensagem": "Transação aprovada", "tef": {"resultadoTransacao": "0",
             "mensagemResultado": "TRANSACAO APROVADA", "sequencial": "1",
             "comprovanteDiferenciadoLoja": "COMPROVANTE LOJA\r\nVALOR: R$ 10,00"}}]})");
        m_service->start(2);
        Exchange exchange(m_service->client, sale(QStringLiteral("601")));

        QTRY_VERIFY_WITH_TIMEOUT(m_service->item("rec")->isVisible(), 20000);
        QTRY_COMPARE(m_service->item("list")->property("count").toInt(), 2);
        QVERIFY(QTest::qWaitForWindowActive(m_service->window()));
        QTest::keyClick(m_service->window(), Qt::Key_2);
        QTest::keyClick(m_service->window(), Qt::Key_Enter);

        QTRY_VERIFY_WITH_TIMEOUT(m_service->item("textField")->isVisible(), 20000);
        QTRY_VERIFY(m_service->item("textField")->hasActiveFocus());
        type("42");
        QTest::keyClick(m_service->window(), Qt::Key_Return);

        QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
        QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::Approved);
        const TefPosClient::Fields response =
            TefPosClient::parse(QString::fromUtf8(exchange.result().response));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("001-000")), QStringLiteral("601"));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("029-001")),
                 QStringLiteral("COMPROVANTE LOJA"));

        const QList<QJsonObject> dialogue = m_service->calls(QStringLiteral("RealizarPagamentoTEF"));
        QCOMPARE(dialogue.size(), 3);
        QCOMPARE(transactionMember(dialogue.at(1), "automacao_coleta_informacao"),
                 QStringLiteral("PARCELADO"));
        QCOMPARE(transactionMember(dialogue.at(2), "automacao_coleta_informacao"), QStringLiteral("42"));
        QTRY_VERIFY(m_service->controller()->isFinished());

        Exchange confirmation(m_service->client, {{QStringLiteral("000-000"), QStringLiteral("CNF")},
                                                  {QStringLiteral("001-000"), QStringLiteral("602")},
                                                  {QStringLiteral("027-000"), QStringLiteral("1")}});
        QTRY_VERIFY_WITH_TIMEOUT(confirmation.done(), 20000);
        QCOMPARE(confirmation.result().outcome, TefPosClient::Outcome::Approved);
        QTRY_COMPARE(m_service->calls(QStringLiteral("ConfirmarOperacaoTEF")).size(), 1);
        const QJsonObject confirm = m_service->calls(QStringLiteral("ConfirmarOperacaoTEF")).first();
        QCOMPARE(confirm.value(QLatin1String("sequencial")).toInt(), 1);
        QCOMPARE(confirm.value(QLatin1String("confirmar")).toInt(), 1);
    }

    void pagoraSaleThroughMenus_data() {
        QTest::addColumn<bool>("tefDial");
        QTest::newRow("padrao") << false;
        QTest::newRow("tefdial") << true;
    }
    void pagoraSaleThroughMenus() {
        QFETCH(bool, tefDial);
        m_service->start(0, nullptr,
                         tefDial ? QStringLiteral(", \"compatibilidade\": \"tefdial\"") : QString());
        Exchange exchange(m_service->client, sale(QStringLiteral("701")));

        // The sale menu: "2 - Pagamento crédito".
        QTRY_VERIFY_WITH_TIMEOUT(m_service->item("rec")->isVisible(), 20000);
        QVERIFY(QTest::qWaitForWindowActive(m_service->window()));
        QTest::keyClick(m_service->window(), Qt::Key_2);
        QTest::keyClick(m_service->window(), Qt::Key_Enter);

        // The library's own screens: instalments, then the card's last digits.
        QTRY_COMPARE_WITH_TIMEOUT(m_service->item("list")->property("count").toInt(), 3, 20000);
        QTRY_VERIFY(m_service->item("rec")->isVisible());
        QTest::keyClick(m_service->window(), Qt::Key_1);
        QTest::keyClick(m_service->window(), Qt::Key_Enter);
        QTRY_VERIFY_WITH_TIMEOUT(m_service->item("textField")->isVisible() &&
                                     m_service->item("textField")->hasActiveFocus(),
                                 20000);
        type("1234");
        QTest::keyClick(m_service->window(), Qt::Key_Enter);

        QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 30000);
        QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::Approved);
        const QString text = QString::fromUtf8(exchange.result().response);
        QVERIFY2(text.endsWith(QStringLiteral("999-999 = 0\r\n")), qPrintable(text));
        const TefPosClient::Fields response = TefPosClient::parse(text);
        QCOMPARE(TefPosClient::value(response, QStringLiteral("001-000")), QStringLiteral("701"));
        QVERIFY(TefPosClient::value(response, QStringLiteral("028-000")).toInt() > 0);
        QVERIFY(!TefPosClient::value(response, QStringLiteral("029-001")).isEmpty());
        QVERIFY(m_service->calls(QStringLiteral("OrvixTEF_RealizarPagamentoTEF")).size() >= 3);
        QCOMPARE(m_service->calls(QStringLiteral("OrvixTEF_RealizarPagamentoTEF"))
                     .first()
                     .value(QLatin1String("tipo"))
                     .toInt(),
                 2);
        if (!tefDial)
            return;
        // Credit in one payment; the cardholder's copy counted, the store's after it.
        const auto value = [&response](const char *tag) {
            return TefPosClient::value(response, QLatin1String(tag));
        };
        QCOMPARE(value("011-000"), QStringLiteral("10"));
        QVERIFY(value("029-006").contains(QStringLiteral("VIA: CLIENTE")));
        const int count = value("028-000").toInt();
        QVERIFY(value(QStringLiteral("029-%1").arg(count + 6, 3, 10, QLatin1Char('0')).toLatin1())
                    .contains(QStringLiteral("VIA: ESTABELECIMENTO")));
        QCOMPARE(value("022-000"), QDate::currentDate().toString(QStringLiteral("ddMMyyyy")));
        QCOMPARE(value("729-000"), QStringLiteral("2"));
        QVERIFY(!value("027-000").isEmpty());
    }

    void shutdownWhileWaitingForTheOperator() {
        m_service->setScenario(R"({"RealizarPagamentoTEF": [
            {"codigo": 0, "mensagem": "", "tef": {"automacao_coleta_mensagem": "ESCOLHA",
             "automacao_coleta_opcao": "A;B", "automacao_coleta_retorno": "0", "automacao_coleta_sequencial": "1"}}]})");
        m_service->start(2);
        Exchange exchange(m_service->client, sale(QStringLiteral("801")));
        QTRY_VERIFY_WITH_TIMEOUT(m_service->item("rec")->isVisible(), 20000);
        QVERIFY(m_service->controller()->isRunning());

        QElapsedTimer timer;
        timer.start();
        m_service->stop();
        QVERIFY(timer.elapsed() < qint64(ServiceWiring::kShutdownWaitMs));
        QTRY_VERIFY(logLines().contains(QStringLiteral("{Info} \t\t [Base_Controller] Destruído")));
        // The cancelled sale is still answered.
        QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
        QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::Declined);
    }

    // A cancel that comes while a library step runs, from the operator or from the service
    // stopping, goes out with the next step, and the operation ends there.
    void cancelDuringSlowStep_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("shutdown");
        for (bool shutdown : {false, true}) {
            const char *how = shutdown ? "service stopped" : "CANCELAR";
            QTest::addRow("0 %s", how) << 0 << QStringLiteral("OrvixTEF_RealizarPagamentoTEF") << shutdown;
            QTest::addRow("2 %s", how) << 2 << QStringLiteral("RealizarPagamentoTEF") << shutdown;
        }
    }
    void cancelDuringSlowStep() {
        QFETCH(int, product);
        QFETCH(QString, step);
        QFETCH(bool, shutdown);
        m_service->setScenario(QJsonObject{{QStringLiteral("demoraMs"), QJsonObject{{step, 1000}}}});
        m_service->start(product);
        m_service->chooseInLists(0); // Pagora's sale menu: debit
        Exchange exchange(m_service->client, sale(QStringLiteral("990")));
        QTRY_COMPARE_WITH_TIMEOUT(m_service->calls(step).size(), 1, 20000);
        if (shutdown)
            m_service->stop();
        else
            m_service->controller()->onClickButtonCancelar();

        QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
        QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::Declined);
        const QList<QJsonObject> steps = m_service->calls(step);
        QCOMPARE(steps.size(), 2);
        const QJsonObject sent =
            QJsonDocument::fromJson(
                steps.last()
                    .value(product == 0 ? QLatin1String("captura") : QLatin1String("dadosTransacao"))
                    .toString()
                    .toUtf8())
                .object();
        if (product == 0)
            QCOMPARE(sent.value(QLatin1String("TipoFluxo")).toInt(), 2);
        else
            QCOMPARE(sent.value(QLatin1String("automacao_coleta_retorno")).toString(), QStringLiteral("9"));
    }

    void tefposCommandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed");
        QTest::newRow("approved sale")
            << QStringList{QStringLiteral("CRT"), QStringLiteral("--amount"), QStringLiteral("2550"),
                           QStringLiteral("--id"), QStringLiteral("901")}
            << 0 << QStringLiteral("009-000 = 0");
        QTest::newRow("ATV") << QStringList{QStringLiteral("ATV"), QStringLiteral("--id"),
                                            QStringLiteral("902")}
                             << 0 << QStringLiteral("000-000 = ATV\r\n001-000 = 902\r\n999-999 = 0");
        QTest::newRow("declined sale")
            << QStringList{QStringLiteral("CRT"),  QStringLiteral("--amount"), QStringLiteral("100"),
                           QStringLiteral("--id"), QStringLiteral("903"),      QStringLiteral("--card-type"),
                           QStringLiteral("1")}
            << 1 << QStringLiteral("009-000 = 5");
    }
    void tefposCommandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        m_service->setScenario(R"({"IniciaVendaCredito": {"declined": 5, "message": "NAO AUTORIZADA"}})");
        m_service->start(1);
        QProcess tefpos;
        tefpos.start(QStringLiteral(Q7_BIN_DIR "/tefpos"),
                     QStringList{QStringLiteral("--config"),
                                 m_service->dir.filePath(QStringLiteral("config_tef.json"))} +
                         arguments);
        QTRY_COMPARE_WITH_TIMEOUT(tefpos.state(), QProcess::NotRunning, 20000);
        const QString output = QString::fromUtf8(tefpos.readAllStandardOutput());
        QVERIFY2(output.contains(printed), qPrintable(output));
        QCOMPARE(tefpos.exitCode(), exitCode);
    }

    void managerNotActive() {
        QVERIFY(QDir().mkpath(m_service->client.requestDir));
        m_service->client.statusTimeoutMs = 300;
        Exchange exchange(m_service->client, sale(QStringLiteral("950")));
        QTRY_VERIFY(exchange.done());
        QCOMPARE(exchange.result().outcome, TefPosClient::Outcome::NotActive);
        // The request is taken back, so a manager started later does not run a stale sale.
        QVERIFY(!QFile::exists(m_service->client.requestDir + QStringLiteral("/IntPos.001")));
    }

    void responseOfAnotherRequestIsDiscarded() {
        m_service->setScenario(R"({"RealizarPagamentoTEF": [
            {"codigo": 0, "mensagem": "", "tef": {"automacao_coleta_opcao": "A;B",
             "automacao_coleta_retorno": "0", "automacao_coleta_sequencial": "1"}}]})");
        m_service->start(2);
        const QString stale = m_service->client.responseDir + QStringLiteral("/IntPos.001");
        QVERIFY(writeFile(stale, "000-000 = CRT\r\n001-000 = 111\r\n009-000 = 0\r\n999-999 = 0\r\n"));
        Exchange exchange(m_service->client, sale(QStringLiteral("960")));
        QTRY_VERIFY_WITH_TIMEOUT(m_service->item("rec")->isVisible(), 20000);
        QTRY_VERIFY(!QFile::exists(stale));
        QTest::keyClick(m_service->window(), Qt::Key_Escape); // the operator gives up
        QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
        QCOMPARE(exchange.result().discarded, 1);
        QCOMPARE(TefPosClient::value(TefPosClient::parse(QString::fromUtf8(exchange.result().response)),
                                     QStringLiteral("001-000")),
                 QStringLiteral("960"));
    }

private:
    void type(const char *text) const {
        for (const char *c = text; *c; ++c)
            QTest::keyClick(m_service->window(), *c);
    }

    // A member of the transaction document a dialogue call received.
    static QString transactionMember(const QJsonObject &call, const char *member) {
        QJsonValue document = call.value(QLatin1String("dadosTransacao"));
        if (document.isString())
            document = QJsonDocument::fromJson(document.toString().toUtf8()).object();
        return document.toObject().value(QLatin1String(member)).toString();
    }

    QStringList logLines() const {
        QStringList lines;
        const QByteArray bytes =
            readFile(m_service->dir.filePath(QStringLiteral("logs/")) +
                     QDate::currentDate().toString(QStringLiteral("ddMMyy")) + QStringLiteral("_Q7-LOG.txt"));
        for (const QByteArray &line : bytes.split('\n'))
            if (!line.isEmpty())
                lines << QString::fromLocal8Bit(line).mid(38);
        return lines;
    }

    std::unique_ptr<ServiceHarness> m_service;
};

QTEST_MAIN(TestService)
#include "tst_service.moc"
