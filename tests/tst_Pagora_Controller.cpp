// The controller driven through the replacement library, loaded by the real holder.

#include "MessageCapture.h"
#include "PagoraSupport.h"
#include "base/Pause.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kLibrary = Q7_BIN_DIR "/libAPITEFOrvix.so";
const QString kAbsentLibrary = Q7_BIN_DIR "/absent/libAPITEFOrvix.so";
// Built without "OrvixTEF_RealizarConfiguracao" and "OrvixTEF_FinalizarOperacaoTEF".
const QString kPartialLibrary = Q7_PARTIAL_LIBRARY;

QJsonObject label(const QString &texto) {
    return QJsonObject{
        {"NomeComponenteTela", "label"}, {"ConteudoComponenteTela", texto}, {"TipoVisor", "operador"}};
}

// A library reply: the document, and extra reply members such as "tamanho".
QJsonObject reply(int sequencia, const QJsonArray &tela, const QJsonObject &doc = {},
                  const QJsonObject &extra = {}) {
    QJsonObject documento = doc;
    documento.insert("SequenciaCaptura", sequencia);
    documento.insert("ComponentesTela", tela);
    QJsonObject r = extra;
    r.insert("documento", documento);
    return r;
}

const QJsonObject kApproved = reply(99, {label("TRANSACAO APROVADA")}, {{"Status", 0}});

const QString kVendaSemValor = request("000-000 = CRT\n001-000 = 31\n002-000 = 900\n999-999 = 0\n");
const QString kVenda1000 = request("000-000 = CRT\n001-000 = 31\n003-000 = 1000\n999-999 = 0\n");
const QString kCancelamentoSemValor = request("000-000 = CNC\n001-000 = 31\n999-999 = 0\n");
const QString kAdm = request("000-000 = ADM\n001-000 = 31\n999-999 = 0\n");

} // namespace

// One request through a fresh controller: scenario, call log, signals, response.
struct Flow {
    struct Call {
        QString fn;
        QJsonObject args;
    };

    explicit Flow(const QJsonObject &scenario, const QString &library = kLibrary) {
        QFile file(dir.filePath("scenario.json"));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(scenario).toJson());
        qputenv("Q7_SIM_SCENARIO", QFile::encodeName(file.fileName()));
        qputenv("Q7_SIM_CALLS", QFile::encodeName(dir.filePath("calls.jsonl")));
        controller = std::make_unique<PagoraProbe>(nullptr, library);
        events = std::make_unique<SignalLog>(controller.get(), Qt::QueuedConnection);
    }
    void start(const QString &requestJson) {
        controller->setJsonConfigs(requestJson);
        controller->start();
    }
    // Step entry points only when `steps`.
    QList<Call> calls(bool steps = false) const {
        QList<Call> list;
        QFile file(dir.filePath("calls.jsonl"));
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QJsonObject call = QJsonDocument::fromJson(line).object();
                const QString fn = call.value("fn").toString();
                if (!call.isEmpty() && (!steps || fn.startsWith("OrvixTEF_Realizar")))
                    list << Call{fn, call.value("args").toObject()};
            }
        }
        return list;
    }
    QStringList names() const {
        QStringList list;
        for (const Call &call : calls())
            list << call.fn;
        return list;
    }
    static QJsonObject captura(const Call &call) {
        return QJsonDocument::fromJson(call.args.value("captura").toString().toUtf8()).object();
    }
    // How many times the thread stopped for the operator so far.
    int waits() const { return lines().count("disableTextField:0") + lines().count("disableListView:0"); }
    bool answered() const { return lines().last().startsWith("responseProcessTEF:"); }
    QJsonObject response() const { return QJsonDocument::fromJson(lines().last().mid(19).toUtf8()).object(); }
    QStringList lines() const { return events->lines.isEmpty() ? QStringList{""} : events->lines; }

    QTemporaryDir dir;
    std::unique_ptr<PagoraProbe> controller;
    std::unique_ptr<SignalLog> events;
};

