#include "SignalLog.h"
#include "Simulator.h"
#include "base/Pause.h"
#include "controllers/Pagora_Controller.h"
#include "exchange/ProtocoloSitef.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QtTest>

namespace {

const QString kLibrary = Q7_BIN_DIR "/libAPITEFOrvix.so";
const QString kAbsent = Q7_BIN_DIR "/absent/libAPITEFOrvix.so";
// Built without "OrvixTEF_RealizarConfiguracao" and "OrvixTEF_FinalizarOperacaoTEF".
const QString kPartial = Q7_PARTIAL_LIBRARY;

// The request document the reader makes of a request file's lines.
QString request(const QString &lines) {
    return ProtocoloSitef().parseRequest(lines);
}

const QString kSale = request("000-000 = CRT\n001-000 = 31\n003-000 = 1000\n999-999 = 0\n");
const QString kSaleNoAmount = request("000-000 = CRT\n001-000 = 31\n002-000 = 900\n999-999 = 0\n");
const QString kCancellation = request("000-000 = CNC\n001-000 = 31\n999-999 = 0\n");
const QString kAdm = request("000-000 = ADM\n001-000 = 31\n999-999 = 0\n");

QString label(const QString &texto, const char *visor = "operador") {
    return QStringLiteral(R"({"NomeComponenteTela":"label","ConteudoComponenteTela":"%1","TipoVisor":"%2"})")
        .arg(texto, visor);
}

QString component(const char *nome, const QString &conteudo) {
    return QJsonDocument(QJsonObject{{"NomeComponenteTela", nome}, {"ConteudoComponenteTela", conteudo}})
        .toJson(QJsonDocument::Compact);
}

// A library reply: a capture document with its sequence number, screen and other `members`, and
// reply members such as "tamanho".
QString reply(int sequencia, const QString &tela, const QString &members = "", const QString &extra = "") {
    return QStringLiteral(R"({"documento":{"SequenciaCaptura":%1,"ComponentesTela":[%2]%3}%4})")
        .arg(sequencia)
        .arg(tela, members.isEmpty() ? "" : "," + members, extra.isEmpty() ? "" : "," + extra);
}

// The replies of one step entry point in turn.
QByteArray steps(const char *entryPoint, const QStringList &replies) {
    return QStringLiteral(R"({"OrvixTEF_%1":[%2]})").arg(entryPoint, replies.join(',')).toUtf8();
}

// Plain literal: moc misreads an unpaired brace in a raw string.
const QString kBroken = "{\"texto\":\"{quebrado\"}";
const QString kApproved = reply(99, label("TRANSACAO APROVADA"), R"("Status":0)");

// Opens the protected parts of the controller to the tests; its thread is never started.
class Probe : public Pagora_Controller {
public:
    using Pagora_Controller::initialCapture;
    using Pagora_Controller::Pagora_Controller;
    using Pagora_Controller::showScreen;

    QJsonObject record() const { return QJsonDocument::fromJson(resposta->toJsonString().toUtf8()).object(); }
    QJsonObject capture() const { return QJsonDocument::fromJson(jsonCaptura.toUtf8()).object(); }
    bool waiting() const { return !prosseguir; }
};

QJsonObject merged(QJsonObject object, const QString &members) {
    const QJsonObject more = QJsonDocument::fromJson(members.toUtf8()).object();
    for (auto it = more.begin(); it != more.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

} // namespace

class tst_Pagora_Controller : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Pause::setScale(0.01); }

