// The bridge controller and its transaction record, through the replacement bridge library.
#include "MessageCapture.h"
#include "SignalLog.h"
#include "Simulator.h"
#include "base/Pause.h"
#include "controllers/Q7_Bridge_Controller.h"

#include <QtTest>

namespace {

const QString kLibrary = Q7_BIN_DIR "/libQ7_Bridge.so";
const QString kMissing = "/nonexistent/libQ7_Bridge.so";

QString request(const QString &header, const QString &parametros) {
    return QStringLiteral(R"({"header":"%1","parametros":%2})").arg(header, parametros);
}

QJsonObject object(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

} // namespace

class tst_Q7_Bridge_Controller : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Pause::setScale(0.01); }
    void paths_data();
    void paths();
    void requestReachesTheLibrary_data();
    void requestReachesTheLibrary();
    void replyEvaluation_data();
    void replyEvaluation();
};

// Every path through the controller, whole: the library's calls, the window's signals with the
// response, and the log.
void tst_Q7_Bridge_Controller::paths_data() {
    QTest::addColumn<QString>("library");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QString>("request");

    const QString noCredit = Q7_BRIDGE_SEM_CREDITO;
    const QString credit = request("CRT", R"({"identificacao":"3","valor":"1000","tipo_cartao":"1"})");
    QTest::newRow("approved, from a library that lacks another entry point")
        << noCredit
        << QByteArray(R"({"IniciaVendaDebito":{"reply":{"q7_bridge_code":0,"nsuTransacao":"9"}}})")
        << request("CRT", R"({"identificacao":"4","numero_pdv":"003","valor":"1000","tipo_cartao":"2"})");
    QTest::newRow("entry point not exported") << noCredit << QByteArray() << credit;
    // Still answered, or the sales application would wait for a response for ever.
    QTest::newRow("library not loaded") << kMissing << QByteArray() << credit;
    // The reader's error text is no reply of the library: it reads as the unknown error.
    QTest::newRow("invalid request")
        << kLibrary << QByteArray()
        << R"({"header":"CRT","msg_erro":"Campo 003-000 obrigatório","parametros":{"identificacao":"77","valor":"100"}})";
    QTest::newRow("codes are case-sensitive")
        << kLibrary << QByteArray() << request("crt", R"({"identificacao":"7"})");
    // Answered at once, the window left alone; the library cannot undo, which support must see.
    for (const char *code : {"CNF", "NCN"})
        QTest::newRow(code) << kLibrary << QByteArray()
                            << request(code, R"({"identificacao":"4711","numero_transacao":"123456"})");
    QTest::newRow("ATV without library")
        << kMissing << QByteArray() << request("ATV", R"({"identificacao":"4711"})");
}

void tst_Q7_Bridge_Controller::paths() {
    QFETCH(QString, library);
    QFETCH(QByteArray, scenario);
    QFETCH(QString, request);
    Simulator sim(scenario);
    MessageCapture log("[Q7_Bridge_Controller]");
    auto controller = std::make_unique<Q7_Bridge_Controller>(nullptr, library);
    SignalLog window(controller.get());
    QVERIFY(window.play(request));
    controller.reset();
    const QStringList actual = transcript(sim.calls(), window, MessageCapture::lines());
    QCOMPARE(actual, golden("bridge-paths.txt", actual));
}