class tst_Pagora_Controller : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Pause::setScale(0.01);
        capture = std::make_unique<MessageCapture>("[Pagora_Controller]");
    }
    void init() { MessageCapture::clear(); }
    void cleanupTestCase() { capture.reset(); }

    void confirmation_data();
    void confirmation();
    void saleMenuChoosesPayment();
    void cancellationAsksForTheAmountFirst();
    void loopEnd_data();
    void loopEnd();
    void unreadableDocumentsEndTheFlow_data();
    void unreadableDocumentsEndTheFlow();
    void cancelInBuiltInScreen_data();
    void cancelInBuiltInScreen();
    void sizeWrittenBackIsUsed();
    void largeCaptureDocumentSurvives();
    void errorPaths_data();
    void errorPaths();
    void builtInFlows_data();
    void builtInFlows();
    void destruction();

private:
    std::unique_ptr<MessageCapture> capture;
};

void tst_Pagora_Controller::confirmation_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QJsonObject>("scenario");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QJsonObject>("result"); // besides id, header and documento_fiscal_vinculado
    QTest::addColumn<QStringList>("log");    // after INICIANDO OPERACAO TEF

    const QString cnf = "info [Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO";
    const QString ncn = "info [Pagora_Controller] NÃO CONFIRMAÇÃO DA TRANSAÇÃO";
    const QString done = "info [Pagora_Controller] TRANSAÇÃO FINALIZADA COM SUCESSO!";
    QTest::newRow("CNF confirms, then finalises")
        << "CNF" << QJsonObject() << QStringList{"ConfirmarOperacaoTEF 1", "FinalizarOperacaoTEF 0"}
        << QJsonObject{{"resultado", 0}} << QStringList{cnf, cnf + ": OK", done};
    QTest::newRow("NCN undoes, then finalises")
        << "NCN" << QJsonObject() << QStringList{"ConfirmarOperacaoTEF 0", "FinalizarOperacaoTEF 0"}
        << QJsonObject{{"resultado", 0}} << QStringList{ncn, ncn + ": OK", done};
    QTest::newRow("failed confirmation skips finalise")
        << "CNF" << QJsonObject{{"OrvixTEF_ConfirmarOperacaoTEF", 5}} << QStringList{"ConfirmarOperacaoTEF 1"}
        << QJsonObject{{"resultado", -1}, {"texto_operador", "ERRO NA CONFIRMAÇÂO: 5"}}
        << QStringList{cnf, "critical [Pagora_Controller] ERRO NA CONFIRMAÇÂO: 5"};
    QTest::newRow("failed undo skips finalise")
        << "NCN" << QJsonObject{{"OrvixTEF_ConfirmarOperacaoTEF", 4}} << QStringList{"ConfirmarOperacaoTEF 0"}
        << QJsonObject{{"resultado", -1}, {"texto_operador", "ERRO NA CANCELAMENTO: 4"}}
        << QStringList{ncn, "critical [Pagora_Controller] ERRO NA CANCELAMENTO: 4"};
    QTest::newRow("finalise trouble keeps the confirmation")
        << "CNF" << QJsonObject{{"OrvixTEF_FinalizarOperacaoTEF", 3}}
        << QStringList{"ConfirmarOperacaoTEF 1", "FinalizarOperacaoTEF 0"} << QJsonObject{{"resultado", 0}}
        << QStringList{cnf, cnf + ": OK",
                       "info [Pagora_Controller] FINALIZAÇÃO DA TRANSAÇÃO COM PROBLEMAS. CÓD: 3"};
}

void tst_Pagora_Controller::confirmation() {
    QFETCH(QString, code);
    QFETCH(QJsonObject, scenario);
    QFETCH(QStringList, calls);
    QFETCH(QJsonObject, result);
    QFETCH(QStringList, log);

    // Nothing is shown, so nothing may hold the answer back: the pauses at their real length.
    Pause::setScale(1.0);
    const auto restore = qScopeGuard([] { Pause::setScale(0.01); });
    Flow flow(scenario);
    flow.start(request("000-000 = " + code + "\n001-000 = 4321\n002-000 = 777\n999-999 = 0\n"));
    QTRY_VERIFY_WITH_TIMEOUT(flow.answered(), 1000);
    QVERIFY(flow.controller->wait(5000));

    QStringList made;
    for (const Flow::Call &call : flow.calls())
        made << call.fn.mid(9) + ' ' + QString::number(call.args.value(call.args.keys().first()).toInt());
    QCOMPARE(made, calls);
    QJsonObject expected{{"id", 4321}, {"header", code}, {"documento_fiscal_vinculado", "777"}};
    for (auto it = result.begin(); it != result.end(); ++it)
        expected.insert(it.key(), it.value());
    QCOMPARE(flow.response(), expected);
    QVERIFY(!flow.lines().contains("showWindow:1"));
    QCOMPARE(MessageCapture::lines().mid(3), log); // after construction, setJsonConfigs and the start line
}

