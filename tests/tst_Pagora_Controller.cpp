// The controller driven through the replacement library, loaded by the real holder.

#include "PagoraSupport.h"
#include "app/Pause.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kLibrary = QStringLiteral(Q7_BIN_DIR "/libAPITEFOrvix.so");
// Built without "OrvixTEF_RealizarConfiguracao" and "OrvixTEF_FinalizarOperacaoTEF".
const QString kPartialLibrary = QStringLiteral(Q7_PARTIAL_LIBRARY);

struct Call {
    QString fn;
    QJsonObject args;
};

QJsonObject label(const QString &texto) {
    return QJsonObject{
        {"NomeComponenteTela", "label"}, {"ConteudoComponenteTela", texto}, {"TipoVisor", "operador"}};
}

QJsonObject screen(int sequencia, const QJsonArray &componentes, const QJsonObject &extra = QJsonObject()) {
    QJsonObject doc{{"SequenciaCaptura", sequencia}, {"TipoFluxo", 0}, {"ComponentesTela", componentes}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        doc.insert(it.key(), it.value());
    return doc;
}

QJsonObject reply(const QJsonObject &documento, const QJsonObject &extra = QJsonObject()) {
    QJsonObject r = extra;
    r.insert("documento", documento);
    return r;
}

const QJsonObject kApproved =
    screen(99,
           QJsonArray{label("TRANSACAO APROVADA"), QJsonObject{{"NomeComponenteTela", "comprovanteloja"},
                                                               {"ConteudoComponenteTela", "LOJA\n"}}},
           QJsonObject{{"Status", 0}});

const QString kVendaSemValor = request("000-000 = CRT\n001-000 = 31\n002-000 = 900\n999-999 = 0\n");
const QString kVenda1000 =
    request("000-000 = CRT\n001-000 = 31\n002-000 = 900\n003-000 = 1000\n999-999 = 0\n");
const QString kCancelamento1000 = request("000-000 = CNC\n001-000 = 31\n003-000 = 1000\n999-999 = 0\n");

} // namespace

// One request through a controller: its scenario, call log, signals and response.
class Flow {
public:
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

    QList<Call> calls() const {
        QList<Call> list;
        QFile file(dir.filePath("calls.jsonl"));
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QJsonObject call = QJsonDocument::fromJson(line).object();
                if (!call.isEmpty())
                    list << Call{call.value("fn").toString(), call.value("args").toObject()};
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
    // The calls of the step functions only.
    QList<Call> steps() const {
        QList<Call> list;
        for (const Call &call : calls())
            if (call.fn.startsWith("OrvixTEF_Realizar"))
                list << call;
        return list;
    }

    // How many times the thread stopped for the operator so far.
    int waits() const {
        return int(events->lines.count("disableTextField:0") + events->lines.count("disableListView:0"));
    }
    bool answered() const {
        return !events->lines.filter(QRegularExpression("^responseProcessTEF:")).isEmpty();
    }
    QJsonObject response() const {
        const QStringList found = events->lines.filter(QRegularExpression("^responseProcessTEF:"));
        return found.isEmpty() ? QJsonObject()
                               : QJsonDocument::fromJson(found.last().mid(19).toUtf8()).object();
    }
    QStringList lines() const { return events->lines; }

    QTemporaryDir dir;
    std::unique_ptr<PagoraProbe> controller;
    std::unique_ptr<SignalLog> events;
};

class tst_Pagora_Controller : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Pause::setScale(0.01);
        log = std::make_unique<PagoraLog>();
    }
    void init() { PagoraLog::clear(); }
    void cleanupTestCase() { log.reset(); }

    void lifetime_data();
    void lifetime();
    void confirmation_data();
    void confirmation();
    void saleMenuChoosesPayment_data();
    void saleMenuChoosesPayment();
    void cancellationAsksForTheAmountFirst();
    void loopEnd_data();
    void loopEnd();
    void cancelInBuiltInScreen_data();
    void cancelInBuiltInScreen();
    void listChoiceOutsideMenuIsRefused_data();
    void listChoiceOutsideMenuIsRefused();
    void sizeWrittenBackIsUsed();
    void largeCaptureDocumentSurvives();
    void errorPaths_data();
    void errorPaths();
    void builtInFlows_data();
    void builtInFlows();
    void destroyedWhileWaiting();

