#include "MessageCapture.h"
#include "SignalLog.h"
#include "Simulator.h"
#include "base/Pause.h"
#include "controllers/Q7_Bridge_Controller.h"
#include "exchange/ProtocoloSitef.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString compact(const QJsonObject &object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject objectOf(const QString &json) {
    return QJsonDocument::fromJson(json.toUtf8()).object();
}

QString request(const QString &header, const QJsonObject &parametros) {
    return compact({{"header", header}, {"operacao", "1"}, {"parametros", parametros}});
}

QString bridgeLibrary() {
    return QStringLiteral(Q7_BIN_DIR "/libQ7_Bridge.so");
}

// The response to a request the controller refused before any approval.
QJsonObject refused(const QString &message, const QString &header, const QString &pdv, const QString &id) {
    return {{"q7_bridge_code", -9999},
            {"q7_bridge_msg", message},
            {"resultadoTransacao", -9999},
            {"mensagemResultado", message},
            {"operacao", header},
            {"q7_pdv", pdv},
            {"identificadorTransacaoAutomacao", id}};
}

// Every signal in emission order, as the window would see it; the response document itself
// is checked through its own spy.
class SignalRecorder : public SignalLog {
public:
    explicit SignalRecorder(Base_Controller *c)
        : SignalLog(c, Qt::DirectConnection) {}
    QStringList events() const {
        QStringList list = lines;
        for (QString &line : list)
            if (line.startsWith(QLatin1String("responseProcessTEF:")))
                line = QStringLiteral("responseProcessTEF");
        return list;
    }
};

} // namespace

// Found by QCOMPARE through argument-dependent lookup: failures show the documents.
char *toString(const QJsonObject &object) {
    return qstrdup(compact(object).toUtf8().constData());
}

class tst_Q7_Bridge_Controller : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void shortPathAnswersAtOnce_data();
    void shortPathAnswersAtOnce();
    void creditSaleInInstalments();
    void operationChoosesTheCall_data();
    void operationChoosesTheCall();
    void replyEvaluation_data();
    void replyEvaluation();
    void requestDefaultsReachTheLibrary_data();
    void requestDefaultsReachTheLibrary();
    void invalidRequestIsAnsweredWithoutCall();
    void missingLibraryStillAnswers_data();
    void missingLibraryStillAnswers();
    void missingExportIsNeverCalled();
    void defaultRepliesFitTheResponseWriter_data();
    void defaultRepliesFitTheResponseWriter();
    void logLines();

private:
    // Runs one request through `controller` and returns the response documents it emitted.
    QList<QJsonObject> run(Q7_Bridge_Controller &controller, const QString &json);
    void setScenario(const QJsonObject &scenario);
    QList<QJsonObject> calls() const;

    std::unique_ptr<Simulator> sim;
};

void tst_Q7_Bridge_Controller::initTestCase() {
    Pause::setScale(0.01);
    QVERIFY2(QFile::exists(bridgeLibrary()), "the bridge simulator is not built");
}

void tst_Q7_Bridge_Controller::init() {
    sim = std::make_unique<Simulator>();
}

void tst_Q7_Bridge_Controller::cleanup() {
    sim.reset();
}

QList<QJsonObject> tst_Q7_Bridge_Controller::run(Q7_Bridge_Controller &controller, const QString &json) {
    QSignalSpy responses(&controller, &Base_Controller::responseProcessTEF);
    controller.setJsonConfigs(json);
    controller.start();
    if (!controller.wait(10000))
        return {};
    QList<QJsonObject> documents;
    for (const QList<QVariant> &arguments : responses)
        documents << objectOf(arguments.at(0).toString());
    return documents;
}

void tst_Q7_Bridge_Controller::setScenario(const QJsonObject &scenario) {
    sim.reset(); // the old one unsets the environment when it goes
    sim = std::make_unique<Simulator>(scenario);
}

QList<QJsonObject> tst_Q7_Bridge_Controller::calls() const {
    return sim->calls();
}