void tst_Pagora_Controller::saleMenuChoosesPayment() {
    Flow flow(QJsonObject{{"OrvixTEF_RealizarPagamentoTEF", kApproved}});
    flow.start(kVendaSemValor);
    QTRY_COMPARE(flow.waits(), 1);
    const QStringList menu{"firstTextChanged:" + PagoraProbe::formatCurrency("0") + "\nLISTA DE OPERAÇÕES",
                           "disableProgressBar:1",
                           "clearItemsList",
                           "addItemList:Pagamento débito",
                           "addItemList:Pagamento crédito",
                           "disableListView:0",
                           "textChanged:Selecione",
                           "disableButtonOK:0",
                           "disableButtonCancelar:0"};
    QTRY_COMPARE(flow.lines().mid(flow.lines().size() - menu.size()), menu);
    QCOMPARE(flow.names(), QStringList({"OrvixTEF_Autenticador", "OrvixTEF_IniciarOperacaoTEF"}));

    flow.controller->onClickButtonOK("1", 2);
    QTRY_VERIFY(flow.answered());
    const QList<Flow::Call> steps = flow.calls(true);
    QCOMPARE(steps.size(), 1);
    QCOMPARE(steps.first().fn, "OrvixTEF_RealizarPagamentoTEF");
    QCOMPARE(steps.first().args.value("tipo").toInt(), 2);
    QCOMPARE(steps.first().args.value("tamanho").toInt(), 1024);
    QCOMPARE(Flow::captura(steps.first()), QJsonObject({{"SequenciaCaptura", 0},
                                                        {"TipoFluxo", 1},
                                                        {"AbortarFluxoCaptura", false},
                                                        {"FormatoInfoCaptura", 0},
                                                        {"InfoCaptura", ""}}));
    QCOMPARE(flow.response(), QJsonObject({{"id", 31},
                                           {"header", "CRT"},
                                           {"documento_fiscal_vinculado", "900"},
                                           {"texto_operador", "TRANSACAO APROVADA"},
                                           {"resultado", 0},
                                           {"operacao", 2}}));
    QCOMPARE(flow.lines().mid(flow.lines().size() - 3, 2),
             QStringList({"disableProgressBar:1", "showWindow:0"}));
    QCOMPARE(MessageCapture::lines().mid(2, 5),
             QStringList({"info [Pagora_Controller] INICIANDO OPERACAO TEF",
                          "debug [Pagora_Controller] JSON IN: "
                          R"({"AbortarFluxoCaptura":false,"FormatoInfoCaptura":0,)"
                          R"("InfoCaptura":"","SequenciaCaptura":0,"TipoFluxo":0})",
                          "info [Pagora_Controller] Autenticação realizada com sucesso",
                          "info [Pagora_Controller] Resultado inicio operacao0",
                          "debug [Pagora_Controller] Opção selecionada: Pagamento crédito"}));
}