    void paths_data() {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QStringList>("actions");

        const auto row = [](const char *name, const QString &library, const QByteArray &scenario,
                            const QString &request, const QStringList &actions = {}) {
            QTest::newRow(name) << library << scenario << request << actions;
        };
        // Confirmation and undo; a failure there is never reported as success.
        const auto settle = [](const char *code) {
            return request(
                QStringLiteral("000-000 = %1\n001-000 = 4321\n002-000 = 777\n999-999 = 0\n").arg(code));
        };
        row("CNF confirms, then finalises", kLibrary, {}, settle("CNF"));
        row("NCN undoes, then finalises", kLibrary, {}, settle("NCN"));
        row("failed confirmation skips finalise", kLibrary, R"({"OrvixTEF_ConfirmarOperacaoTEF":5})",
            settle("CNF"));
        row("finalise trouble keeps the confirmation", kLibrary, R"({"OrvixTEF_FinalizarOperacaoTEF":3})",
            settle("CNF"));
        // Every error answers -1 with its text, and the window never stays up.
        row("invalid request", kLibrary, {}, request("000-000 = CRT\nlixo\n999-999 = 0\n"));
        row("unknown operation code", kLibrary, {}, request("000-000 = XYZ\n001-000 = 31\n999-999 = 0\n"));
        row("ATV is no error", kLibrary, {}, request("000-000 = ATV\n001-000 = 31\n999-999 = 0\n"));
        row("library not loaded", kAbsent, {}, kSale);
        row("authentication fails", kLibrary, R"({"OrvixTEF_Autenticador":7})", kSale);
        row("start fails", kLibrary, R"({"OrvixTEF_IniciarOperacaoTEF":3})", kSale);
        row("step entry point not exported", kPartial, {}, kAdm, {"0"});
        row("finalise not exported", kPartial, {}, settle("CNF"));
        // The built-in screens: the sale menu, the cancellation's amount, and cancelling them.
        row("sale menu chooses credit", kLibrary, steps("RealizarPagamentoTEF", {kApproved}), kSaleNoAmount,
            {"1"});
        // An approval the sales application never took is undone; one it was told of waits for its CNF.
        const QByteArray approval = steps(
            "RealizarPagamentoTEF",
            {reply(99, label("APROVADA") + ',' + component("dadostransacao", "Nsu:000042,ValorTrans:1000"),
                   R"("Status":0)")});
        row("sale approved, its answer never taken", kLibrary, approval, kSale + "\nwithdraw", {"0"});
        row("sale approved, then a stop in the next", kLibrary, approval, kSale + "\nrestart", {"0"});
        row("cancellation asks for the amount first", kLibrary, steps("RealizarAdmTEF", {kApproved}),
            kCancellation, {"", "1500"});
        row("cancel in the administrative menu after VOLTAR", kLibrary, {}, kAdm, {"VOLTAR", "CANCELAR"});
        row("cancel at the amount prompt after VOLTAR", kLibrary, {}, kCancellation, {"VOLTAR", "CANCELAR"});
        // How the capture loop ends, and what it answers: 0 is an approval, so an aborted flow or a
        // payment without its status is never one; a reprint or configuration without one is done.
        const QString end = label("FIM");
        row("sequence 99", kLibrary, steps("RealizarPagamentoTEF", {reply(99, end, R"("Status":7)")}), kSale,
            {"0"});
        row("abort flag", kLibrary,
            steps("RealizarPagamentoTEF", {reply(3, end, R"("AbortarFluxoCaptura":true,"Status":5)")}), kSale,
            {"0"});
        row("abort flag without status", kLibrary,
            steps("RealizarPagamentoTEF", {reply(3, end, R"("AbortarFluxoCaptura":true)")}), kSale, {"0"});
        row("abort flag with status 0", kLibrary,
            steps("RealizarPagamentoTEF", {reply(3, end, R"("AbortarFluxoCaptura":true,"Status":0)")}), kSale,
            {"0"});
        row("payment: sequence 99 without status", kLibrary, steps("RealizarPagamentoTEF", {reply(99, end)}),
            kSale, {"0"});
        row("reprint: sequence 99 without status", kLibrary, steps("RealizarAdmTEF", {reply(99, end)}), kAdm,
            {"1"});
        row("configuration: a status that holds no number is no approval", kLibrary,
            steps("RealizarConfiguracao", {reply(99, end, R"("Status":"OK")")}), kAdm, {"0"});
        row("labels only go on, a broken document goes back as it came", kLibrary,
            steps("RealizarPagamentoTEF",
                  {reply(1, label("AGUARDE")), kBroken, reply(99, end, R"("Status":0)")}),
            kSale, {"0"});
    }