private:
    std::unique_ptr<PagoraLog> log;
};

void tst_Pagora_Controller::lifetime_data() {
    QTest::addColumn<QString>("library");
    QTest::addColumn<QJsonObject>("scenario");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("finalised and released")
        << kLibrary << QJsonObject()
        << QStringList{"info [Pagora_Controller] API carregada com sucesso",
                       "info [Pagora_Controller] FINALIZANDO Q7_PAGORA_PASSIVO...",
                       "info [Pagora_Controller] Q7_PAGORA_Passivo PRONTO PARA SER ENCERRADO COM SEGURANÇA",
                       "info [Pagora_Controller] Biblioteca TEF liberada"}
        << QStringList{"OrvixTEF_FinalizarOperacaoTEF"};
    QTest::newRow("finalisation fails")
        << kLibrary << QJsonObject{{"OrvixTEF_FinalizarOperacaoTEF", 9}}
        << QStringList{"info [Pagora_Controller] API carregada com sucesso",
                       "info [Pagora_Controller] FINALIZANDO Q7_PAGORA_PASSIVO...",
                       "critical [Pagora_Controller] FINALIZAÇÃO DA AUTOMAÇÃO COM PROBLEMAS. CÓD: 9",
                       "info [Pagora_Controller] Biblioteca TEF liberada"}
        << QStringList{"OrvixTEF_FinalizarOperacaoTEF"};
    QTest::newRow("finalise not exported")
        << kPartialLibrary << QJsonObject()
        << QStringList{"info [Pagora_Controller] API carregada com sucesso",
                       "info [Pagora_Controller] FINALIZANDO Q7_PAGORA_PASSIVO...",
                       "critical [Pagora_Controller] Função OrvixTEF_FinalizarOperacaoTEF não encontrada na "
                       "biblioteca APITEFOrvix",
                       "info [Pagora_Controller] Biblioteca TEF liberada"}
        << QStringList();
    QTest::newRow("library missing")
        << QString(Q7_BIN_DIR "/absent/libAPITEFOrvix.so") << QJsonObject()
        << QStringList{"critical [Pagora_Controller] Erro ao carregar a biblioteca da APITEFOrvix",
                       "info [Pagora_Controller] FINALIZANDO Q7_PAGORA_PASSIVO...",
                       "critical [Pagora_Controller] Função OrvixTEF_FinalizarOperacaoTEF não encontrada na "
                       "biblioteca APITEFOrvix"}
        << QStringList();
}

void tst_Pagora_Controller::lifetime() {
    QFETCH(QString, library);
    QFETCH(QJsonObject, scenario);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, calls);

    Flow flow(scenario, library);
    flow.controller.reset();
    QCOMPARE(PagoraLog::lines(), expected);
    QCOMPARE(flow.names(), calls);
    if (!calls.isEmpty())
        QCOMPARE(flow.calls().first().args, QJsonObject({{"codigo", 1}}));
}