void tst_Pagora_Controller::cancellationAsksForTheAmountFirst() {
    Flow flow(QJsonObject{{"OrvixTEF_RealizarAdmTEF", kApproved}});
    flow.start(kCancelamentoSemValor);
    QTRY_COMPARE(flow.waits(), 1);
    QVERIFY(flow.lines().contains("firstTextChanged:" + PagoraProbe::formatCurrency("") +
                                  "\nVALOR DA TRANSAÇÃO"));

    QSignalSpy errors(flow.controller.get(), &Base_Controller::showMessageError);
    flow.controller->onClickButtonOK("", 1);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).toString(), "Preencha um valor!");
    QTest::qWait(100); // many polls
    QVERIFY(flow.calls(true).isEmpty());

    flow.controller->onClickButtonOK("1500", 1);
    QTRY_VERIFY(flow.answered());
    const QList<Flow::Call> steps = flow.calls(true);
    QCOMPARE(steps.size(), 1);
    QCOMPARE(steps.first().fn, "OrvixTEF_RealizarAdmTEF");
    QCOMPARE(steps.first().args.value("operacao").toInt(), 12);
    QCOMPARE(Flow::captura(steps.first()).value("InfoCaptura").toString(), "1500");
    // From then on the typed amount is the band's.
    QVERIFY(flow.lines().contains("firstTextChanged:" + PagoraProbe::formatCurrency("1500") +
                                  "\nTRANSACAO APROVADA"));
}

void tst_Pagora_Controller::loopEnd_data() {
    QTest::addColumn<QJsonArray>("replies");
    QTest::addColumn<QString>("step");   // the step entry point of the menu option
    QTest::addColumn<QString>("option"); // the row chosen in the built-in menu
    QTest::addColumn<int>("resultado");

    const QString payment = "OrvixTEF_RealizarPagamentoTEF";
    QTest::newRow("sequence 99") << QJsonArray{reply(99, {label("FIM")}, {{"Status", 7}})} << payment << "0"
                                 << 7;
    QTest::newRow("abort flag") << QJsonArray{reply(3, {label("FIM")},
                                                    {{"AbortarFluxoCaptura", true}, {"Status", 5}})}
                                << payment << "0" << 5;
    // Approval is 0 to the sales application: an aborted flow, or a payment that ends without
    // its status, is never one; a reprint or configuration that ends without one is done.
    QTest::newRow("abort flag without status")
        << QJsonArray{reply(3, {label("FIM")}, {{"AbortarFluxoCaptura", true}})} << payment << "0" << -1;
    QTest::newRow("abort flag with status 0")
        << QJsonArray{reply(3, {label("FIM")}, {{"AbortarFluxoCaptura", true}, {"Status", 0}})} << payment
        << "0" << -1;
    QTest::newRow("payment: sequence 99 without status")
        << QJsonArray{reply(99, {label("FIM")})} << payment << "0" << -1;
    QTest::newRow("reprint: sequence 99 without status")
        << QJsonArray{reply(99, {label("FIM")})} << "OrvixTEF_RealizarAdmTEF"
        << "1" << 0;
    QTest::newRow("configuration: sequence 99 without status")
        << QJsonArray{reply(99, {label("FIM")})} << "OrvixTEF_RealizarConfiguracao"
        << "0" << 0;
    QTest::newRow("labels only go on, a broken document goes back as it came")
        << QJsonArray{reply(1, {label("AGUARDE")}), QJsonObject{{"texto", "{quebrado"}},
                      reply(99, {label("FIM")}, {{"Status", 0}})}
        << payment << "0" << 0;
}

void tst_Pagora_Controller::loopEnd() {
    QFETCH(QJsonArray, replies);
    QFETCH(QString, step);
    QFETCH(QString, option);
    QFETCH(int, resultado);

    const bool paying = step.endsWith("PagamentoTEF");
    Flow flow(QJsonObject{{step, replies}});
    flow.start(paying ? kVenda1000 : kAdm);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller->onClickButtonOK(option, 2);
    QTRY_VERIFY(flow.answered());

    const QList<Flow::Call> steps = flow.calls(true);
    QCOMPARE(steps.size(), replies.size());
    QCOMPARE(steps.first().fn, step);
    if (steps.size() == 3)
        QCOMPARE(steps.last().args.value("captura").toString(), "{quebrado");
    QCOMPARE(flow.response().value("resultado").toInt(), resultado);
    QCOMPARE(flow.response().value("texto_operador").toString(), "FIM");
    if (paying)
        QVERIFY(flow.lines().contains("firstTextChanged:" + PagoraProbe::formatCurrency("1000") + "\nFIM"));
}