void tst_Q7_Bridge_Controller::shortPathAnswersAtOnce_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("library");
    QTest::addColumn<QStringList>("criticals");
    const QString missing = QStringLiteral("/nonexistent/libQ7_Bridge.so");
    QTest::newRow("CNF") << "CNF" << bridgeLibrary() << QStringList();
    // The library cannot undo: support must be able to see the sale that stays.
    QTest::newRow("NCN") << "NCN" << bridgeLibrary()
                         << QStringList{"critical [Q7_Bridge_Controller] A biblioteca Q7_Bridge não desfaz "
                                        "transações; NCN sem efeito (id 4711, NSU 123456)"};
    QTest::newRow("ATV") << "ATV" << bridgeLibrary() << QStringList();
    QTest::newRow("CNF without library") << "CNF" << missing
                                         << QStringList{"critical [Q7_Bridge_Controller] Erro ao carregar a "
                                                        "biblioteca do Q7_Bridge"};
    QTest::newRow("ATV without library") << "ATV" << missing
                                         << QStringList{"critical [Q7_Bridge_Controller] Erro ao carregar a "
                                                        "biblioteca do Q7_Bridge"};
}

void tst_Q7_Bridge_Controller::shortPathAnswersAtOnce() {
    QFETCH(QString, header);
    QFETCH(QString, library);
    QFETCH(QStringList, criticals);
    MessageCapture log("[Q7_Bridge_Controller]");
    Q7_Bridge_Controller controller(nullptr, library);
    SignalRecorder recorder(&controller);

    const QList<QJsonObject> responses = run(
        controller,
        request(header, {{"identificacao", "4711"}, {"numero_pdv", "003"}, {"numero_transacao", "123456"}}));
    QCOMPARE(MessageCapture::lines().filter("critical "), criticals);

    QCOMPARE(responses.size(), 1);
    QCOMPARE(responses.at(0), QJsonObject({{"header", header}, {"identificadorTransacaoAutomacao", "4711"}}));
    // Not even the window is touched.
    QCOMPARE(recorder.events(), QStringList{"responseProcessTEF"});
    QCOMPARE(calls(), QList<QJsonObject>());
}

void tst_Q7_Bridge_Controller::creditSaleInInstalments() {
    Q7_Bridge_Controller controller(nullptr, bridgeLibrary());
    SignalRecorder recorder(&controller);
    QSignalSpy texts(&controller, &Base_Controller::textChanged);

    const QList<QJsonObject> responses = run(controller, request("CRT", {{"identificacao", "34504"},
                                                                         {"numero_pdv", "003"},
                                                                         {"valor", "1.234,56"},
                                                                         {"tipo_cartao", "1"},
                                                                         {"tipo_parcelamento", "1"},
                                                                         {"quantidade_parcelas", "3"}}));

    QCOMPARE(calls(), QList<QJsonObject>({QJsonObject{{"fn", "IniciaVendaCredito"},
                                                      {"args", QJsonObject{{"idTransacao", 34504},
                                                                           {"pdv", "003"},
                                                                           {"valorTotal", "1.23456"},
                                                                           {"tipoFinanciamento", 2},
                                                                           {"numParcelas", 3}}}}}));
    const QString amount = QStringLiteral("R$\u00a01.234,56");
    QCOMPARE(recorder.events(),
             freshScreen(amount) + QStringList({
                                       "showWindow:1",
                                       "disableProgressBar:0",
                                       "textChanged:Processando transação...",
                                       "firstTextChanged:Crédito\nValor: " + amount,
                                       "textChanged:[0] APROVADA",
                                       "disableProgressBar:1",
                                       "showWindow:0",
                                       "responseProcessTEF",
                                       "textChanged:[0] APROVADA\nTEF em processamento....",
                                       "disableProgressBar:0",
                                   }));
    QCOMPARE(texts.count(), 4);

    QCOMPARE(responses.size(), 1);
    const QJsonObject response = responses.at(0);
    QCOMPARE(response.value("operacao").toString(), QStringLiteral("CRT"));
    QCOMPARE(response.value("q7_pdv").toString(), QStringLiteral("003"));
    QCOMPARE(response.value("identificadorTransacaoAutomacao").toString(), QStringLiteral("34504"));
    QCOMPARE(response.value("q7_bridge_code").toInt(-1), 0);
    QCOMPARE(response.value("resultadoTransacao").toInt(-1), 0);
    QCOMPARE(response.value("tipoFinanciamento").toString(), QStringLiteral("PARCELADO_EMISSOR"));
    QCOMPARE(response.value("numeroParcelas").toInt(), 3);
    QCOMPARE(response.value("valorTotal").toString(), QStringLiteral("123456"));
}