void tst_Pagora_Controller::confirmation_data() {
    QTest::addColumn<QString>("code");
    QTest::addColumn<QJsonObject>("scenario");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QJsonObject>("result"); // besides id, header and documento_fiscal_vinculado
    QTest::addColumn<QStringList>("logged"); // after INICIANDO OPERACAO TEF

    QTest::newRow("CNF confirms, then finalises")
        << "CNF" << QJsonObject() << QStringList{"ConfirmarOperacaoTEF 1", "FinalizarOperacaoTEF 0"}
        << QJsonObject{{"resultado", 0}}
        << QStringList{"info [Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO",
                       "info [Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO: OK",
                       "info [Pagora_Controller] TRANSAÇÃO FINALIZADA COM SUCESSO!"};
    QTest::newRow("NCN undoes, then finalises")
        << "NCN" << QJsonObject() << QStringList{"ConfirmarOperacaoTEF 0", "FinalizarOperacaoTEF 0"}
        << QJsonObject{{"resultado", 0}}
        << QStringList{"info [Pagora_Controller] NÃO CONFIRMAÇÃO DA TRANSAÇÃO",
                       "info [Pagora_Controller] NÃO CONFIRMAÇÃO DA TRANSAÇÃO: OK",
                       "info [Pagora_Controller] TRANSAÇÃO FINALIZADA COM SUCESSO!"};
    QTest::newRow("failed confirmation skips finalise")
        << "CNF" << QJsonObject{{"OrvixTEF_ConfirmarOperacaoTEF", 5}} << QStringList{"ConfirmarOperacaoTEF 1"}
        << QJsonObject{{"resultado", -1}, {"texto_operador", "ERRO NA CONFIRMAÇÂO: 5"}}
        << QStringList{"info [Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO",
                       "critical [Pagora_Controller] ERRO NA CONFIRMAÇÂO: 5"};
    QTest::newRow("failed undo skips finalise")
        << "NCN" << QJsonObject{{"OrvixTEF_ConfirmarOperacaoTEF", 4}} << QStringList{"ConfirmarOperacaoTEF 0"}
        << QJsonObject{{"resultado", -1}, {"texto_operador", "ERRO NA CANCELAMENTO: 4"}}
        << QStringList{"info [Pagora_Controller] NÃO CONFIRMAÇÃO DA TRANSAÇÃO",
                       "critical [Pagora_Controller] ERRO NA CANCELAMENTO: 4"};
    QTest::newRow("finalise trouble keeps the confirmation")
        << "CNF" << QJsonObject{{"OrvixTEF_FinalizarOperacaoTEF", 3}}
        << QStringList{"ConfirmarOperacaoTEF 1", "FinalizarOperacaoTEF 0"} << QJsonObject{{"resultado", 0}}
        << QStringList{"info [Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO",
                       "info [Pagora_Controller] CONFIRMAÇÃO DA TRANSAÇÃO: OK",
                       "info [Pagora_Controller] FINALIZAÇÃO DA TRANSAÇÃO COM PROBLEMAS. CÓD: 3"};
}

void tst_Pagora_Controller::confirmation() {
    QFETCH(QString, code);
    QFETCH(QJsonObject, scenario);
    QFETCH(QStringList, calls);
    QFETCH(QJsonObject, result);
    QFETCH(QStringList, logged);

    Flow flow(scenario);
    flow.start(request("000-000 = " + code + "\n001-000 = 4321\n002-000 = 777\n999-999 = 0\n"));
    QTRY_VERIFY(flow.answered());
    QVERIFY(flow.controller->wait(5000));

    QStringList made;
    for (const Call &call : flow.calls()) {
        const QJsonValue arg = call.args.value(call.args.contains("confirmar") ? "confirmar" : "codigo");
        made << call.fn.mid(9) + ' ' + QString::number(arg.toInt());
    }
    QCOMPARE(made, calls);
    QJsonObject expected{{"id", 4321}, {"header", code}, {"documento_fiscal_vinculado", "777"}};
    for (auto it = result.begin(); it != result.end(); ++it)
        expected.insert(it.key(), it.value());
    QCOMPARE(flow.response(), expected);
    QVERIFY(!flow.lines().contains("showWindow:1"));
    // After the construction, setJsonConfigs and INICIANDO OPERACAO TEF.
    QCOMPARE(PagoraLog::lines().mid(3), logged);
}

void tst_Pagora_Controller::saleMenuChoosesPayment_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("tipo");
    QTest::newRow("Pagamento débito") << 0 << 1;
    QTest::newRow("Pagamento crédito") << 1 << 2;
}