// The record turns the request's texts into the library's arguments.
void tst_Q7_Bridge_Controller::requestReachesTheLibrary_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("parametros");
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("title");

    const auto sale = [](const char *more) {
        return QStringLiteral(R"({"identificacao":"7","numero_pdv":"01","valor":"1000"%1})").arg(more);
    };
    const QString ten = "Valor: R$\u00a010,00";
    const QString venda = R"(IniciaVenda {"idTransacao":7,"pdv":"01","valorTotal":"1000"})";
    const auto credit = [](const char *plan) {
        return QStringLiteral(R"(IniciaVendaCredito {"idTransacao":7,%1,"pdv":"01",%2,"valorTotal":"1000"})")
            .arg(QString(plan).section('|', 0, 0), QString(plan).section('|', 1));
    };
    const auto cancel = [](const char *dataHora) {
        return QStringLiteral(
                   R"(IniciaCancelamentoVenda {"dataHora":"%1","idTransacao":7,"nsu":"031417","pdv":"01",)"
                   R"("valorTotal":"1000"})")
            .arg(dataHora);
    };
    QTest::newRow("sale, no card type") << "CRT" << sale("") << venda << "Venda\n" + ten;
    QTest::newRow("debit") << "CRT" << sale(R"(,"tipo_cartao":"2")")
                           << R"(IniciaVendaDebito {"idTransacao":7,"pdv":"01","valorTotal":"1000"})"
                           << "Débito\n" + ten;
    QTest::newRow("credit, issuer instalments, amount with separators")
        << "CRT"
        << R"({"identificacao":"34504","numero_pdv":"003","valor":"1.234,56","tipo_cartao":"1","tipo_parcelamento":"1","quantidade_parcelas":"3"})"
        << R"(IniciaVendaCredito {"idTransacao":34504,"numParcelas":3,"pdv":"003","tipoFinanciamento":2,"valorTotal":"1.23456"})"
        << "Crédito\nValor: R$\u00a01.234,56";
    QTest::newRow("credit in cash") << "CRT" << sale(R"(,"tipo_cartao":"1","quantidade_parcelas":"1")")
                                    << credit(R"("numParcelas":0|"tipoFinanciamento":1)")
                                    << "Crédito\n" + ten;
    QTest::newRow("credit, no type, three instalments")
        << "CRT" << sale(R"(,"tipo_cartao":"1","quantidade_parcelas":"3")")
        << credit(R"("numParcelas":0|"tipoFinanciamento":0)") << "Crédito\n" + ten;
    QTest::newRow("credit, store instalments, no count")
        << "CRT" << sale(R"(,"tipo_cartao":"1","tipo_parcelamento":"0")")
        << credit(R"("numParcelas":0|"tipoFinanciamento":3)") << "Crédito\n" + ten;
    QTest::newRow("credit, other type")
        << "CRT" << sale(R"(,"tipo_cartao":"1","tipo_parcelamento":"7","quantidade_parcelas":"2")")
        << credit(R"("numParcelas":2|"tipoFinanciamento":-1)") << "Crédito\n" + ten;
    const auto cnc = [&sale](const char *data, const char *hora) {
        return sale(qPrintable(
            QStringLiteral(R"(,"numero_transacao":"031417","data_transacao":"%1","hora_transacao":"%2")")
                .arg(data, hora)));
    };
    QTest::newRow("cancellation") << "CNC" << cnc("25122023", "143000") << cancel("25/12/2023 14:30:00")
                                  << "Cancelamento";
    QTest::newRow("cancellation, date alone")
        << "CNC" << cnc("25122023", "") << cancel("25/12/2023") << "Cancelamento";
    QTest::newRow("cancellation, no such date")
        << "CNC" << cnc("31022023", "") << cancel("31022023") << "Cancelamento";
    QTest::newRow("cancellation, no such hour: kept as joined")
        << "CNC" << cnc("25122023", "250000") << cancel("25122023250000") << "Cancelamento";
    QTest::newRow("cancellation, time without date")
        << "CNC" << cnc("", "143000") << cancel("") << "Cancelamento";
    QTest::newRow("administrative")
        << "ADM" << sale("") << R"(IniciaOperacaoAdministrativa {"idTransacao":7,"pdv":"01","reservado":0})"
        << "Operação administrativa";
    QTest::newRow("id not a number, no point of sale")
        << "CRT"
        << R"({"identificacao":"12a"})"
        << R"(IniciaVenda {"idTransacao":-1,"pdv":"q7","valorTotal":""})"
        << "Venda\nValor: R$\u00a00,00";
}