void tst_Q7_Bridge_Controller::operationChoosesTheCall_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<QJsonObject>("parametros");
    QTest::addColumn<QString>("firstText");
    QTest::addColumn<QJsonObject>("call"); // empty: the library is not called

    const QJsonObject sale{{"identificacao", "7"}, {"numero_pdv", "01"}, {"valor", "1000"}};
    const QJsonObject saleArgs{{"idTransacao", 7}, {"pdv", "01"}, {"valorTotal", "1000"}};
    const QString amount = QStringLiteral("R$\u00a010,00");
    const auto with = [](QJsonObject object, const QString &key, const QJsonValue &value) {
        object.insert(key, value);
        return object;
    };

    QTest::newRow("CRT without card type") << "CRT" << sale << "Venda\nValor: " + amount
                                           << QJsonObject{{"fn", "IniciaVenda"}, {"args", saleArgs}};
    QTest::newRow("CRT unknown card type")
        << "CRT" << with(sale, "tipo_cartao", "9") << "Venda\nValor: " + amount
        << QJsonObject{{"fn", "IniciaVenda"}, {"args", saleArgs}};
    QTest::newRow("CRT debit") << "CRT" << with(sale, "tipo_cartao", "2") << "Débito\nValor: " + amount
                               << QJsonObject{{"fn", "IniciaVendaDebito"}, {"args", saleArgs}};
    QTest::newRow("CRT credit in cash")
        << "CRT" << with(with(sale, "tipo_cartao", "1"), "quantidade_parcelas", "1")
        << "Crédito\nValor: " + amount
        << QJsonObject{{"fn", "IniciaVendaCredito"},
                       {"args", with(with(saleArgs, "tipoFinanciamento", 1), "numParcelas", 0)}};
    QTest::newRow("CNC") << "CNC"
                         << with(with(with(sale, "data_transacao", "25122023"), "hora_transacao", "143000"),
                                 "numero_transacao", "031417")
                         << "Cancelamento"
                         << QJsonObject{{"fn", "IniciaCancelamentoVenda"},
                                        {"args", with(with(saleArgs, "dataHora", "25/12/2023 14:30:00"),
                                                      "nsu", "031417")}};
    QTest::newRow("ADM") << "ADM" << QJsonObject{{"identificacao", "8"}, {"numero_pdv", "01"}}
                         << "Operação administrativa"
                         << QJsonObject{
                                {"fn", "IniciaOperacaoAdministrativa"},
                                {"args", QJsonObject{{"idTransacao", 8}, {"pdv", "01"}, {"reservado", 0}}}};
    QTest::newRow("unknown code") << "XYZ" << sale << "Operação desconhecida" << QJsonObject();
    QTest::newRow("codes are case-sensitive") << "crt" << sale << "Operação desconhecida" << QJsonObject();
}

void tst_Q7_Bridge_Controller::operationChoosesTheCall() {
    QFETCH(QString, header);
    QFETCH(QJsonObject, parametros);
    QFETCH(QString, firstText);
    QFETCH(QJsonObject, call);
    Q7_Bridge_Controller controller(nullptr, bridgeLibrary());
    QSignalSpy firstTexts(&controller, &Base_Controller::firstTextChanged);

    const QList<QJsonObject> responses = run(controller, request(header, parametros));

    QCOMPARE(firstTexts.count(), 2); // the amount on the fresh screen, then the operation's text
    QCOMPARE(firstTexts.at(1).at(0).toString(), firstText);
    QCOMPARE(calls(), call.isEmpty() ? QList<QJsonObject>() : QList<QJsonObject>{call});
    QCOMPARE(responses.size(), 1);
    QCOMPARE(responses.at(0).value("operacao").toString(), header);
    if (call.isEmpty()) {
        QCOMPARE(responses.at(0), refused("Operação inválida", header, "01", "7"));
    } else {
        QCOMPARE(responses.at(0).value("resultadoTransacao").toInt(-1), 0);
    }
}