void tst_Pagora_Controller::unreadableDocumentsEndTheFlow_data() {
    QTest::addColumn<QJsonObject>("unreadable");
    QTest::newRow("malformed JSON") << QJsonObject{{"texto", "{quebrado"}};
    QTest::newRow("empty text") << QJsonObject{{"texto", ""}};
    QTest::newRow("no terminating zero") << QJsonObject{{"texto", "{\"a\":1}"}, {"semTerminador", true}};
}

void tst_Pagora_Controller::unreadableDocumentsEndTheFlow() {
    QFETCH(QJsonObject, unreadable);
    // The last reply repeats: without a bound the flow would never end.
    Flow flow(
        QJsonObject{{"OrvixTEF_RealizarPagamentoTEF", QJsonArray{reply(1, {label("AGUARDE")}), unreadable}}});
    flow.start(kVenda1000);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller->onClickButtonOK("0", 2);
    QTRY_VERIFY(flow.answered());

    QCOMPARE(flow.calls(true).size(), 1 + Pagora_Controller::kMaxUnreadableDocuments);
    QCOMPARE(flow.response().value("resultado").toInt(), -1);
    QCOMPARE(flow.response().value("texto_operador").toString(),
             "Resposta inválida da biblioteca APITEFOrvix");
}

void tst_Pagora_Controller::cancelInBuiltInScreen_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<bool>("voltarFirst");
    QTest::newRow("sale menu") << kVendaSemValor << false;
    QTest::newRow("administrative menu after VOLTAR") << kAdm << true;
    QTest::newRow("amount prompt after VOLTAR") << kCancelamentoSemValor << true;
}

void tst_Pagora_Controller::cancelInBuiltInScreen() {
    QFETCH(QString, requisicao);
    QFETCH(bool, voltarFirst);

    Flow flow(QJsonObject{});
    flow.start(requisicao);
    QTRY_COMPARE(flow.waits(), 1);
    if (voltarFirst) {
        flow.controller->onClickButtonVoltar();
        QTRY_COMPARE(flow.waits(), 2); // the same screen again
    }
    flow.controller->onClickButtonCancelar();
    QTRY_VERIFY(flow.answered());
    QVERIFY(flow.calls(true).isEmpty());
    QCOMPARE(flow.response().value("resultado").toInt(), 65282);
    QCOMPARE(flow.response().value("texto_operador").toString(), "Operação encerrada pelo operador");
}

void tst_Pagora_Controller::sizeWrittenBackIsUsed() {
    // The second reply fills its whole buffer, ten times the new size, leaving no zero: the
    // next call must get that text back whole and not a byte more.
    const QString filler = "0123456789abcdef";
    Flow flow(QJsonObject{{"OrvixTEF_RealizarPagamentoTEF",
                           QJsonArray{reply(1, {label("AGUARDE")}, {}, {{"tamanho", 2048}}),
                                      QJsonObject{{"texto", filler}, {"semTerminador", true}}, kApproved}}});
    flow.start(kVenda1000);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller->onClickButtonOK("0", 2);
    QTRY_VERIFY(flow.answered());

    const QList<Flow::Call> steps = flow.calls(true);
    QCOMPARE(steps.size(), 3);
    QCOMPARE(steps.at(0).args.value("tamanho").toInt(), 1024);
    QCOMPARE(steps.at(1).args.value("tamanho").toInt(), 2048);
    QCOMPARE(steps.at(2).args.value("captura").toString(), filler.repeated(20480 / filler.size()));
}

void tst_Pagora_Controller::largeCaptureDocumentSurvives() {
    const QJsonObject textbox{{"NomeComponenteTela", "textbox"}, {"ConteudoComponenteTela", ""}};
    Flow flow(
        QJsonObject{{"OrvixTEF_RealizarPagamentoTEF",
                     QJsonArray{reply(1, {label("CODIGO"), textbox}, {}, {{"tamanho", 5}}), kApproved}}});
    flow.start(kVenda1000);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller->onClickButtonOK("1", 2);
    QTRY_COMPARE(flow.waits(), 2);
    const QString typed = QString("ÇÃ0123456789").repeated(300); // far beyond ten times 5 bytes
    flow.controller->onClickButtonOK(typed, 1);
    QTRY_VERIFY(flow.answered());

    const Flow::Call second = flow.calls(true).at(1);
    QCOMPARE(second.args.value("tamanho").toInt(), 5);
    QCOMPARE(Flow::captura(second).value("InfoCaptura").toString(), typed);
    QCOMPARE(flow.response().value("resultado").toInt(), 0);
}