    void paths() {
        QFETCH(QString, library);
        QFETCH(QByteArray, scenario);
        QFETCH(QString, request);
        QFETCH(QStringList, actions);
        const QStringList actual = playPaths<Pagora_Controller>(
            library, scenario, request.split('\n'), actions, "[Pagora_Controller]",
            {"call OrvixTEF_FinalizarOperacaoTEF {\"codigo\":1}",
             "log info [Pagora_Controller] API carregada com sucesso",
             "log info [Pagora_Controller] FINALIZANDO Q7_PAGORA_PASSIVO...",
             "log info [Pagora_Controller] Q7_PAGORA_Passivo PRONTO PARA SER "
             "ENCERRADO COM SEGURANÇA",
             "log info [Pagora_Controller] Biblioteca TEF liberada"});
        QCOMPARE(actual, golden("pagora-paths.txt", actual));
    }

    // The step buffer is ours: ten times the size the library asks for and never smaller than the
    // document and its zero, read back no further than its end.
    void bufferIsOurs() {
        const QString filler = "0123456789abcdef";
        const QString textbox = component("textbox", "");
        Simulator sim(steps("RealizarPagamentoTEF",
                            {reply(1, label("AGUARDE"), "", R"("tamanho":2048)"),
                             QStringLiteral(R"({"texto":"%1","semTerminador":true,"tamanho":5})").arg(filler),
                             reply(2, label("CODIGO") + ',' + textbox), kApproved}));
        Pagora_Controller controller(nullptr, kLibrary);
        SignalLog window(&controller);
        const QString typed = QString("ÇÃ0123456789").repeated(300); // far beyond ten times 5 bytes
        QVERIFY(window.play(kSale, {"1", typed}));
        const QStringList calls = sim.calls("Realizar");
        QCOMPARE(calls.size(), 4);
        const auto argument = [&calls](int call, const char *name) {
            return QJsonDocument::fromJson(calls.at(call).section(' ', 1).toUtf8())[name];
        };
        QCOMPARE(argument(1, "tamanho"), QJsonValue(2048));
        // The second reply filled its whole buffer, ten times the new size, leaving no zero.
        QCOMPARE(argument(2, "captura"), QJsonValue(filler.repeated(20480 / filler.size())));
        QCOMPARE(argument(3, "tamanho"), QJsonValue(5));
        QCOMPARE(
            QJsonDocument::fromJson(argument(3, "captura").toString().toUtf8())["InfoCaptura"].toString(),
            typed);
        QCOMPARE(window.response()["resultado"], QJsonValue(0));
    }

    // Nothing is shown, so nothing may hold the answer back: the pauses at their real length.
    void confirmationIsNotHeldBack() {
        Pause::setScale(1.0);
        const auto restore = qScopeGuard([] { Pause::setScale(0.01); });
        Simulator sim;
        Pagora_Controller controller(nullptr, kLibrary);
        QElapsedTimer timer;
        timer.start();
        controller.setJsonConfigs(request("000-000 = CNF\n001-000 = 4321\n999-999 = 0\n"));
        controller.start();
        QVERIFY(controller.wait(5000));
        QVERIFY(timer.elapsed() < 1000);
    }

    // A flow waiting for the operator must not hold the thread, nor the destructor, for ever.
    void destructionEndsAWaitingFlow() {
        Simulator sim;
        auto controller = std::make_unique<Pagora_Controller>(nullptr, kLibrary);
        SignalLog window(controller.get());
        controller->setJsonConfigs(kSaleNoAmount);
        controller->start();
        QTRY_COMPARE(window.prompts(), 1);
        controller.reset();
        QCOMPARE(window.response()["resultado"], QJsonValue(65282)); // cancelled as by "CANCELAR"
        QCOMPARE(sim.calls().last(), R"(OrvixTEF_FinalizarOperacaoTEF {"codigo":1})");
    }

    // One screen of the library shown, then OK pressed on it if `value` is given: the window it
    // leaves, the members of the response and of the capture document that change, and whether the
    // thread waits for the operator.
    void screens_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("tela");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("estado");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("capture");
        QTest::addColumn<bool>("waits");