void tst_Q7_Bridge_Controller::replyEvaluation_data() {
    QTest::addColumn<QJsonValue>("reply");
    QTest::addColumn<QString>("statusLine");
    QTest::addColumn<QJsonObject>("response"); // without the three identifying keys

    const QJsonObject unknown{{"resultadoTransacao", -9999}, {"mensagemResultado", "Erro desconhecido"}};

    QTest::newRow("approved") << QJsonValue(
                                     QJsonObject{{"reply", QJsonObject{{"q7_bridge_code", 0},
                                                                       {"resultadoTransacao", 0},
                                                                       {"mensagemResultado", "APROVADA"},
                                                                       {"nsuTransacao", "031417"}}}})
                              << "[0] APROVADA"
                              << QJsonObject{{"q7_bridge_code", 0},
                                             {"resultadoTransacao", 0},
                                             {"mensagemResultado", "APROVADA"},
                                             {"nsuTransacao", "031417"}};
    QTest::newRow("only the code") << QJsonValue(QJsonObject{{"reply", QJsonObject{{"q7_bridge_code", 0}}}})
                                   << "[0] Fim da transação" << QJsonObject{{"q7_bridge_code", 0}};
    QTest::newRow("declined by the bridge")
        << QJsonValue(QJsonObject{{"declined", 5}, {"message", "Cancelada"}}) << "[5] Cancelada"
        << QJsonObject{{"q7_bridge_code", 5},
                       {"q7_bridge_msg", "Cancelada"},
                       {"resultadoTransacao", 5},
                       {"mensagemResultado", "Cancelada"}};
    QTest::newRow("bridge code replaces the reply's result")
        << QJsonValue(QJsonObject{{"reply", QJsonObject{{"q7_bridge_code", 12},
                                                        {"q7_bridge_msg", "Pinpad desconectado"},
                                                        {"resultadoTransacao", 0},
                                                        {"mensagemResultado", "APROVADA"}}}})
        << "[12] Pinpad desconectado"
        << QJsonObject{{"q7_bridge_code", 12},
                       {"q7_bridge_msg", "Pinpad desconectado"},
                       {"resultadoTransacao", 12},
                       {"mensagemResultado", "Pinpad desconectado"}};
    QTest::newRow("declined by the host")
        << QJsonValue(QJsonObject{{"reply", QJsonObject{{"q7_bridge_code", 0},
                                                        {"resultadoTransacao", 51},
                                                        {"mensagemResultado", "SALDO INSUFICIENTE"}}}})
        << "[51] SALDO INSUFICIENTE"
        << QJsonObject{{"q7_bridge_code", 0},
                       {"resultadoTransacao", 51},
                       {"mensagemResultado", "SALDO INSUFICIENTE"}};
    QTest::newRow("message without code")
        << QJsonValue(QJsonObject{{"reply", QJsonObject{{"q7_bridge_msg", "Sem conexão"}}}})
        << "[-9999] Sem conexão"
        << QJsonObject{{"q7_bridge_msg", "Sem conexão"},
                       {"resultadoTransacao", -9999},
                       {"mensagemResultado", "Sem conexão"}};
    QTest::newRow("code as text") << QJsonValue(QJsonObject{{"reply", QJsonObject{{"q7_bridge_code", "0"}}}})
                                  << "[-9999] Erro desconhecido"
                                  << QJsonObject{{"q7_bridge_code", "0"},
                                                 {"resultadoTransacao", -9999},
                                                 {"mensagemResultado", "Erro desconhecido"}};
    QTest::newRow("code not whole") << QJsonValue(
                                           QJsonObject{{"reply", QJsonObject{{"q7_bridge_code", 0.5}}}})
                                    << "[-9999] Erro desconhecido"
                                    << QJsonObject{{"q7_bridge_code", 0.5},
                                                   {"resultadoTransacao", -9999},
                                                   {"mensagemResultado", "Erro desconhecido"}};
    QTest::newRow("malformed text") << QJsonValue(QJsonObject{{"text", "{\"q7_bridge_code\": 0,"}})
                                    << "[-9999] Erro desconhecido" << unknown;
    QTest::newRow("array text") << QJsonValue(QJsonObject{{"text", "[0]"}}) << "[-9999] Erro desconhecido"
                                << unknown;
    QTest::newRow("empty text") << QJsonValue("empty") << "[-9999] Erro desconhecido" << unknown;
    QTest::newRow("null pointer") << QJsonValue(QJsonValue::Null) << "[-9999] Erro desconhecido" << unknown;
}