void tst_Pagora_Controller::saleMenuChoosesPayment() {
    QFETCH(int, row);
    QFETCH(int, tipo);

    Flow flow(QJsonObject{{"OrvixTEF_RealizarPagamentoTEF", reply(kApproved)}});
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

    flow.controller->onClickButtonOK(QString::number(row), 2);
    QTRY_VERIFY(flow.answered());
    QCOMPARE(flow.steps().size(), 1);
    const Call pagamento = flow.steps().first();
    QCOMPARE(pagamento.fn, "OrvixTEF_RealizarPagamentoTEF");
    QCOMPARE(pagamento.args.value("tipo").toInt(), tipo);
    QCOMPARE(pagamento.args.value("tamanho").toInt(), 1024);
    const QJsonObject captura =
        QJsonDocument::fromJson(pagamento.args.value("captura").toString().toUtf8()).object();
    QCOMPARE(captura, QJsonObject({{"SequenciaCaptura", 0},
                                   {"TipoFluxo", 1},
                                   {"AbortarFluxoCaptura", false},
                                   {"FormatoInfoCaptura", 0},
                                   {"InfoCaptura", ""}}));
    QCOMPARE(flow.response(), QJsonObject({{"id", 31},
                                           {"header", "CRT"},
                                           {"documento_fiscal_vinculado", "900"},
                                           {"texto_operador", "TRANSACAO APROVADA"},
                                           {"comprovante_loja", "LOJA\n"},
                                           {"resultado", 0}}));
    QCOMPARE(flow.lines().last(),
             "responseProcessTEF:" +
                 QString::fromUtf8(QJsonDocument(flow.response()).toJson(QJsonDocument::Compact)));
    QCOMPARE(flow.lines().mid(flow.lines().size() - 3, 2),
             QStringList({"disableProgressBar:1", "showWindow:0"}));
    const QStringList logged = PagoraLog::lines();
    QCOMPARE(logged.mid(2, 5),
             QStringList({"info [Pagora_Controller] INICIANDO OPERACAO TEF",
                          "debug [Pagora_Controller] JSON IN: "
                          R"({"AbortarFluxoCaptura":false,"FormatoInfoCaptura":0,)"
                          R"("InfoCaptura":"","SequenciaCaptura":0,"TipoFluxo":0})",
                          "info [Pagora_Controller] Autenticação realizada com sucesso",
                          "info [Pagora_Controller] Resultado inicio operacao0",
                          "debug [Pagora_Controller] Opção selecionada: " +
                              QStringList{"Pagamento débito", "Pagamento crédito"}.at(row)}));
}

void tst_Pagora_Controller::cancellationAsksForTheAmountFirst() {
    Flow flow(QJsonObject{{"OrvixTEF_RealizarAdmTEF", reply(kApproved)}});
    QSignalSpy errors(flow.controller.get(), &Base_Controller::showMessageError);
    flow.start(request("000-000 = CNC\n001-000 = 31\n999-999 = 0\n"));
    QTRY_COMPARE(flow.waits(), 1);
    QVERIFY(flow.lines().contains("firstTextChanged:" + PagoraProbe::formatCurrency("") +
                                  "\nVALOR DA TRANSAÇÃO"));

    flow.controller->onClickButtonOK(QString(), 1);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().at(0).toString(), "Preencha um valor!");
    QTest::qWait(100); // many polls
    QVERIFY(flow.steps().isEmpty());

    flow.controller->onClickButtonOK("1500", 1);
    QTRY_VERIFY(flow.answered());
    QCOMPARE(flow.steps().size(), 1);
    const Call adm = flow.steps().first();
    QCOMPARE(adm.fn, "OrvixTEF_RealizarAdmTEF");
    QCOMPARE(adm.args.value("operacao").toInt(), 12);
    const QJsonObject captura =
        QJsonDocument::fromJson(adm.args.value("captura").toString().toUtf8()).object();
    QCOMPARE(captura.value("InfoCaptura").toString(), "1500");
    QCOMPARE(captura.value("TipoFluxo").toInt(), 1);
    // The typed amount is the band's amount from then on.
    QVERIFY(flow.lines().contains("firstTextChanged:" + PagoraProbe::formatCurrency("1500") +
                                  "\nTRANSACAO APROVADA"));
}

