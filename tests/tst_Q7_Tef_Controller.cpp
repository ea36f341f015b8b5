#include "MessageCapture.h"
#include "SignalLog.h"
#include "Simulator.h"
#include "TestFiles.h"
#include "base/Pause.h"
#include "controllers/Q7_Tef_Controller.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QSemaphore>
#include <QtTest>
#include <atomic>

namespace {

const QString kLibrary = Q7_BIN_DIR "/libQ7_Tef01.so";
const QString kMissing = "/nonexistent/libQ7_Tef01.so";
const QString kSale =
    R"({"header":"CRT","parametros":{"identificacao":"5","valor":"1000","tipo_cartao":"1"}})";

QString request(const QString &header, const QString &parametros) {
    return QStringLiteral(R"({"header":"%1","parametros":%2})").arg(header, parametros);
}

QJsonObject object(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

// A dialogue reply that carries `tef`, and the payment dialogue's replies in turn.
QString step(const QString &tef) {
    return QStringLiteral(R"({"codigo":0,"mensagem":"","tef":%1})").arg(tef);
}
QByteArray script(const QStringList &replies) {
    return QStringLiteral(R"({"RealizarPagamentoTEF":[%1]})").arg(replies.join(',')).toUtf8();
}

const QString kList = step(
    R"({"automacao_coleta_opcao":"A;B;C","automacao_coleta_retorno":"0","automacao_coleta_sequencial":"17"})");
const QString kText =
    step(R"({"automacao_coleta_tipo":"N","automacao_coleta_retorno":"0","automacao_coleta_sequencial":17})");
const QString kFinal = step(R"({"resultadoTransacao":"0","sequencial":"321"})");
const QString kUnavailable = "Registro de transações indisponível; operação não realizada. Chame o suporte";

} // namespace

class tst_Q7_Tef_Controller : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Pause::setScale(0.01); }

    // Requests in turn through one controller.
    void paths_data() {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QStringList>("actions"); // the operator's answers to the first one's prompts

        const auto row = [](const char *name, const QString &library, const QByteArray &scenario,
                            const QStringList &requests, const QStringList &actions = {}) {
            QTest::newRow(name) << library << scenario << requests << actions;
        };
        // Answered without a dialogue.
        row("ATV", kLibrary, {}, {request("ATV", R"({"identificacao":"42"})")});
        row("ATV without library, id not a number", kMissing, {},
            {request("ATV", R"({"identificacao":"12a"})")});
        row("sale without library", kMissing, {},
            {request("CRT", R"({"identificacao":"42","valor":"1000"})")});
        // A request the reader marked invalid never reaches the library.
        row("invalid request", kLibrary, {},
            {R"({"header":"CRT","msg_erro":"Arquivo IntPos.001 recusado: maior que 65536 bytes","parametros":{"identificacao":"42"}})"});
        // A refused start, or a missing entry point, leaves nothing to confirm.
        const QStringList saleThenConfirm{kSale, request("CNF", R"({"identificacao":"8"})")};
        row("start refused, no step data", kLibrary,
            R"({"IniciarOperacaoTEF":{"codigo":5,"mensagem":"Sem comunicação com o servidor"}})",
            saleThenConfirm);
        row("start refused, result 5 as text", kLibrary,
            R"({"IniciarOperacaoTEF":{"codigo":0,"mensagem":"Recusada","tef":{"resultadoTransacao":"5"}}})",
            saleThenConfirm);
        row("start refused, result 5 as a number", kLibrary,
            R"({"IniciarOperacaoTEF":{"codigo":0,"mensagem":"","tef":{"resultadoTransacao":5}}})",
            saleThenConfirm);
        row("entry point not exported", QCoreApplication::applicationDirPath() + "/libQ7_Tef01_noPayment.so",
            {}, saleThenConfirm);
        // An operation the library has no entry point for never reaches it.
        row("unknown operation refused, then an administrative one", kLibrary, {},
            {request("CHQ", R"({"identificacao":"3000000001"})"),
             request("ADM", R"({"identificacao":"7","codigo_transacao":"2"})")});
        // The identification is how the sales application matches its request: it wins over the reply's.
        row("identification wins over the reply's", kLibrary,
            R"({"RealizarPagamentoTEF":{"codigo":0,"mensagem":"ok","header":"XYZ","id":999,"tef":{"resultadoTransacao":"0","sequencial":"55"}}})",
            {kSale});
        // The library's default play; the pending transactions settled once.
        row("sale confirmed, then nothing left", kLibrary, {},
            {kSale, request("CNF", R"({"identificacao":"9"})"), request("CNF", R"({"identificacao":"10"})")});
        // Prompts and the operator's answers; an answer that is no answer leaves the prompt as it was.
        row("list with a trailing separator", kLibrary,
            script(
                {step(
                     R"({"automacao_coleta_opcao":"A;B;","automacao_coleta_retorno":"0","automacao_coleta_sequencial":"17"})"),
                 kFinal}),
            {kSale}, {"0"});
        row("missing sequence sent as null", kLibrary,
            script({step(R"({"automacao_coleta_tipo":"N","automacao_coleta_retorno":"0"})"), kFinal}),
            {kSale}, {"abc"});
        row("cancelled", kLibrary, script({kList, kFinal}), {kSale}, {"CANCELAR"});
        row("empty text refused", kLibrary, script({kText, kFinal}), {kSale}, {"", "42"});
        row("no row current refused", kLibrary, script({kList, kFinal}), {kSale}, {"-1", "2"});
        row("row past the end refused", kLibrary, script({kList, kFinal}), {kSale}, {"3", "0"});
        // Replies that end the dialogue, or go on, without the operator.
        const QString invalid = R"("codigo":3,"mensagem":"Cartão inválido")";
        row("result ends it although collection follows", kLibrary,
            script({step(R"({"resultadoTransacao":"0","automacao_coleta_retorno":"0"})")}), {kSale});
        row("error that asks for collection goes on", kLibrary,
            script({"{" + invalid + R"(,"tef":{"automacao_coleta_retorno":"0"}})", kFinal}), {kSale});
        row("error without step data ends", kLibrary, script({"{" + invalid + "}"}), {kSale});
        row("return other than 0 ends", kLibrary, script({step(R"({"automacao_coleta_retorno":"1"})")}),
            {kSale});
    }
    void paths() {
        QFETCH(QString, library);
        QFETCH(QByteArray, scenario);
        QFETCH(QStringList, requests);
        QFETCH(QStringList, actions);
        // The library prints the time of day on its receipts.
        const QStringList actual =
            playPaths<Q7_Tef_Controller>(library, scenario, requests, actions, "[Q7_Tef_Controller]",
                                         {"call SetClientTCP {\"ip\":\"127.0.0.1\",\"porta\":60906}",
                                          "log info [Q7_Tef_Controller] API carregada com sucesso",
                                          "log info [Q7_Tef_Controller] Biblioteca Q7_Tef liberada"})
                .replaceInStrings(QRegularExpression("\\d\\d/\\d\\d/\\d{4}"), "dd/mm/yyyy")
                .replaceInStrings(QRegularExpression("\\d\\d:\\d\\d:\\d\\d"), "hh:mm:ss");
        QCOMPARE(actual, golden("tef-paths.txt", actual));
    }

    // What the request makes of the start document and of the dialogue's first call.
    void operations_data() {
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("parametros");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("call"); // entry point, its first argument and the transaction document

        QTest::newRow("credit, one instalment financed by the store")
            << "CRT"
            << R"({"valor":"1234","tipo_cartao":"1","quantidade_parcelas":"1","tipo_parcelamento":"0","aplicacao":"PDV Q7","versao_aplicacao":"2.1","estabelecimento":"00001234","loja":"0001","terminal":"CX01"})"
            << R"({"aplicacao_tela":"PDV Q7","estabelecimento":"00001234","loja":"0001","terminal":"CX01","versao":"2.1"})"
            << R"(RealizarPagamentoTEF 1 {"transacao_financiado":"Estabelecimento","transacao_pagamento":"A vista","transacao_parcela":"1","transacao_valor":"1234"})";
        QTest::newRow("debit, three instalments financed by the issuer")
            << "CRT"
            << R"({"valor":"1234","tipo_cartao":"2","quantidade_parcelas":"3","tipo_parcelamento":"1","loja":"","terminal":"CX02"})"
            << R"({"terminal":"CX02"})"
            << R"(RealizarPagamentoTEF 2 {"transacao_financiado":"Administradora","transacao_pagamento":"Parcelado","transacao_parcela":"3","transacao_valor":"1234"})";
        QTest::newRow("private label, no instalments, unknown financing")
            << "CRT"
            << R"({"valor":"1234","tipo_cartao":"5","quantidade_parcelas":"0","tipo_parcelamento":"2"})"
            << "{}"
            << R"(RealizarPagamentoTEF 5 {"transacao_parcela":"0","transacao_valor":"1234"})";
        QTest::newRow("cancellation") << "CNC"
                                      << R"({"valor":"1234","codigo_transacao":"7"})"
                                      << "{}"
                                      << R"(RealizarAdmTEF 1 {"transacao_valor":"1234"})";
        QTest::newRow("administrative, user and password")
            << "ADM"
            << R"({"codigo_transacao":"7","adm_usuario":"gerente","adm_senha":"1234"})"
            << "{}"
            << R"(RealizarAdmTEF 7 {"transacao_administracao_senha":"1234","transacao_administracao_usuario":"gerente"})";
    }
    void operations() {
        QFETCH(QString, header);
        QFETCH(QString, parametros);
        QFETCH(QString, start);
        QFETCH(QString, call);
        Simulator sim;
        Q7_Tef_Controller c(nullptr, kLibrary);
        SignalLog window(&c);
        QVERIFY(window.play(request(header, parametros)));
        QCOMPARE(
            object(sim.calls("IniciarOperacaoTEF").value(0).section(' ', 1))["dadosAutomacao"].toString(),
            start);
        const QStringList dialogue = sim.calls("Realizar");
        const QJsonObject args = object(dialogue.first().section(' ', 1));
        QCOMPARE(QStringLiteral("%1 %2 %3")
                     .arg(dialogue.first().section(' ', 0, 0))
                     .arg(args[args.contains("tipoCartao") ? "tipoCartao" : "operacao"].toInt())
                     .arg(args["dadosTransacao"].toString()),
                 call);
    }

    // Product 2's approved transactions wait in pendentes.json beside the configuration, also
    // across a restart. A confirmation or undo settles the transaction it names, or every answered
    // one; what the library refuses stays for later as the client decided it; a start undoes what
    // no sales application was told of, and so does an answer never taken. Without a journal that
    // can be read and written no sale runs: one that does not parse is set aside, one that cannot
    // be read is left alone.
    void journal_data() {
        QTest::addColumn<QByteArray>("journal");      // found at start; null: none
        QTest::addColumn<QString>("fault");           // "unreadable", "unwritable", "earlier copy"
        QTest::addColumn<QByteArray>("confirmation"); // the library's reply to each settlement
        QTest::addColumn<QStringList>("requests");    // played in turn; "start": the start's recovery,
                                                      // "withdraw N": N's answer never taken; "repair"
        QTest::addColumn<QStringList>("settled");     // "sequencial:decision", in order
        QTest::addColumn<QStringList>("left");        // "sequencial", ":decision" once it has one
        QTest::addColumn<int>("critical");            // lines logged at that level
        const QByteArray two = R"({"pendentes": [
            {"sequencial": "7", "id": "1", "controle": "A", "nsu": "000007", "respondida": true},
            {"sequencial": "8", "id": "2", "controle": "B", "nsu": "000008", "respondida": false}]})";
        const QByteArray ok = R"({"codigo": 0})";
        const QString sale = kSale;
        const QString undo = request("NCN", "{}");
        const auto row = [](const char *name, const QByteArray &journal, const char *fault,
                            const QByteArray &reply, const QStringList &requests, const QStringList &settled,
                            const QStringList &left, int critical = 0) {
            QTest::newRow(name) << journal << fault << reply << requests << settled << left << critical;
        };
        row("bare CNF: the answered only", two, "", ok, {request("CNF", "{}")}, {"7:1"}, {"8"});
        row("CNF naming a control code", two, "", ok, {request("CNF", R"({"finalizacao":"B"})")}, {"8:1"},
            {"7"});
        row("NCN naming an NSU", two, "", ok, {request("NCN", R"({"numero_transacao":"000007"})")}, {"7:0"},
            {"8"});
        row("NCN naming an NSU without its zeros", two, "", ok,
            {request("NCN", R"({"numero_transacao":"7"})")}, {"7:0"}, {"8"});
        row("a transaction not held: nothing, told", two, "", ok,
            {request("CNF", R"({"finalizacao":"Z","numero_transacao":"9"})")}, {}, {"7", "8"}, 1);
        const QByteArray refused = R"({"codigo": 5, "mensagem": "Falha"})";
        row("refused by the library: kept", two, "", refused, {undo}, {"7:0"}, {"7:0", "8"}, 1);
        row("refused CNF: an NCN retries the confirmation", two, "", refused, {request("CNF", "{}"), undo},
            {"7:1", "7:1"}, {"7:1", "8"}, 3);
        row("a decision kept: retried at start as it was",
            QByteArray(two).replace("true", "true, \"decisao\": 1"), "", ok, {"start"}, {"7:1", "8:0"}, {},
            1);
        row("start: what was never answered is undone", two, "", ok, {"start"}, {"8:0"}, {"7"}, 1);
        row("an answer never taken: undone", two, "", ok, {"withdraw 7"}, {"7:0"}, {"8"}, 1);
        row("a sale, then undone", QByteArray(), "", ok, {sale, undo}, {"1:0"}, {});
        row("an earlier version's entries: answered, settled in order", R"({"pendentes": [
            {"sequencial": "7", "id": 3, "adicionado": "2026-12-01T10:00:00"},
            {"sequencial": "8", "id": 4, "adicionado": "2026-12-01T10:05:00"}]})",
            "", ok, {sale, undo}, {"7:0", "8:0", "1:0"}, {});
        row("does not parse: set aside", "{quebrado", "", ok, {sale, undo}, {"1:0"}, {}, 1);
        row("does not parse, an earlier copy is kept", R"({"pendentes": [{"sequencial": 7}]})",
            "earlier copy", ok, {sale, undo}, {"1:0"}, {}, 1);
        row("cannot be read: no sale, left alone", QByteArray(), "unreadable", ok, {sale, undo}, {}, {}, 3);
        row("cannot be read for a moment", QByteArray(), "unreadable", ok, {sale, "repair", sale, undo},
            {"1:0"}, {}, 2);
        row("cannot be written for a moment", QByteArray(), "unwritable", ok, {sale, "repair", sale, undo},
            {"1:0"}, {}, 1);
    }
    void journal() {
        QFETCH(QByteArray, journal);
        QFETCH(QString, fault);
        QFETCH(QByteArray, confirmation);
        QFETCH(QStringList, requests);
        QFETCH(QStringList, settled);
        QFETCH(QStringList, left);
        QFETCH(int, critical);
        QTemporaryDir dir;
        // Not writable, also for root: the journal's directory is a file; not readable: the journal
        // is a directory.
        const QString directory = fault == "unwritable" ? dir.filePath("arquivo") : dir.path();
        const QString path = directory + "/pendentes.json";
        QVERIFY(fault != "unwritable" || writeFile(directory, "x"));
        QVERIFY(fault != "unreadable" || QDir().mkpath(path + "/x"));
        QVERIFY(journal.isNull() || writeFile(path, journal));
        QVERIFY(fault != "earlier copy" || writeFile(path + ".invalido", "antes"));

        Simulator sim("{\"ConfirmarOperacaoTEF\": " + confirmation + "}");
        MessageCapture log("[Q7_Tef_Controller]");
        Q7_Tef_Controller c(nullptr, kLibrary, directory);
        SignalLog window(&c);
        for (const QString &request : requests) {
            const int started = sim.calls("IniciarOperacaoTEF").size();
            if (request == "start")
                c.recover(false);
            else if (request.startsWith("withdraw"))
                c.withdrawAnswer(QString(R"({"tef":{"sequencial":"%1"}})").arg(request.section(' ', 1)));
            else if (request == "repair")
                QVERIFY(fault == "unreadable" ? QDir(path).removeRecursively()
                                              : QFile::remove(directory) && QDir().mkpath(directory));
            else
                QVERIFY(window.play(request));
            // Approved, or refused without the library when the approval could not be recorded.
            if (request == kSale)
                QCOMPARE(window.response()["mensagem"].toString(),
                         sim.calls("IniciarOperacaoTEF").size() > started ? "Transação aprovada"
                                                                          : kUnavailable);
        }
        QStringList calls;
        for (const QString &call : sim.calls("ConfirmarOperacaoTEF")) {
            const QJsonObject args = QJsonDocument::fromJson(call.section(' ', 1).toUtf8()).object();
            calls << QString("%1:%2").arg(args["sequencial"].toInt()).arg(args["confirmar"].toInt());
        }
        QCOMPARE(calls, settled);
        QStringList kept;
        for (const QJsonValue entry : QJsonDocument::fromJson(readFile(path))["pendentes"].toArray())
            kept << entry["sequencial"].toString() +
                        (entry["decisao"].isDouble() ? ':' + QString::number(entry["decisao"].toInt()) : "");
        QCOMPARE(kept, left);
        QCOMPARE(MessageCapture::lines().filter("critical ").size(), critical);
        QCOMPARE(QFileInfo(path).isDir(), fault == "unreadable" && !requests.contains("repair"));
        if (journal.startsWith("{q") || fault == "earlier copy") {
            QCOMPARE(readFile(path + (fault == "earlier copy" ? ".invalido.2" : ".invalido")), journal);
            QCOMPARE(readFile(path + ".invalido"), fault == "earlier copy" ? QByteArray("antes") : journal);
        }
    }

    // The wait is armed before the prompt shows: an answer given before the thread reaches its wait
    // is kept.
    void pressBeforeWaitIsNotLost() {
        Simulator sim(script({kText, kFinal}));
        Q7_Tef_Controller c(nullptr, kLibrary);
        QSemaphore shown;
        QSemaphore mayGoOn;
        std::atomic_bool held{false};
        // Holds the controller thread once the prompt is on screen, before its wait.
        const auto hold = [&](bool hidden) {
            if (hidden && !held.exchange(true)) {
                shown.release();
                mayGoOn.tryAcquire(1, 10000);
            }
        };
        connect(&c, &Base_Controller::disableProgressBar, &c, hold, Qt::DirectConnection);
        c.setJsonConfigs(kSale);
        c.start();
        QVERIFY(shown.tryAcquire(1, 10000));
        c.onClickButtonOK("777", 1);
        mayGoOn.release();
        QVERIFY2(c.wait(10000), "the answer given before the wait was lost");
        QCOMPARE(sim.calls("Realizar").size(), 2);
        QVERIFY(sim.calls("Realizar").last().contains(R"(\"automacao_coleta_informacao\":\"777\")"));
    }

    // The library must not be unloaded under a call, nor the thread object go while it runs: the
    // dialogue is cancelled at its next step and the thread waited for.
    void deletedWhileRunning_data() {
        QTest::addColumn<QByteArray>("scenario");
        QTest::newRow("waiting for the operator") << script({kText, kFinal});
        QTest::newRow("in a slow library step")
            << QByteArray(R"({"demoraMs":{"RealizarPagamentoTEF":1000}})");
    }
    void deletedWhileRunning() {
        QFETCH(QByteArray, scenario);
        Simulator sim(scenario);
        auto c = std::make_unique<Q7_Tef_Controller>(nullptr, kLibrary);
        c->setJsonConfigs(kSale);
        c->start();
        QTRY_COMPARE(sim.calls("Realizar").size(), 1);
        QElapsedTimer timer;
        timer.start();
        c.reset();
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(sim.calls("Realizar").size(), 2);
        QVERIFY(sim.calls("Realizar").last().contains(R"(\"automacao_coleta_retorno\":\"9\")"));
    }
};

QTEST_MAIN(tst_Q7_Tef_Controller)
#include "tst_Q7_Tef_Controller.moc"