void tst_Q7_Bridge_Controller::replyEvaluation() {
    QFETCH(QJsonValue, reply);
    QFETCH(QString, statusLine);
    QFETCH(QJsonObject, response);
    setScenario({{"IniciaVenda", reply}});
    Q7_Bridge_Controller controller(nullptr, bridgeLibrary());
    QSignalSpy texts(&controller, &Base_Controller::textChanged);

    const QList<QJsonObject> responses =
        run(controller, request("CRT", {{"identificacao", "5"}, {"numero_pdv", "02"}, {"valor", "250"}}));

    QCOMPARE(texts.count(), 4);
    QCOMPARE(texts.at(2).at(0).toString(), statusLine);
    QCOMPARE(texts.at(3).at(0).toString(), statusLine + "\nTEF em processamento....");
    response.insert("operacao", "CRT");
    response.insert("q7_pdv", "02");
    response.insert("identificadorTransacaoAutomacao", "5");
    QCOMPARE(responses, QList<QJsonObject>{response});
}

void tst_Q7_Bridge_Controller::requestDefaultsReachTheLibrary_data() {
    QTest::addColumn<QJsonObject>("parametros");
    QTest::addColumn<int>("idTransacao");
    QTest::addColumn<QString>("pdv");
    QTest::newRow("identificacao not a number")
        << QJsonObject{{"identificacao", "12a"}, {"numero_pdv", "04"}} << -1 << "04";
    QTest::newRow("identificacao not a string")
        << QJsonObject{{"identificacao", 12}, {"numero_pdv", "04"}} << -1 << "04";
    QTest::newRow("no numero_pdv") << QJsonObject{{"identificacao", "9"}} << 9 << "q7";
}

void tst_Q7_Bridge_Controller::requestDefaultsReachTheLibrary() {
    QFETCH(QJsonObject, parametros);
    QFETCH(int, idTransacao);
    QFETCH(QString, pdv);
    Q7_Bridge_Controller controller(nullptr, bridgeLibrary());

    const QList<QJsonObject> responses = run(controller, request("CRT", parametros));

    const QList<QJsonObject> received = calls();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).value("args").toObject().value("idTransacao").toInt(), idTransacao);
    QCOMPARE(received.at(0).value("args").toObject().value("pdv").toString(), pdv);
    QCOMPARE(responses.size(), 1);
    QCOMPARE(responses.at(0).value("identificadorTransacaoAutomacao").toString(),
             QString::number(idTransacao));
    QCOMPARE(responses.at(0).value("q7_pdv").toString(), pdv);
}

void tst_Q7_Bridge_Controller::invalidRequestIsAnsweredWithoutCall() {
    MessageCapture log("[Q7_Bridge_Controller]");
    Q7_Bridge_Controller controller(nullptr, bridgeLibrary());
    SignalRecorder recorder(&controller);
    const QString error = QStringLiteral("Campo 003-000 obrigatório");
    QJsonObject document = objectOf(request("CRT", {{"identificacao", "77"}, {"valor", "100"}}));
    document.insert("msg_erro", error);

    const QList<QJsonObject> responses = run(controller, compact(document));

    QCOMPARE(calls(), QList<QJsonObject>());
    QCOMPARE(recorder.events(), freshScreen(QStringLiteral("R$\u00a01,00")) +
                                    QStringList({
                                        "showWindow:1",
                                        "disableProgressBar:0",
                                        "textChanged:Processando transação...",
                                        "textChanged:" + error,
                                        "disableProgressBar:1",
                                        "textChanged:[-9999] Erro desconhecido",
                                        "disableProgressBar:1",
                                        "showWindow:0",
                                        "responseProcessTEF",
                                        "textChanged:[-9999] Erro desconhecido\nTEF em processamento....",
                                        "disableProgressBar:0",
                                    }));
    QCOMPARE(responses, QList<QJsonObject>{QJsonObject({{"operacao", "CRT"},
                                                        {"q7_pdv", "q7"},
                                                        {"identificadorTransacaoAutomacao", "77"},
                                                        {"resultadoTransacao", -9999},
                                                        {"mensagemResultado", "Erro desconhecido"}})});
    QVERIFY(MessageCapture::lines().contains("critical [Q7_Bridge_Controller] Erro: " + error));
}