void tst_Pagora_Controller::loopEnd_data() {
    QTest::addColumn<QJsonArray>("replies");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("resultado");

    QTest::newRow("sequence 99") << QJsonArray{reply(screen(99, {label("FIM")}, {{"Status", 7}}))} << 1 << 7;
    QTest::newRow("abort flag") << QJsonArray{reply(screen(3, {label("FIM")},
                                                           {{"AbortarFluxoCaptura", true}, {"Status", 5}}))}
                                << 1 << 5;
    QTest::newRow("labels only go on")
        << QJsonArray{reply(screen(1, {label("AGUARDE")})), reply(screen(2, {label("PROCESSANDO")})),
                      reply(screen(99, {label("FIM")}, {{"Status", 0}}))}
        << 3 << 0;
    QTest::newRow("a document that does not parse goes back as it came")
        << QJsonArray{QJsonObject{{"texto", "{quebrado"}}, reply(screen(99, {label("FIM")}, {{"Status", 0}}))}
        << 2 << 0;
}

void tst_Pagora_Controller::loopEnd() {
    QFETCH(QJsonArray, replies);
    QFETCH(int, steps);
    QFETCH(int, resultado);

    Flow flow(QJsonObject{{"OrvixTEF_RealizarPagamentoTEF", replies}});
    flow.start(kVenda1000);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller->onClickButtonOK("0", 2);
    QTRY_VERIFY(flow.answered());
    QCOMPARE(flow.steps().size(), steps);
    QCOMPARE(flow.response().value("resultado").toInt(), resultado);
    QCOMPARE(flow.response().value("texto_operador").toString(), "FIM");
    QVERIFY(flow.lines().contains("firstTextChanged:" + PagoraProbe::formatCurrency("1000") + "\nFIM"));
    if (steps == 2)
        QCOMPARE(flow.steps().last().args.value("captura").toString(), "{quebrado");
}

void tst_Pagora_Controller::cancelInBuiltInScreen_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<bool>("voltarFirst");
    QTest::newRow("sale menu") << kVendaSemValor << false;
    QTest::newRow("administrative menu") << request("000-000 = ADM\n001-000 = 31\n999-999 = 0\n") << false;
    QTest::newRow("amount prompt") << request("000-000 = CNC\n001-000 = 31\n999-999 = 0\n") << false;
    QTest::newRow("sale menu after VOLTAR") << kVendaSemValor << true;
    QTest::newRow("amount prompt after VOLTAR")
        << request("000-000 = CNC\n001-000 = 31\n999-999 = 0\n") << true;
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
    QVERIFY(flow.steps().isEmpty());
    QCOMPARE(flow.response().value("resultado").toInt(), 65282);
    QCOMPARE(flow.response().value("texto_operador").toString(), "Operação encerrada pelo operador");
}

void tst_Pagora_Controller::listChoiceOutsideMenuIsRefused_data() {
    QTest::addColumn<QString>("choice");
    QTest::newRow("no row current") << "-1";
    QTest::newRow("past the end") << "2";
    QTest::newRow("not a number") << "x";
}

void tst_Pagora_Controller::listChoiceOutsideMenuIsRefused() {
    QFETCH(QString, choice);

    Flow flow(QJsonObject{{"OrvixTEF_RealizarPagamentoTEF", reply(kApproved)}});
    flow.start(kVenda1000);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller->onClickButtonOK(choice, 2);
    QTRY_VERIFY(flow.lines().contains("showMessageError:Selecione uma opção!"));
    QTest::qWait(100);
    QVERIFY(flow.steps().isEmpty());
    QCOMPARE(flow.controller->getJsonConfigs().value("operacao").toInt(), 0);

    flow.controller->onClickButtonOK("0", 2);
    QTRY_VERIFY(flow.answered());
    QCOMPARE(flow.steps().size(), 1);
    QCOMPARE(flow.steps().first().args.value("tipo").toInt(), 1);
}