void tst_Q7_Bridge_Controller::requestReachesTheLibrary() {
    QFETCH(QString, header);
    QFETCH(QString, parametros);
    QFETCH(QString, call);
    QFETCH(QString, title);
    Simulator sim;
    Q7_Bridge_Controller controller(nullptr, kLibrary);
    SignalLog window(&controller);
    QVERIFY(window.play(request(header, parametros)));
    QCOMPARE(sim.calls(), QStringList{call});
    QCOMPARE(window.of("firstTextChanged").value(1), title); // after the fresh screen's amount
    // The response names the request as the library got it.
    const QJsonObject args = object(call.section(' ', 1));
    const QJsonObject response = window.response();
    QCOMPARE(response["resultadoTransacao"], QJsonValue(0));
    QCOMPARE(response["operacao"].toString(), header);
    QCOMPARE(response["identificadorTransacaoAutomacao"].toString(),
             QString::number(args["idTransacao"].toInt()));
    QCOMPARE(response["q7_pdv"], args["pdv"]);
}

void tst_Q7_Bridge_Controller::replyEvaluation_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("response"); // besides operacao, q7_pdv and identificadorTransacaoAutomacao

    const QString unknown = R"({"resultadoTransacao":-9999,"mensagemResultado":"Erro desconhecido"})";
    QTest::newRow("approved")
        << QByteArray(
               R"({"reply":{"q7_bridge_code":0,"resultadoTransacao":0,"mensagemResultado":"APROVADA"}})")
        << "[0] APROVADA"
        << R"({"q7_bridge_code":0,"resultadoTransacao":0,"mensagemResultado":"APROVADA"})";
    QTest::newRow("declined by the host")
        << QByteArray(
               R"({"reply":{"q7_bridge_code":0,"resultadoTransacao":51,"mensagemResultado":"SALDO INSUFICIENTE"}})")
        << "[51] SALDO INSUFICIENTE"
        << R"({"q7_bridge_code":0,"resultadoTransacao":51,"mensagemResultado":"SALDO INSUFICIENTE"})";
    QTest::newRow("bridge code replaces the reply's result")
        << QByteArray(
               R"({"reply":{"q7_bridge_code":12,"q7_bridge_msg":"Pinpad","resultadoTransacao":0,"mensagemResultado":"APROVADA"}})")
        << "[12] Pinpad"
        << R"({"q7_bridge_code":12,"q7_bridge_msg":"Pinpad","resultadoTransacao":12,"mensagemResultado":"Pinpad"})";
    QTest::newRow("message without code")
        << QByteArray(R"({"reply":{"q7_bridge_msg":"Sem conexão"}})") << "[-9999] Sem conexão"
        << R"({"q7_bridge_msg":"Sem conexão","resultadoTransacao":-9999,"mensagemResultado":"Sem conexão"})";
    QTest::newRow("code as text")
        << QByteArray(R"({"reply":{"q7_bridge_code":"0"}})") << "[-9999] Erro desconhecido"
        << R"({"q7_bridge_code":"0","resultadoTransacao":-9999,"mensagemResultado":"Erro desconhecido"})";
    QTest::newRow("code not whole")
        << QByteArray(R"({"reply":{"q7_bridge_code":0.5}})") << "[-9999] Erro desconhecido"
        << R"({"q7_bridge_code":0.5,"resultadoTransacao":-9999,"mensagemResultado":"Erro desconhecido"})";
    QTest::newRow("malformed text") << QByteArray(R"({"text":"{\"q7_bridge_code\": 0,"})")
                                    << "[-9999] Erro desconhecido" << unknown;
    QTest::newRow("null pointer") << QByteArray("null") << "[-9999] Erro desconhecido" << unknown;
}

void tst_Q7_Bridge_Controller::replyEvaluation() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, status);
    QFETCH(QString, response);
    Simulator sim(R"({"IniciaVenda":)" + reply + '}');
    Q7_Bridge_Controller controller(nullptr, kLibrary);
    SignalLog window(&controller);
    QVERIFY(window.play(request("CRT", R"({"identificacao":"5","numero_pdv":"02","valor":"250"})")));
    QCOMPARE(window.of("textChanged").mid(2), QStringList({status, status + "\nTEF em processamento...."}));
    QJsonObject expected = object(response);
    expected.insert("operacao", "CRT");
    expected.insert("q7_pdv", "02");
    expected.insert("identificadorTransacaoAutomacao", "5");
    QCOMPARE(window.response(), expected);
}

QTEST_MAIN(tst_Q7_Bridge_Controller)
#include "tst_Q7_Bridge_Controller.moc"