void tst_Q7_Bridge_Controller::missingLibraryStillAnswers_data() {
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::newRow("no such file") << "libQ7_Bridge.so" << QByteArray();
    QTest::newRow("not a library's name") << "Q7_Bridge.txt" << QByteArray("text");
    QTest::newRow("not a library") << "libQ7_Bridge.so" << QByteArray("not an ELF file");
}

void tst_Q7_Bridge_Controller::missingLibraryStillAnswers() {
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    const QString library = sim->dir.filePath(fileName);
    if (!content.isNull()) {
        QFile file(library);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    Q7_Bridge_Controller controller(nullptr, library);
    SignalRecorder recorder(&controller);
    const QString message = QStringLiteral("Biblioteca Q7_Bridge não carregada");

    // Two requests in a row: each is answered, so the sales application never waits forever.
    for (const QString &id : {QStringLiteral("1"), QStringLiteral("2")}) {
        const QList<QJsonObject> responses =
            run(controller, request("CRT", {{"identificacao", id}, {"valor", "1000"}, {"tipo_cartao", "1"}}));
        QCOMPARE(responses, QList<QJsonObject>{refused(message, "CRT", "q7", id)});
    }
    const QStringList events = recorder.events();
    QCOMPARE(events.mid(0, 19), freshScreen(QStringLiteral("R$\u00a010,00")) +
                                    QStringList({
                                        "showWindow:1",
                                        "disableProgressBar:0",
                                        "textChanged:Processando transação...",
                                        "textChanged:" + message,
                                        "disableProgressBar:1",
                                        "textChanged:[-9999] " + message,
                                        "disableProgressBar:1",
                                        "showWindow:0",
                                        "responseProcessTEF",
                                        "textChanged:[-9999] " + message + "\nTEF em processamento....",
                                    }));
}

void tst_Q7_Bridge_Controller::missingExportIsNeverCalled() {
    Q7_Bridge_Controller controller(nullptr, QStringLiteral(Q7_BRIDGE_SEM_CREDITO));
    QSignalSpy texts(&controller, &Base_Controller::textChanged);
    const QString message =
        QStringLiteral("Função IniciaVendaCredito não encontrada na biblioteca Q7_Bridge");

    const QList<QJsonObject> credit =
        run(controller, request("CRT", {{"identificacao", "3"}, {"valor", "1000"}, {"tipo_cartao", "1"}}));

    QCOMPARE(calls(), QList<QJsonObject>());
    QCOMPARE(texts.count(), 5);
    QCOMPARE(texts.at(2).at(0).toString(), message);
    QCOMPARE(texts.at(3).at(0).toString(), "[-9999] " + message);
    QCOMPARE(credit, QList<QJsonObject>{refused(message, "CRT", "q7", "3")});

    // The entry points the library has still work.
    const QList<QJsonObject> debit =
        run(controller, request("CRT", {{"identificacao", "4"}, {"valor", "1000"}, {"tipo_cartao", "2"}}));
    QCOMPARE(calls().size(), 1);
    QCOMPARE(calls().at(0).value("fn").toString(), QStringLiteral("IniciaVendaDebito"));
    QCOMPARE(debit.size(), 1);
    QCOMPARE(debit.at(0).value("resultadoTransacao").toInt(-1), 0);
}

void tst_Q7_Bridge_Controller::defaultRepliesFitTheResponseWriter_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<QJsonObject>("parametros");
    QTest::addColumn<QStringList>("expectedLines");

    QTest::newRow("credit sale") << "CRT"
                                 << QJsonObject{{"identificacao", "34504"}, {"numero_pdv", "003"},
                                                {"valor", "1000"},          {"tipo_cartao", "1"},
                                                {"tipo_parcelamento", "0"}, {"quantidade_parcelas", "2"}}
                                 << QStringList{"000-000 = CRT",      "001-000 = 34504", "003-000 = 1000",
                                                "009-000 = 0",        "017-000 = 0",     "018-000 = 2",
                                                "030-000 = APROVADA", "210-052 = 003",   "375-000 = 0",
                                                "729-000 = true"};
    QTest::newRow("cancellation") << "CNC"
                                  << QJsonObject{{"identificacao", "55959"},
                                                 {"valor", "100"},
                                                 {"numero_transacao", "031417"},
                                                 {"data_transacao", "19122018"},
                                                 {"hora_transacao", "153323"}}
                                  << QStringList{"000-000 = CNC",    "001-000 = 55959",
                                                 "009-000 = 0",      "030-000 = CANCELAMENTO APROVADO",
                                                 "043-001 = 031417", "210-052 = q7"};
    QTest::newRow("administrative") << "ADM" << QJsonObject{{"identificacao", "33083"}}
                                    << QStringList{"000-000 = ADM", "001-000 = 33083", "009-000 = 0",
                                                   "729-000 = false"};
}