void tst_Pagora_Controller::sizeWrittenBackIsUsed() {
    // The second reply fills its whole buffer (ten times the new size) with no zero: the
    // text must come back whole, and not a byte more, in the next call.
    const QString filler = QStringLiteral("0123456789abcdef");
    Flow flow(
        QJsonObject{{"OrvixTEF_RealizarPagamentoTEF",
                     QJsonArray{reply(screen(1, {label("AGUARDE")}), {{"tamanho", 2048}}),
                                QJsonObject{{"texto", filler}, {"semTerminador", true}}, reply(kApproved)}}});
    flow.start(kVenda1000);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller->onClickButtonOK("0", 2);
    QTRY_VERIFY(flow.answered());

    const QList<Call> steps = flow.steps();
    QCOMPARE(steps.size(), 3);
    QCOMPARE(steps.at(0).args.value("tamanho").toInt(), 1024);
    QCOMPARE(steps.at(1).args.value("tamanho").toInt(), 2048);
    QCOMPARE(steps.at(2).args.value("captura").toString(), filler.repeated(20480 / filler.size()));
    QCOMPARE(flow.response().value("resultado").toInt(), 0);
}

void tst_Pagora_Controller::largeCaptureDocumentSurvives() {
    const QJsonObject textbox{{"NomeComponenteTela", "textbox"}, {"ConteudoComponenteTela", ""}};
    Flow flow(QJsonObject{
        {"OrvixTEF_RealizarPagamentoTEF",
         QJsonArray{reply(screen(1, {label("CODIGO"), textbox}), {{"tamanho", 5}}), reply(kApproved)}}});
    flow.start(kVenda1000);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller->onClickButtonOK("1", 2);
    QTRY_COMPARE(flow.waits(), 2);
    const QString typed = QString("ÇÃ0123456789").repeated(300); // far beyond ten times 5 bytes
    flow.controller->onClickButtonOK(typed, 1);
    QTRY_VERIFY(flow.answered());

    const Call second = flow.steps().at(1);
    QCOMPARE(second.args.value("tamanho").toInt(), 5);
    const QJsonObject captura =
        QJsonDocument::fromJson(second.args.value("captura").toString().toUtf8()).object();
    QCOMPARE(captura.value("InfoCaptura").toString(), typed);
    QCOMPARE(captura.value("SequenciaCaptura").toInt(), 1);
    QCOMPARE(flow.response().value("resultado").toInt(), 0);
}

