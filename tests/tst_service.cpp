// The whole service in-process (ServiceHarness): configuration, monitor, controller, window and
// the replacement payment libraries, driven through the file exchange like a sales application.
#include "MessageCapture.h"
#include "ServiceHarness.h"
#include "base/Pause.h"

#include <QDate>
#include <QGuiApplication>
#include <QRegularExpression>

using Outcome = TefPosClient::Outcome;

namespace {

const QString kSenha = "Qk7zTwx";
const QString kCartao = "4761739001010119";
const QString kTrilha = "29121010000012345678"; // track data after the card number

// Every request carries a password and a card number, which no log may show in clear.
TefPosClient::Fields request(const QString &operation, const QString &id) {
    return {{"000-000", operation},
            {"001-000", id},
            {"002-000", "NF " + kCartao},
            {"003-000", "1000"},
            {"011-000", "3"},
            {"012-000", "123456"},
            {"022-000", QDate::currentDate().toString("ddMMyyyy")},
            {"023-000", "101010"},
            {"375-024", "gerente"},
            {"375-025", kSenha}};
}

// What of a secret is in `text`: Luhn-valid runs of 13 to 19 digits, grouped ones as one (the merchant's
// identifier is none), the password, track data.
QStringList leaks(QString text) {
    QStringList found;
    text.remove(QRegularExpression("150-000 = \\d{15}\\b|(?<=\\d)[ .-](?=\\d)"));
    QRegularExpressionMatchIterator it = QRegularExpression("(?<!\\d)\\d{13,19}(?!\\d)").globalMatch(text);
    while (it.hasNext()) {
        const QString digits = it.next().captured();
        int sum = 0;
        for (int i = 0; i < digits.size(); ++i) {
            const int digit = digits.at(digits.size() - 1 - i).digitValue() * (i % 2 + 1);
            sum += digit > 9 ? digit - 9 : digit;
        }
        if (sum % 10 == 0)
            found << digits;
    }
    for (const QString &secret : {kSenha, kTrilha.left(8)})
        if (text.contains(secret))
            found << secret;
    return found;
}

} // namespace

class TestService : public QObject {
    Q_OBJECT

    std::unique_ptr<ServiceHarness> s;

private slots:
    void initTestCase() {
        Pause::setScale(0.01);
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }
    void init() { s = std::make_unique<ServiceHarness>(); }
    void cleanup() { s.reset(); }