void tst_Pagora_Controller::errorPaths_data() {
    QTest::addColumn<QString>("library");
    QTest::addColumn<QJsonObject>("scenario");
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("resultado");
    QTest::addColumn<QString>("texto");

    const QStringList started{"OrvixTEF_Autenticador", "OrvixTEF_IniciarOperacaoTEF"};
    QTest::newRow("invalid request") << kLibrary << QJsonObject()
                                     << request("000-000 = CRT\nlixo\n999-999 = 0\n") << QStringList() << -1
                                     << "Arquivo com formato inválido";
    QTest::newRow("unknown operation code")
        << kLibrary << QJsonObject() << request("000-000 = XYZ\n001-000 = 31\n999-999 = 0\n") << QStringList()
        << -1 << "Operação desconhecida";
    QTest::newRow("ATV is no error") << kLibrary << QJsonObject()
                                     << request("000-000 = ATV\n001-000 = 31\n999-999 = 0\n") << QStringList()
                                     << 0 << "";
    QTest::newRow("library not loaded") << kAbsentLibrary << QJsonObject() << kVenda1000 << QStringList()
                                        << -1 << "Erro ao carregar a biblioteca da APITEFOrvix";
    QTest::newRow("authentication fails")
        << kLibrary << QJsonObject{{"OrvixTEF_Autenticador", 7}} << kVenda1000
        << QStringList{"OrvixTEF_Autenticador"} << -1 << "Erro ao autenticar - [Erro: 7]";
    QTest::newRow("start fails") << kLibrary << QJsonObject{{"OrvixTEF_IniciarOperacaoTEF", 3}} << kVenda1000
                                 << started << -1 << "Erro ao iniciar operação TEF - [Erro: 3]";
    QTest::newRow("step entry point not exported (menu: Configuração TEF)")
        << kPartialLibrary << QJsonObject() << kAdm << started << -1
        << "Função OrvixTEF_RealizarConfiguracao não encontrada na biblioteca APITEFOrvix";
    QTest::newRow("finalise not exported")
        << kPartialLibrary << QJsonObject() << request("000-000 = CNF\n001-000 = 31\n999-999 = 0\n")
        << QStringList{"OrvixTEF_ConfirmarOperacaoTEF"} << -1
        << "Função OrvixTEF_FinalizarOperacaoTEF não encontrada na biblioteca APITEFOrvix";
}

void tst_Pagora_Controller::errorPaths() {
    QFETCH(QString, library);
    QFETCH(QJsonObject, scenario);
    QFETCH(QString, requisicao);
    QFETCH(QStringList, calls);
    QFETCH(int, resultado);
    QFETCH(QString, texto);

    Flow flow(scenario, library);
    flow.start(requisicao);
    if (requisicao == kAdm) {
        QTRY_COMPARE(flow.waits(), 1);
        flow.controller->onClickButtonOK("0", 2);
    }
    QTRY_VERIFY(flow.answered());
    QVERIFY(flow.controller->wait(5000));

    QCOMPARE(flow.names(), calls);
    QCOMPARE(flow.response().value("resultado").toInt(), resultado);
    QCOMPARE(flow.response().value("texto_operador").toString(), texto);
    QCOMPARE(flow.lines().filter("showWindow:").last(), "showWindow:0"); // the window never stays up
    const int shown = flow.lines().indexOf("showWindow:1");
    if (shown >= 0) {
        // Nothing of an earlier operation is left on the window, the amount is there at once.
        const QString valor = QJsonDocument::fromJson(requisicao.toUtf8())["parametros"]["valor"].toString();
        QCOMPARE(flow.lines().mid(0, shown),
                 freshScreen(valor.isEmpty() ? QString() : PagoraProbe::formatCurrency(valor)));
        QVERIFY(flow.lines().contains("textChanged:" + texto));
    }
}