void tst_Pagora_Controller::errorPaths_data() {
    QTest::addColumn<QString>("library");
    QTest::addColumn<QJsonObject>("scenario");
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<int>("menuRow"); // chosen in the built-in menu, -1 for none
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("resultado");
    QTest::addColumn<QString>("texto");

    const QString adm = request("000-000 = ADM\n001-000 = 31\n999-999 = 0\n");
    QTest::newRow("invalid request") << kLibrary << QJsonObject()
                                     << request("000-000 = CRT\nlixo\n999-999 = 0\n") << -1 << QStringList()
                                     << -1 << "Arquivo com formato inválido";
    QTest::newRow("unknown operation code")
        << kLibrary << QJsonObject() << request("000-000 = XYZ\n001-000 = 31\n999-999 = 0\n") << -1
        << QStringList() << -1 << "Operação desconhecida";
    QTest::newRow("ATV is no error") << kLibrary << QJsonObject()
                                     << request("000-000 = ATV\n001-000 = 31\n999-999 = 0\n") << -1
                                     << QStringList() << 0 << "";
    QTest::newRow("library not loaded")
        << QString(Q7_BIN_DIR "/absent/libAPITEFOrvix.so") << QJsonObject() << kVenda1000 << -1
        << QStringList() << -1 << "Erro ao carregar a biblioteca da APITEFOrvix";
    QTest::newRow("authentication fails")
        << kLibrary << QJsonObject{{"OrvixTEF_Autenticador", 7}} << kVenda1000 << -1
        << QStringList{"OrvixTEF_Autenticador"} << -1 << "Erro ao autenticar - [Erro: 7]";
    QTest::newRow("start fails") << kLibrary << QJsonObject{{"OrvixTEF_IniciarOperacaoTEF", 3}} << kVenda1000
                                 << -1 << QStringList{"OrvixTEF_Autenticador", "OrvixTEF_IniciarOperacaoTEF"}
                                 << -1 << "Erro ao iniciar operação TEF - [Erro: 3]";
    QTest::newRow("step entry point not exported")
        << kPartialLibrary << QJsonObject() << adm << 0
        << QStringList{"OrvixTEF_Autenticador", "OrvixTEF_IniciarOperacaoTEF"} << -1
        << "Função OrvixTEF_RealizarConfiguracao não encontrada na biblioteca APITEFOrvix";
    QTest::newRow("finalise not exported")
        << kPartialLibrary << QJsonObject() << request("000-000 = CNF\n001-000 = 31\n999-999 = 0\n") << -1
        << QStringList{"OrvixTEF_ConfirmarOperacaoTEF"} << -1
        << "Função OrvixTEF_FinalizarOperacaoTEF não encontrada na biblioteca APITEFOrvix";
}

void tst_Pagora_Controller::errorPaths() {
    QFETCH(QString, library);
    QFETCH(QJsonObject, scenario);
    QFETCH(QString, requisicao);
    QFETCH(int, menuRow);
    QFETCH(QStringList, calls);
    QFETCH(int, resultado);
    QFETCH(QString, texto);

    Flow flow(scenario, library);
    flow.start(requisicao);
    if (menuRow >= 0) {
        QTRY_COMPARE(flow.waits(), 1);
        flow.controller->onClickButtonOK(QString::number(menuRow), 2);
    }
    QTRY_VERIFY(flow.answered());
    QVERIFY(flow.controller->wait(5000));

    QCOMPARE(flow.names(), calls);
    QCOMPARE(flow.response().value("resultado").toInt(), resultado);
    QCOMPARE(flow.response().value("texto_operador").toString(), texto);
    // The window never stays up.
    QCOMPARE(flow.lines().filter("showWindow:").last(), "showWindow:0");
    if (flow.lines().contains("showWindow:1"))
        QVERIFY(flow.lines().contains("textChanged:" + texto));
}

void tst_Pagora_Controller::builtInFlows_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<QStringList>("actions"); // one per stop for the operator
    QTest::addColumn<QString>("step");        // every step call: entry point and its number
    QTest::addColumn<int>("resultado");
    QTest::addColumn<QString>("texto");
    QTest::addColumn<QString>("dado"); // found in dados_transacao

    const QString adm = request("000-000 = ADM\n001-000 = 31\n999-999 = 0\n");
    QTest::newRow("credit sale in three instalments")
        << kVenda1000 << QStringList{"list:1", "list:2", "text:0119"} << "OrvixTEF_RealizarPagamentoTEF 2"
        << 0 << "TRANSACAO APROVADA"
        << "NroParcelas:3";
    QTest::newRow("debit sale asks for no instalments")
        << kVenda1000 << QStringList{"list:0", "text:0119"} << "OrvixTEF_RealizarPagamentoTEF 1" << 0
        << "TRANSACAO APROVADA"
        << "ValorTrans:1000";
    QTest::newRow("sale without amount asks for it")
        << kVendaSemValor << QStringList{"list:0", "text:2500", "text:0119"}
        << "OrvixTEF_RealizarPagamentoTEF 1" << 0 << "TRANSACAO APROVADA"
        << "ValorTrans:2500";
    QTest::newRow("operator cancels inside the library")
        << kVenda1000 << QStringList{"list:1", "cancel"} << "OrvixTEF_RealizarPagamentoTEF 2" << 65282
        << "OPERACAO CANCELADA"
        << "";
    QTest::newRow("cancellation going back twice")
        << kCancelamento1000 << QStringList{"back", "text:123456", "back", "text:654321", "prefilled"}
        << "OrvixTEF_RealizarAdmTEF 12" << 0 << "CANCELAMENTO APROVADO"
        << "ValorTrans:1000";
    QTest::newRow("reprint of the last receipt")
        << adm << QStringList{"list:1", "list:0"} << "OrvixTEF_RealizarAdmTEF 128" << 0
        << "REIMPRESSAO CONCLUIDA"
        << "CodAutorizacao:005548";
    QTest::newRow("configuration") << adm << QStringList{"list:0", "prefilled", "prefilled"}
                                   << "OrvixTEF_RealizarConfiguracao 4" << 0 << "CONFIGURACAO CONCLUIDA"
                                   << "";
}