void tst_Q7_Bridge_Controller::defaultRepliesFitTheResponseWriter() {
    QFETCH(QString, header);
    QFETCH(QJsonObject, parametros);
    QFETCH(QStringList, expectedLines);
    Q7_Bridge_Controller controller(nullptr, bridgeLibrary());

    const QList<QJsonObject> responses = run(controller, request(header, parametros));
    QCOMPARE(responses.size(), 1);
    const QStringList lines =
        ProtocoloSitef().buildBridgeResponse(compact(responses.at(0))).split(QStringLiteral("\r\n"));

    for (const QString &line : expectedLines)
        QVERIFY2(lines.contains(line), qPrintable(line));
    const auto valueOf = [&lines](const QString &tag) {
        for (const QString &line : lines)
            if (line.startsWith(tag + " = "))
                return line.mid(tag.size() + 3);
        return QString();
    };
    QVERIFY(QDate::fromString(valueOf("022-000"), "ddMMyyyy").isValid());
    QVERIFY(QTime::fromString(valueOf("023-000"), "HHmmss").isValid());
    for (const char *tag : {"010-000", "013-000", "027-000", "043-000"})
        QVERIFY2(!valueOf(tag).isEmpty(), tag);
    // Both copies printed, and the complete receipt made of them.
    const int store = valueOf("714-000").toInt();
    const int cardholder = valueOf("712-000").toInt();
    QVERIFY(store > 10);
    QVERIFY(cardholder > 10);
    QCOMPARE(valueOf("028-000").toInt(), store + cardholder);
    QCOMPARE(valueOf("029-001"), valueOf("715-001"));
    QCOMPARE(lines.last(), QStringLiteral("999-999 = 0"));
}

void tst_Q7_Bridge_Controller::logLines() {
    MessageCapture log("[Q7_Bridge_Controller]");
    const QString json = request("CRT", {{"identificacao", "1"}, {"valor", "500"}});
    {
        Q7_Bridge_Controller controller(nullptr, bridgeLibrary());
        run(controller, json);
    }
    { Q7_Bridge_Controller controller(nullptr, QStringLiteral("/nonexistent/libQ7_Bridge.so")); }
    QCOMPARE(MessageCapture::lines(),
             QStringList({
                 "info [Q7_Bridge_Controller] API carregada com sucesso",
                 "info [Q7_Bridge_Controller] setJsonConfigs: " + json,
                 "info [Q7_Bridge_Controller] INICIANDO OPERACAO Q7_BRIDGE",
                 "info [Q7_Bridge_Controller] Status: [0] APROVADA",
                 "info [Q7_Bridge_Controller] FIM DA OPERACAO Q7_BRIDGE",
                 "info [Q7_Bridge_Controller] Biblioteca Q7_Bridge liberada",
                 "critical [Q7_Bridge_Controller] Erro ao carregar a biblioteca do Q7_Bridge",
                 "critical [Q7_Bridge_Controller] Falha ao liberar biblioteca Q7_Bridge",
             }));
}

QTEST_MAIN(tst_Q7_Bridge_Controller)
#include "tst_Q7_Bridge_Controller.moc"