void tst_Pagora_Controller::builtInFlows_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<QStringList>("actions"); // one per stop for the operator
    QTest::addColumn<QString>("step");        // every step call: entry point and its number
    QTest::addColumn<QString>("texto");
    QTest::addColumn<QString>("dado"); // an item of dados_transacao

    QTest::newRow("credit sale: the library's list does not change the operation")
        << kVenda1000 << QStringList{"list:1", "list:2", "text:0119"} << "OrvixTEF_RealizarPagamentoTEF 2"
        << "TRANSACAO APROVADA"
        << "NroParcelas:3";
    QTest::newRow("cancellation going back twice")
        << request("000-000 = CNC\n001-000 = 31\n003-000 = 1000\n999-999 = 0\n")
        << QStringList{"back", "text:123456", "back", "text:654321", "prefilled"}
        << "OrvixTEF_RealizarAdmTEF 12"
        << "CANCELAMENTO APROVADO"
        << "ValorTrans:1000";
    QTest::newRow("configuration") << kAdm << QStringList{"list:0", "prefilled", "prefilled"}
                                   << "OrvixTEF_RealizarConfiguracao 4"
                                   << "CONFIGURACAO CONCLUIDA"
                                   << "";
}

void tst_Pagora_Controller::builtInFlows() {
    QFETCH(QString, requisicao);
    QFETCH(QStringList, actions);
    QFETCH(QString, step);
    QFETCH(QString, texto);
    QFETCH(QString, dado);

    Flow flow(QJsonObject{});
    flow.start(requisicao);
    for (int i = 0; i < actions.size(); ++i) {
        QTRY_COMPARE(flow.waits(), i + 1);
        const QString action = actions.at(i);
        if (action == "back") {
            flow.controller->onClickButtonVoltar();
        } else if (action == "prefilled") {
            QTRY_COMPARE(flow.lines().filter("textfiledChanged:").size(),
                         flow.lines().count("disableTextField:0"));
            flow.controller->onClickButtonOK(flow.lines().filter("textfiledChanged:").last().mid(17), 1);
        } else {
            flow.controller->onClickButtonOK(action.mid(5), action.startsWith("list:") ? 2 : 1);
        }
    }
    QTRY_VERIFY(flow.answered());
    QCOMPARE(flow.waits(), actions.size());

    for (const Flow::Call &call : flow.calls(true)) {
        const int number = call.args.value(call.args.contains("tipo") ? "tipo" : "operacao").toInt(4);
        QCOMPARE(call.fn + ' ' + QString::number(number), step);
    }
    const QJsonObject response = flow.response();
    QCOMPARE(response.value("resultado").toInt(), 0);
    QCOMPARE(response.value("texto_operador").toString(), texto);
    if (!dado.isEmpty()) {
        QVERIFY(response.value("dados_transacao").toString().split(',').contains(dado));
        QVERIFY(response.value("comprovante_loja").toString().contains("VIA: ESTABELECIMENTO"));
        QVERIFY(response.value("comprovante_cliente").toString().contains("VIA: CLIENTE"));
    }
    if (step.endsWith(" 4"))
        QVERIFY(flow.lines().contains("firstTextChanged:CONFIGURAÇÃO"));
}

void tst_Pagora_Controller::destruction() {
    Flow flow(QJsonObject{});
    flow.start(kVendaSemValor);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller.reset(); // must not hang on the thread waiting for the operator
    QTRY_VERIFY(flow.answered());
    QCOMPARE(flow.response().value("resultado").toInt(), 65282); // cancelled as by "CANCELAR"

    QCOMPARE(flow.calls().last().fn, "OrvixTEF_FinalizarOperacaoTEF");
    QCOMPARE(flow.calls().last().args, QJsonObject({{"codigo", 1}}));
    QCOMPARE(
        MessageCapture::lines().mid(MessageCapture::lines().size() - 3),
        QStringList({"info [Pagora_Controller] FINALIZANDO Q7_PAGORA_PASSIVO...",
                     "info [Pagora_Controller] Q7_PAGORA_Passivo PRONTO PARA SER ENCERRADO COM SEGURANÇA",
                     "info [Pagora_Controller] Biblioteca TEF liberada"}));
}

QTEST_MAIN(tst_Pagora_Controller)
#include "tst_Pagora_Controller.moc"