    // One request already waiting when the service starts, then an ATV: answered, with every
    // secret masked in the logs and in Qt's message output, and left as it is in the files.
    void exchange_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QString>("resultado"); // "009-000" of the response; null: no response file
        // Approvals carrying every secret the libraries may return, the same from each entry point.
        const QJsonDocument secrets = QJsonDocument::fromJson(readFile(Q7_TEST_DATA "/service/secrets.json"));
        for (const char *operation : {"ATV", "CNF", "NCN", "CRT", "CNC", "ADM"})
            for (int product : {0, 1, 2}) {
                const bool answered = TefPosClient::expectsResponse(operation);
                const QJsonValue approval = secrets[QString::number(product)];
                QJsonObject scenario;
                for (const QJsonValue &entryPoint : approval["chamadas"].toArray())
                    scenario.insert(entryPoint.toString(), approval["resposta"]);
                QTest::addRow("%d %s", product, operation)
                    << product << operation << (answered ? QJsonDocument(scenario).toJson() : "")
                    << (answered ? "0" : QString());
            }
        // A library that answers garbage: a non-approval.
        const auto garbage = [](const char *name, int product, const char *operation, const char *scenario,
                                const char *resultado) {
            QTest::newRow(name) << product << operation << QByteArray(scenario) << resultado;
        };
        // Plain literals for the broken documents: moc misreads escapes and unpaired braces in raw strings.
        garbage("bridge malformed JSON", 1, "CRT",
                "{\"IniciaVenda\": {\"text\": \"{\\\"q7_bridge_code\\\":\"}}", "-9999");
        garbage("bridge empty text", 1, "CRT", R"({"IniciaVenda": "empty"})", "-9999");
        garbage("bridge null pointer", 1, "CRT", R"({"IniciaVenda": null})", "-9999");
        garbage("Tef01 malformed JSON", 2, "CRT", "{\"RealizarPagamentoTEF\": \"{\\\"codigo\\\":0,\"}", "-1");
        garbage("Tef01 empty text", 2, "CRT", R"({"RealizarPagamentoTEF": ""})", "-1");
        garbage("Tef01 null pointer", 2, "CRT", R"({"RealizarPagamentoTEF": null})", "-1");
        garbage("Tef01 null pointer at start", 2, "CRT", R"({"IniciarOperacaoTEF": null})", "-1");
        // Pagora's step functions write into the service's buffer: no null pointer there. A
        // reprint (the service's own menu, second row) always calls the library.
        garbage("Pagora malformed JSON", 0, "ADM",
                "{\"OrvixTEF_RealizarAdmTEF\": {\"texto\": \"{\\\"SequenciaCaptura\\\":\"}}", "-1");
        garbage("Pagora empty text", 0, "ADM", R"({"OrvixTEF_RealizarAdmTEF": {"texto": ""}})", "-1");
        garbage(
            "Pagora document without terminating zero", 0, "ADM",
            "{\"OrvixTEF_RealizarAdmTEF\": {\"texto\": \"{\\\"SequenciaCaptura\\\":99,\\\"Status\\\":0}\", "
            "\"semTerminador\": true}}",
            "-1");
    }
    void exchange() {
        QFETCH(int, product);
        QFETCH(QString, operation);
        QFETCH(QByteArray, scenario);
        QFETCH(QString, resultado);
        if (!scenario.isEmpty())
            s->setScenario(scenario);
        s->listAnswer = 1;               // the Pagora menus: credit sale, or reprint
        const MessageCapture output(""); // all of Qt's message output
        QVERIFY(QDir().mkpath(s->client.requestDir));
        // The client takes back only a response that names its request as it wrote it.
        Exchange first(s->client, request(operation, "0801"));
        QTRY_VERIFY(QFile::exists(s->client.requestDir + "/IntPos.001"));
        s->start(product);

        QTRY_VERIFY_WITH_TIMEOUT(first.done(), 20000);
        QCOMPARE(first.result().status,
                 QString("000-000 = %1\r\n001-000 = 0801\r\n999-999 = 0\r\n").arg(operation).toUtf8());
        QCOMPARE(first.result().outcome,
                 resultado == "0" || resultado.isNull() ? Outcome::Approved : Outcome::Declined);
        QCOMPARE(field(first.result().response, "009-000"), resultado);
        QVERIFY(resultado == "0" || resultado.isNull() ||
                !field(first.result().response, "030-000").isEmpty());
        QCOMPARE(field(first.result().response, "002-000"),
                 resultado.isNull() || operation == "ADM" ? "" : "NF " + kCartao);
        QTRY_VERIFY(s->controller()->isFinished());
        QTest::qWait(50);
        QCOMPARE(QDir(s->client.responseDir).entryList(QDir::Files).join(' '), QString("IntPos.Sts"));
        Exchange next(s->client, request("ATV", "802"));
        QTRY_VERIFY_WITH_TIMEOUT(next.done(), 20000);
        QCOMPARE(next.result().outcome, Outcome::Approved);
        // In the tray from the start, and after what shows no screen.
        QVERIFY(TefPosClient::expectsResponse(operation) || !s->window()->isVisible());
        s->stop();

        QStringList logs;
        for (const QString &name : QDir(s->path("logs")).entryList(QDir::Files))
            logs << QString::fromUtf8(s->read("logs/" + name));
        QVERIFY(!logs.isEmpty());
        for (const QString &text : logs + QStringList{MessageCapture::lines().join('\n')}) {
            QCOMPARE(leaks(text), QStringList());
            QVERIFY(text.contains("476173******0119") && text.contains("375-025 = ****"));
        }
        QVERIFY(logs.join(' ').contains("\"adm_senha\":\"****\""));
        // One summary line per operation, whatever the time it took: a sale's whole, then how each ended.
        QStringList summary = logs.join('\n').split('\n').filter("[Resumo]");
        summary.replaceInStrings(QRegularExpression("^.*\\[Resumo\\] |(?<=tempo=)\\d+"), "");
        if (product == 0 && operation == "CRT")
            QCOMPARE(summary.value(0), "CRT id=0801 valor=1000 produto=0 resultado=0 texto=\"TRANSACAO "
                                       "APROVADA\" nsu=123456 controle= tempo= ms; resposta entregue");
        const QString tail = " id=0801 produto=" + QString::number(product) + " tempo= ms; liquidada";
        QCOMPARE(summary.mid(resultado.isNull() ? 0 : 1),
                 QStringList() << (resultado.isNull() ? operation + tail
                                                      : operation + " id=0801: resposta lida pela automação")
                               << "ATV" + QString(tail).replace("0801", "802"));
        QVERIFY(resultado != "0" || first.result().response.contains(kCartao.toUtf8()));
    }

    void tefSaleWithPrompts() {
        s->setScenario(R"({"RealizarPagamentoTEF": [
            {"codigo": 0, "mensagem": "", "tef": {"automacao_coleta_mensagem": "FORMA DE PAGAMENTO",
             "automacao_coleta_opcao": "A VISTA;PARCELADO", "automacao_coleta_retorno": "0",
             "automacao_coleta_sequencial": "1"}},
            {"codigo": 0, "mensagem": "", "tef": {"automacao_coleta_mensagem": "ULTIMOS 4 DIGITOS",
             "automacao_coleta_tipo": "N", "automacao_coleta_retorno": "0", "automacao_coleta_sequencial": "2"}},
            {"codigo": 0, "mensagem": "Transação aprovada", "tef": {"resultadoTransacao": "0",
             "mensagemResultado": "TRANSACAO APROVADA", "sequencial": "1",
             "comprovanteDiferenciadoLoja": "COMPROVANTE LOJA\r\nVALOR: R$ 10,00"}}]})");
        s->start(2);
        // A response of another request, left behind: the client discards it.
        QVERIFY(
            s->write("resp/IntPos.001", "000-000 = CRT\r\n001-000 = 111\r\n009-000 = 0\r\n999-999 = 0\r\n"));
        Exchange sale(s->client, request("CRT", "601"));
        QTRY_VERIFY_WITH_TIMEOUT(s->item("rec")->isVisible() && s->item("list")->property("count") == 2,
                                 20000);
        QTRY_VERIFY(!QFile::exists(s->path("resp/IntPos.001")));
        QVERIFY(QTest::qWaitForWindowActive(s->window()));
        s->press("2 Enter");
        QTRY_VERIFY_WITH_TIMEOUT(s->item("textField")->hasActiveFocus(), 20000);
        s->press("4 2 Return");

        QTRY_VERIFY_WITH_TIMEOUT(sale.done(), 20000);
        QCOMPARE(sale.result().outcome, Outcome::Approved);
        QCOMPARE(sale.result().discarded, 1);
        QCOMPARE(field(sale.result().response, "001-000") + ' ' + field(sale.result().response, "029-001"),
                 QString("601 COMPROVANTE LOJA"));
        QCOMPARE(s->collected(), QString("|PARCELADO|42"));
    }

    // In the TEF Dial layout; the exchange rows answer Pagora's sales in the standard one.
    void pagoraSaleThroughMenus() {
        s->start(0, ", \"compatibilidade\": \"tefdial\"");
        Exchange sale(s->client, request("CRT", "701"));
        // The sale menu: "2 - Pagamento crédito"; then the library's own screens: instalments,
        // and the card's last digits.
        QTRY_VERIFY_WITH_TIMEOUT(s->item("rec")->isVisible(), 20000);
        QVERIFY(QTest::qWaitForWindowActive(s->window()));
        s->press("2 Enter");
        QTRY_VERIFY_WITH_TIMEOUT(s->item("rec")->isVisible() && s->item("list")->property("count") == 3,
                                 20000);
        s->press("1 Enter");
        QTRY_VERIFY_WITH_TIMEOUT(s->item("textField")->hasActiveFocus(), 20000);
        s->press("1 2 3 4 Enter");

        QTRY_VERIFY_WITH_TIMEOUT(sale.done(), 30000);
        QCOMPARE(sale.result().outcome, Outcome::Approved);
        const QByteArray &response = sale.result().response;
        QVERIFY2(response.endsWith("999-999 = 0\r\n") && field(response, "028-000").toInt() > 0, response);
        QVERIFY(field(response, "001-000") == "701" && !field(response, "029-001").isEmpty());
        QVERIFY(s->calls("OrvixTEF_RealizarPagamentoTEF").size() >= 3);
        QCOMPARE(s->calls("OrvixTEF_RealizarPagamentoTEF").first()["tipo"].toInt(), 2);
        // The configured layout reaches the writer (tst_protocolo checks the layouts themselves).
        QVERIFY(!field(response, "027-000").isNull());
    }

    // Product 0 shows the CNC's NSU and date in the library's prompts; the TEF Dial response names that sale.
    void tefDialCancellation() {
        s->start(0, ", \"compatibilidade\": \"tefdial\"");
        Exchange cancellation(s->client, request("CNC", "702"));
        for (const QString &shown : {QString("123456"), QDate::currentDate().toString("ddMMyy")}) {
            QTRY_VERIFY_WITH_TIMEOUT(s->item("textField")->property("text") == shown, 20000);
            QVERIFY(QTest::qWaitForWindowActive(s->window()));
            s->press("Return");
        }
        QTRY_VERIFY_WITH_TIMEOUT(cancellation.done(), 30000);
        const QByteArray &response = cancellation.result().response;
        QCOMPARE(field(response, "025-000") + ' ' + field(response, "026-000") + field(response, "011-000"),
                 "123456 " + QDate::currentDate().toString("ddMM") + "101010");
    }

    // A cancel that comes while a library step runs, from the operator or from the service
    // stopping, goes out with the next step, and the operation ends there; one that comes while
    // the library starts up starts no step at all.
    void cancelDuringSlowStep_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<bool>("shutdown");
        QTest::addColumn<bool>("stepping");
        for (bool stepping : {true, false})
            for (bool shutdown : {false, true})
                for (int product : {0, 2})
                    QTest::addRow("%d %s %s", product, shutdown ? "service stopped" : "CANCELAR",
                                  stepping ? "in a step" : "before the first step")
                        << product << shutdown << stepping;
    }
    void cancelDuringSlowStep() {
        QFETCH(int, product);
        QFETCH(bool, shutdown);
        QFETCH(bool, stepping);
        const QString step = product ? "RealizarPagamentoTEF" : "OrvixTEF_RealizarPagamentoTEF";
        const QString held = stepping ? step : product ? "IniciarOperacaoTEF" : "OrvixTEF_IniciarOperacaoTEF";
        s->setScenario(QString(R"({"demoraMs": {"%1": 1000}})").arg(held).toUtf8());
        s->start(product);
        s->listAnswer = 0; // Pagora's sale menu: debit
        Exchange sale(s->client, request("CRT", "990"));
        QTRY_COMPARE_WITH_TIMEOUT(s->calls(held).size(), 1, 20000);
        if (shutdown)
            s->stop();
        else
            s->controller()->onClickButtonCancelar();

        QTRY_VERIFY_WITH_TIMEOUT(sale.done(), 20000);
        QCOMPARE(sale.result().outcome, Outcome::Declined);
        QCOMPARE(s->calls(step).size(), stepping ? 2 : 0);
        if (!stepping)
            return;
        const QJsonDocument sent = QJsonDocument::fromJson(
            s->calls(step).last()[product ? "dadosTransacao" : "captura"].toString().toUtf8());
        QCOMPARE(product ? sent["automacao_coleta_retorno"].toString()
                         : QString::number(sent["TipoFluxo"].toInt()),
                 QString(product ? "9" : "2"));
    }

    // A library call that outlasts the stop's wait is not answered by a guess: its claim stays,
    // and the next start tells the sales application the outcome is unknown, and undoes what the
    // library may hold where it can.
    void callOutlastingTheStop_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("held");
        QTest::addColumn<int>("undone"); // calls that undo the library's pending transaction
        QTest::newRow("1") << 1 << "IniciaVenda" << 0;
        QTest::newRow("0") << 0 << "OrvixTEF_RealizarPagamentoTEF" << 1;
    }
    void callOutlastingTheStop() {
        QFETCH(int, product);
        QFETCH(QString, held);
        QFETCH(int, undone);
        s->setScenario(QString(R"({"demoraMs": {"%1": 2000}})").arg(held).toUtf8());
        s->shutdownWaitMs = 100;
        s->listAnswer = 0;
        s->start(product);
        Exchange sale(s->client, request("CRT", "980"));
        QTRY_COMPARE_WITH_TIMEOUT(s->calls(held).size(), 1, 20000);
        Base_Controller *running = s->controller();
        s->stop();
        MonitoraDiretorio::destroyInstance();
        QVERIFY(QFile::exists(s->path("req/arquivo_tef.em_andamento")));
        QVERIFY(!QFile::exists(s->path("resp/IntPos.001")));
        QTRY_VERIFY_WITH_TIMEOUT(running->isFinished(), 20000);
        delete running;

        const int undoneBefore = s->calls("OrvixTEF_ConfirmarOperacaoTEF").size();
        s->start(product);
        QTRY_VERIFY_WITH_TIMEOUT(sale.done(), 20000);
        QCOMPARE(sale.result().outcome, Outcome::Declined);
        QVERIFY(field(sale.result().response, "030-000").contains("resultado desconhecido"));
        QCOMPARE(s->calls("OrvixTEF_ConfirmarOperacaoTEF").size() - undoneBefore, undone);
        QVERIFY(!QFile::exists(s->path("req/arquivo_tef.em_andamento")));
    }

    void tefposCommandLine_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed");
        QTest::newRow("approved sale") << "CRT --amount 2550 --id 901" << 0 << "009-000 = 0";
        QTest::newRow("declined sale") << "CRT --amount 100 --id 903 --card-type 1" << 1 << "009-000 = 5";
    }
    void tefposCommandLine() {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        s->setScenario(R"({"IniciaVendaCredito": {"declined": 5, "message": "NAO AUTORIZADA"}})");
        s->start(1);
        QProcess tefpos;
        tefpos.start(Q7_BIN_DIR "/tefpos",
                     QStringList{"--config", s->path("config_tef.json")} + arguments.split(' '));
        QTRY_COMPARE_WITH_TIMEOUT(tefpos.state(), QProcess::NotRunning, 20000);
        const QString output = tefpos.readAllStandardOutput();
        QVERIFY2(output.contains(printed), qPrintable(output));
        QCOMPARE(tefpos.exitCode(), exitCode);
    }

    // A client that never read its approval (it gave up waiting, or was switched off) sends its
    // next sale: the approval is withdrawn from path_out before that sale runs, and undone where the
    // library can; the bridge's is told to support. A bare CNF then settles nothing of it.
    void answerNeverTaken_data() {
        QTest::addColumn<int>("product");
        for (int product : {0, 1, 2})
            QTest::addRow("%d", product) << product;
    }
    void answerNeverTaken() {
        QFETCH(int, product);
        s->listAnswer = 1; // the Pagora menus: credit sale, in one payment
        s->fieldAnswer = "1234";
        s->start(product);
        const TefPosClient::Fields first{{"000-000", "CRT"}, {"001-000", "61"}, {"003-000", "1500"}};
        QVERIFY(s->write("req/IntPos.001", s->client.encode(first + TefPosClient::Fields{{"999-999", "0"}})));
        QTRY_VERIFY_WITH_TIMEOUT(field(s->read("resp/IntPos.001"), "009-000") == "0", 20000);
        QTRY_VERIFY(s->controller()->isFinished());
        const auto send = [this](const TefPosClient::Fields &fields) {
            Exchange exchange(s->client, fields);
            static_cast<void>(QTest::qWaitFor([&] { return exchange.done(); }, 20000));
            return exchange.result();
        };
        const TefPosClient::Result next = send({{"000-000", "CRT"}, {"001-000", "62"}, {"003-000", "2500"}});
        QCOMPARE(field(next.response, "001-000"), QString("62"));
        QCOMPARE(next.discarded, 0); // never saw the withdrawn one
        QCOMPARE(send({{"000-000", "CNF"}, {"001-000", "63"}}).outcome, Outcome::Approved);
        QTRY_VERIFY(s->controller()->isFinished());
        QStringList books;
        for (const QJsonObject &done : s->calls("liquidacao", true))
            books << done["valor"].toString() + (done["confirmar"].toInt() ? " confirmed" : " undone");
        QCOMPARE(books.join(", "), product == 1 ? "" : "1500 undone, 2500 confirmed");
        QVERIFY(product != 1 ||
                s->log().contains("resposta não lida pela automação; transação não pode ser desfeita"));
    }

    // The response file cannot be written (a directory in its place stands for one the client
    // holds open): the operator is told where, in the window and the tray, until the answer is
    // delivered; then the service is back in the tray.
    void undeliverableAnswerShown() {
        s->start(1);
        QVERIFY(QDir().mkpath(s->client.responseDir + "/IntPos.001/aberto"));
        Exchange sale(s->client, {{"000-000", "CRT"}, {"001-000", "81"}, {"003-000", "1000"}});
        const QString problem = "Respostas não podem ser entregues em " + s->client.responseDir +
                                ". Verifique a pasta ou o disco; a venda aguarda.";
        QTRY_COMPARE_WITH_TIMEOUT(s->item("element1")->property("text").toString(), problem, 20000);
        QVERIFY(s->window()->isVisible());
        QCOMPARE(s->window()->findChild<QObject *>("monitor")->property("tooltip").toString(),
                 "Orvix Pagora\n" + problem);
        QVERIFY(QDir(s->client.responseDir + "/IntPos.001").removeRecursively());
        QTRY_VERIFY_WITH_TIMEOUT(sale.done(), 60000);
        QCOMPARE(sale.result().outcome, Outcome::Approved);
        QTRY_VERIFY(!s->window()->isVisible());
        QCOMPARE(s->window()->findChild<QObject *>("monitor")->property("tooltip").toString(),
                 "Orvix Pagora\nServiço passivo de TEF");
    }

    // A confirmation taken before a stop is carried out again at the start; when the client has
    // already sent its next request, its status is not written again over the one the client polls.
    void recoveredSettlementStaysQuiet() {
        QVERIFY(s->write("req/arquivo_tef.em_andamento",
                         s->client.encode({{"000-000", "CNF"}, {"001-000", "71"}, {"999-999", "0"}})));
        QVERIFY(s->write("req/IntPos.001",
                         s->client.encode({{"000-000", "ATV"}, {"001-000", "72"}, {"999-999", "0"}})));
        s->start(2);
        QTRY_COMPARE_WITH_TIMEOUT(s->read("resp/IntPos.Sts"),
                                  QByteArray("000-000 = ATV\r\n001-000 = 72\r\n999-999 = 0\r\n"), 20000);
        const QString log = s->log();
        QVERIFY(log.contains("executada novamente: CNF 71"));
        QVERIFY(!log.contains("001-000 = 71"));
    }

    // With no service the client takes its request back, so a service started later does not
    // run a stale sale.
    void clientTakesBackItsRequest() {
        QVERIFY(QDir().mkpath(s->client.requestDir));
        s->client.statusTimeoutMs = 300;
        Exchange alone(s->client, request("CRT", "950"));
        QTRY_VERIFY(alone.done());
        QCOMPARE(alone.result().outcome, Outcome::NotActive);
        QVERIFY(!QFile::exists(s->client.requestDir + "/IntPos.001"));
    }
};

QTEST_MAIN(TestService)
#include "tst_service.moc"