        const auto row = [](const char *name, const QString &request, const QString &tela,
                            const QString &shown, const char *record, bool waits, const QString &value = {},
                            int estado = 1, const char *capture = "{}") {
            QTest::newRow(name) << request << tela << value << estado << shown << record << capture << waits;
        };
        const QString ten = "hidden | band \"R$\u00a010,00\n";
        const QString textbox = component("textbox", "");
        const QString list = component("listbox", R"({"ArrayListBox":[{},{}]})");
        const QString noOption = R"(hidden | text "Selecione" | error "Selecione uma opção!" | list [, ])";
        row("two operator labels", kSale, label("A") + ',' + label("B"), ten + R"(A" | text "B")",
            R"({"texto_operador":"B"})", false);
        row("customer display label is recorded, not shown", kSale, label("INSIRA O CARTAO", "cliente"),
            "hidden", R"({"texto_operador":"INSIRA O CARTAO"})", false);
        row("RETIRE O CARTAO is shown, not recorded", kSale,
            label("APROVADA") + ',' + label("RETIRE O CARTAO"), ten + R"(APROVADA" | text "RETIRE O CARTAO")",
            R"({"texto_operador":"APROVADA"})", false);
        row("prefilled text box", kSale, component("textbox", "00000001"), R"(hidden | field "00000001")",
            "{}", true);
        row("list with line breaks inside", kSale,
            component("listbox", "{\r\n  \"ArrayListBox\": [\r\n    {\"ConteudoItem\": \"A VISTA\"},\n"
                                 "    {\"ConteudoItem\":\n \"PARCELADO\"}\n  ]\n}\n"),
            R"(hidden | text "Selecione" | list [A VISTA, PARCELADO])", "{}", true);
        // A prompt for what a cancellation request holds shows it: in the prompt's form, else the shown
        // one's.
        const QString cnc =
            request("000-000 = CNC\n001-000 = 31\n003-000 = 1000\n012-000 = 123456\n022-000 = "
                    "06122026\n023-000 = 101500\n999-999 = 0\n");
        const auto prefill = [&](const QString &asked, const char *shown, const char *value) {
            row(qPrintable(asked), cnc, label(asked) + ',' + component("textbox", shown),
                ten + asked + R"(" | field ")" + value + '"',
                qPrintable(QStringLiteral(R"({"texto_operador":"%1"})").arg(asked)), true);
        };
        prefill("DIGITE O NSU DA TRANSACAO ORIGINAL", "", "123456");
        prefill("DATA DA TRANSACAO ORIGINAL (DDMMAA)", "050326", "061226");
        prefill("HORA", "0000", "1015");
        prefill("DATA DE VALIDADE (MMAA)", "", "");
        // OK (or VOLTAR) pressed: only an accepted answer releases the thread; a row of the library's
        // own list goes back to it.
        row("the library's list: the row goes back", kSale, list,
            R"(hidden | text "Selecione" | list [, ] | busy)", "{}", false, "1", 2,
            R"({"TipoFluxo":1,"InfoCaptura":"1"})");
        row("VOLTAR", kSale, textbox, R"(hidden | field "" | busy)", "{}", false, "VOLTAR", 0,
            R"({"TipoFluxo":3})");
        row("no row current", kSale, list, noOption, "{}", true, "-1", 2);
        row("past the list's end", kSale, list, noOption, "{}", true, "2", 2);
        row("unknown state", kSale, textbox, R"(hidden | text "ERRO" | field "")", "{}", true, "x", 3);
    }
    void screens() {
        QFETCH(QString, request);
        QFETCH(QString, tela);
        QFETCH(QString, value);
        QFETCH(int, estado);
        QFETCH(QString, shown);
        QFETCH(QString, record);
        QFETCH(QString, capture);
        QFETCH(bool, waits);
        Probe probe(nullptr, kAbsent);
        probe.setJsonConfigs(request);
        probe.initialCapture();
        const QJsonObject expectedRecord = merged(probe.record(), record);
        SignalLog window(&probe);
        probe.showScreen(QJsonDocument::fromJson("[" + tela.toUtf8() + "]").array());
        const QJsonObject expectedCapture = merged(probe.capture(), capture);
        if (value == "VOLTAR")
            probe.onClickButtonVoltar();
        else if (!value.isNull())
            probe.onClickButtonOK(value, estado);
        QCOMPARE(window.screen(), shown);
        QCOMPARE(probe.record(), expectedRecord);
        QCOMPARE(probe.capture(), expectedCapture);
        QCOMPARE(probe.waiting(), waits);
    }
};

QTEST_MAIN(tst_Pagora_Controller)
#include "tst_Pagora_Controller.moc"
