#include "SignalLog.h"
#include "Simulator.h"
#include "base/Pause.h"
#include "controllers/Q7_Bridge_Controller.h"
#include "controllers/Q7_Bridge_VO.h"

#include <QtTest>

namespace {
const QString kLibrary = Q7_BIN_DIR "/libQ7_Bridge.so";
const QString kMissing = "/nonexistent/libQ7_Bridge.so";
} // namespace

class tst_Q7_Bridge_Controller : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Pause::setScale(0.01); }

    void paths_data() {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QString>("request");
        const QString noCredit = Q7_BRIDGE_SEM_CREDITO;
        const QString credit = request("CRT", R"({"identificacao":"3","valor":"1000","tipo_cartao":"1"})");
        // Its answer never taken: the library cannot undo it, which support must see.
        QTest::newRow("approved, from a library that lacks another entry point")
            << noCredit
            << QByteArray(
                   R"({"IniciaVendaDebito":{"reply":{"q7_bridge_code":0,"resultadoTransacao":0,"nsuTerminal":"9"}}})")
            << request("CRT",
                       R"({"identificacao":"4","numero_pdv":"003","valor":"1000","tipo_cartao":"2"})") +
                   "\nwithdraw";
        QTest::newRow("entry point not exported") << noCredit << QByteArray() << credit;
        // Still answered, or the sales application would wait for a response for ever.
        QTest::newRow("library not loaded") << kMissing << QByteArray() << credit;
        // The reader's error text is no reply of the library: it reads as the unknown error.
        QTest::newRow("invalid request")
            << kLibrary << QByteArray()
            << R"({"header":"CRT","msg_erro":"Campo 003-000 obrigatório","parametros":{"identificacao":"77","valor":"100"}})";
        QTest::newRow("identification beyond int refused")
            << kLibrary << QByteArray() << request("CRT", R"({"identificacao":"2147483648","valor":"1000"})");
        QTest::newRow("codes are case-sensitive")
            << kLibrary << QByteArray() << request("crt", R"({"identificacao":"7"})");
        // Answered at once, the window left alone; the library cannot undo, which support must see.
        for (const char *code : {"CNF", "NCN"})
            QTest::newRow(code) << kLibrary << QByteArray()
                                << request(code, R"({"identificacao":"4711","numero_transacao":"123456"})");
        QTest::newRow("ATV without library")
            << kMissing << QByteArray() << request("ATV", R"({"identificacao":"4711"})");
    }
    void paths() {
        QFETCH(QString, library);
        QFETCH(QByteArray, scenario);
        QFETCH(QString, request);
        const QStringList actual = playPaths<Q7_Bridge_Controller>(
            library, scenario, request.split('\n'), {}, "[Q7_Bridge_Controller]",
            {"log info [Q7_Bridge_Controller] API carregada com sucesso",
             "log info [Q7_Bridge_Controller] Biblioteca Q7_Bridge liberada"});
        QCOMPARE(actual, golden("bridge-paths.txt", actual));
    }

    // The record turns the request's texts into the library's arguments, and the reply into the
    // status line and the response.
    void exchange_data() {
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("parametros");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QByteArray>("reply"); // empty: the library's default
        QTest::addColumn<QString>("status");

        const auto sale = [](const char *more) {
            return QStringLiteral(R"({"identificacao":"7","numero_pdv":"01","valor":"1000"%1})").arg(more);
        };
        const QString venda = R"(IniciaVenda {"idTransacao":7,"pdv":"01","valorTotal":"1000"})";
        const auto row = [&](const char *name, const char *header, const QString &parametros,
                             const QString &call, const QByteArray &reply = {}, const QString &status = {}) {
            QTest::newRow(name) << header << parametros << call << reply
                                << (!reply.isEmpty()                 ? status
                                    : header == QLatin1String("CNC") ? "[0] CANCELAMENTO APROVADO"
                                    : header == QLatin1String("ADM") ? "[0] OPERACAO CONCLUIDA"
                                                                     : "[0] APROVADA");
        };
        const auto credit = [&](const char *name, const char *more, const char *plan) {
            row(name, "CRT", sale(qPrintable(R"(,"tipo_cartao":"1")" + QString(more))),
                QStringLiteral(R"(IniciaVendaCredito {"idTransacao":7,%1,"pdv":"01",%2,"valorTotal":"1000"})")
                    .arg(QString(plan).section('|', 0, 0), QString(plan).section('|', 1)));
        };
        const auto cancel = [&](const char *name, const char *data, const char *hora, const char *dataHora) {
            row(name, "CNC",
                sale(qPrintable(
                    QStringLiteral(
                        R"(,"numero_transacao":"031417","data_transacao":"%1","hora_transacao":"%2")")
                        .arg(data, hora))),
                QStringLiteral(R"(IniciaCancelamentoVenda {"dataHora":"%1","idTransacao":7,"nsu":"031417",)"
                               R"("pdv":"01","valorTotal":"1000"})")
                    .arg(dataHora));
        };
        row("sale, no card type", "CRT", sale(""), venda);
        row("debit", "CRT", sale(R"(,"tipo_cartao":"2")"),
            R"(IniciaVendaDebito {"idTransacao":7,"pdv":"01","valorTotal":"1000"})");
        row("credit, issuer instalments, amount with separators", "CRT",
            R"({"identificacao":"34504","numero_pdv":"003","valor":"1.234,56","tipo_cartao":"1","tipo_parcelamento":"1","quantidade_parcelas":"3"})",
            R"(IniciaVendaCredito {"idTransacao":34504,"numParcelas":3,"pdv":"003","tipoFinanciamento":2,"valorTotal":"1.23456"})");
        credit("credit in cash", R"(,"quantidade_parcelas":"1")", R"("numParcelas":0|"tipoFinanciamento":1)");
        credit("credit, no type, three instalments", R"(,"quantidade_parcelas":"3")",
               R"("numParcelas":0|"tipoFinanciamento":0)");
        credit("credit, store instalments, no count", R"(,"tipo_parcelamento":"0")",
               R"("numParcelas":0|"tipoFinanciamento":3)");
        credit("credit, other type", R"(,"tipo_parcelamento":"7","quantidade_parcelas":"2")",
               R"("numParcelas":2|"tipoFinanciamento":-1)");
        cancel("cancellation", "25122023", "143000", "25/12/2023 14:30:00");
        cancel("cancellation, date alone", "25122023", "", "25/12/2023");
        cancel("cancellation, no such hour: kept as joined", "25122023", "250000", "25122023250000");
        cancel("cancellation, time without date", "", "143000", "");
        row("administrative", "ADM", sale(""),
            R"(IniciaOperacaoAdministrativa {"idTransacao":7,"pdv":"01","reservado":0})");
        row("id with leading zeros: its number to the library, its text back; no point of sale", "CRT",
            R"({"identificacao":"007"})", R"(IniciaVenda {"idTransacao":7,"pdv":"q7","valorTotal":""})");
        // The reply's evaluation: a bridge code other than 0 replaces the reply's result.
        const auto reply = [&](const char *name, const char *json, const char *status) {
            row(name, "CRT", sale(""), venda, QByteArray(R"({"reply":)") + json + '}', status);
        };
        reply("approved", R"({"q7_bridge_code":0,"resultadoTransacao":0,"mensagemResultado":"APROVADA"})",
              "[0] APROVADA");
        reply(
            "bridge code replaces the reply's result",
            R"({"q7_bridge_code":12,"q7_bridge_msg":"Pinpad","resultadoTransacao":0,"mensagemResultado":"APROVADA"})",
            "[12] Pinpad");
        reply("message without code", R"({"q7_bridge_msg":"Sem conexão"})", "[-9999] Sem conexão");
        const char *unknown = "[-9999] Resultado da transação não reconhecido. Confira antes de repetir";
        reply("code as text is read; no result is no approval", R"({"q7_bridge_code":"0"})", unknown);
        reply("result as text is its number; a decline gets a message",
              R"({"q7_bridge_code":0,"resultadoTransacao":"51"})", "[51] Transação não aprovada");
        reply("result that holds no number", R"({"q7_bridge_code":0,"resultadoTransacao":"0A"})", unknown);
        reply("code 0.5, empty message", R"({"q7_bridge_code":0.5,"q7_bridge_msg":""})",
              "[-9999] Erro desconhecido");
    }
    void exchange() {
        QFETCH(QString, header);
        QFETCH(QString, parametros);
        QFETCH(QString, call);
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        Simulator sim(reply.isEmpty() ? reply
                                      : "{\"" + call.section(' ', 0, 0).toUtf8() + "\":" + reply + '}');
        Q7_Bridge_Controller controller(nullptr, kLibrary);
        SignalLog window(&controller);
        QVERIFY(window.play(request(header, parametros)));
        QCOMPARE(sim.calls(), QStringList{call});
        QCOMPARE(window.of("textChanged").mid(2),
                 QStringList({status, status + "\nTEF em processamento...."}));
        // The response names the request as the library got it, with the reply's members.
        const QJsonObject args = QJsonDocument::fromJson(call.section(' ', 1).toUtf8()).object();
        QJsonObject expected = QJsonDocument::fromJson(reply).object()["reply"].toObject();
        expected.insert("resultadoTransacao", status.section(']', 0, 0).mid(1).toInt());
        expected.insert("mensagemResultado", status.section("] ", 1));
        expected.insert("operacao", header);
        expected.insert("q7_pdv", args["pdv"]);
        expected.insert("identificadorTransacaoAutomacao",
                        QJsonDocument::fromJson(parametros.toUtf8())["identificacao"]);
        QJsonObject response = window.response();
        if (reply.isEmpty()) // the default reply's own members are the library's
            for (const QString &key : response.keys())
                if (!expected.contains(key))
                    response.remove(key);
        QCOMPARE(response, expected);
        // A record used again keeps none of the previous request's date.
        Q7_Bridge_VO used;
        used.setDataHora("01012020", "");
        used.setDataHora(QJsonDocument::fromJson(parametros.toUtf8())["data_transacao"].toString(),
                         QJsonDocument::fromJson(parametros.toUtf8())["hora_transacao"].toString());
        QCOMPARE(used.dataHora(), args["dataHora"].toString());
    }

private:
    static QString request(const QString &header, const QString &parametros) {
        return QStringLiteral(R"({"header":"%1","parametros":%2})").arg(header, parametros);
    }
};

QTEST_MAIN(tst_Q7_Bridge_Controller)
#include "tst_Q7_Bridge_Controller.moc"