void tst_Pagora_Controller::builtInFlows() {
    QFETCH(QString, requisicao);
    QFETCH(QStringList, actions);
    QFETCH(QString, step);
    QFETCH(int, resultado);
    QFETCH(QString, texto);
    QFETCH(QString, dado);

    Flow flow(QJsonObject{});
    flow.start(requisicao);
    for (int i = 0; i < actions.size(); ++i) {
        QTRY_COMPARE(flow.waits(), i + 1);
        const QString action = actions.at(i);
        if (action == "back")
            flow.controller->onClickButtonVoltar();
        else if (action == "cancel")
            flow.controller->onClickButtonCancelar();
        else if (action == "prefilled") {
            QTRY_COMPARE(flow.lines().filter("textfiledChanged:").size(),
                         flow.lines().count("disableTextField:0"));
            flow.controller->onClickButtonOK(flow.lines().filter("textfiledChanged:").last().mid(17), 1);
        } else if (action.startsWith("list:"))
            flow.controller->onClickButtonOK(action.mid(5), 2);
        else
            flow.controller->onClickButtonOK(action.mid(5), 1);
    }
    QTRY_VERIFY(flow.answered());
    QCOMPARE(flow.waits(), actions.size());

    QVERIFY(!flow.steps().isEmpty());
    for (const Call &call : flow.steps()) {
        const int number = call.args.value(call.args.contains("tipo") ? "tipo" : "operacao").toInt(4);
        QCOMPARE(call.fn + ' ' + QString::number(number), step);
    }
    const QJsonObject response = flow.response();
    QCOMPARE(response.value("resultado").toInt(), resultado);
    QCOMPARE(response.value("texto_operador").toString(), texto);
    if (!dado.isEmpty()) {
        QVERIFY(response.value("dados_transacao").toString().split(',').contains(dado));
        QVERIFY(response.value("comprovante_loja").toString().contains("VIA: ESTABELECIMENTO"));
        QVERIFY(response.value("comprovante_cliente").toString().contains("VIA: CLIENTE"));
        const QString file = ProtocoloSitef().buildSitefResponse(flow.lines().last().mid(19));
        QVERIFY(file.contains("\r\n009-000 = 0\r\n"));
        QVERIFY(file.contains("\r\n030-000 = " + texto + "\r\n"));
    }
    if (step.endsWith(" 4"))
        QVERIFY(flow.lines().contains("firstTextChanged:CONFIGURAÇÃO"));
}

void tst_Pagora_Controller::destroyedWhileWaiting() {
    Flow flow(QJsonObject{});
    flow.start(kVendaSemValor);
    QTRY_COMPARE(flow.waits(), 1);
    flow.controller.reset(); // must not hang on the waiting thread
    QTRY_VERIFY(flow.answered());
    QCOMPARE(flow.response().value("resultado").toInt(), -1);
    QCOMPARE(flow.names().last(), "OrvixTEF_FinalizarOperacaoTEF");
}

QTEST_MAIN(tst_Pagora_Controller)
#include "tst_Pagora_Controller.moc"
