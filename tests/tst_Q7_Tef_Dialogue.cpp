#include "TefHarness.h"

#include "base/Pause.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QtTest>
#include <atomic>

namespace {

QJsonObject step(const QJsonObject &tef) {
    return QJsonObject{{"codigo", 0}, {"mensagem", ""}, {"tef", tef}};
}

const QJsonObject kFinal = step({{"resultadoTransacao", "0"}, {"sequencial", "321"}});
const QJsonObject kSale{{"identificacao", "5"}, {"valor", "1000"}, {"tipo_cartao", "1"}};
const QJsonObject kListPrompt{{"automacao_coleta_opcao", "A;B;C"},
                              {"automacao_coleta_retorno", "0"},
                              {"automacao_coleta_sequencial", "17"}};
const QJsonObject kTextPrompt{
    {"automacao_coleta_tipo", "N"}, {"automacao_coleta_retorno", "0"}, {"automacao_coleta_sequencial", 17}};

QJsonObject responseOf(const WindowLog &window) {
    const QStringList responses = window.of("responseProcessTEF");
    return responses.isEmpty() ? QJsonObject() : parseJson(responses.last());
}

QJsonObject argsOf(const QJsonObject &call) {
    return call.value("args").toObject();
}

} // namespace

class tst_Q7_Tef_Dialogue : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Pause::setScale(0.01); }
    void saleWindowSequence();
    void titles_data();
    void titles();
    void answers_data();
    void answers();
    void rejectedAnswerKeepsWaiting_data();
    void rejectedAnswerKeepsWaiting();
    void dialogueEnds_data();
    void dialogueEnds();
    void pressBeforeWaitIsNotLost();
    void deletedWhileRunning_data();
    void deletedWhileRunning();
    void unknownOperationEndsAfterOnePass();
};

// The library's default play: one message step, then the approval.
void tst_Q7_Tef_Dialogue::saleWindowSequence() {
    Simulator sim;
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    WindowLog window(&c);
    QVERIFY(runRequest(c, "CRT", kSale));

    const QString title = QStringLiteral("firstTextChanged Venda Crédito\n Valor: R$\u00a010,00");
    const QStringList fresh{
        "showMessageError ",     "firstTextChanged R$\u00a010,00", "textChanged ",
        "disableTextField true", "disableListView true",           "clearItemsList",
        "disableButtonOK true",  "disableButtonVoltar true",       "disableButtonCancelar true"};
    const QStringList screen{"disableButtonOK true",       "disableButtonVoltar true",
                             "disableButtonCancelar true", "disableTextField true",
                             "disableListView true",       "textChanged "};
    const QStringList expected =
        fresh + QStringList{"showWindow true", QStringLiteral("textChanged Processando transação...")} +
        QStringList{"disableProgressBar false", title} + screen +
        QStringList{"textChanged PROCESSANDO TRANSACAO"} + QStringList{"disableProgressBar false", title} +
        screen + QStringList{"textChanged TRANSACAO APROVADA"} +
        QStringList{"disableProgressBar true",
                    "showWindow false",
                    "responseProcessTEF " + window.of("responseProcessTEF").value(0),
                    "textChanged TEF em processamento...",
                    "disableProgressBar false",
                    "disableButtonOK true",
                    "disableButtonCancelar true"};
    QCOMPARE(window.events, expected);
    QCOMPARE(responseOf(window).value("tef").toObject().value("resultadoTransacao"), QJsonValue("0"));
}

void tst_Q7_Tef_Dialogue::titles_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<QJsonObject>("parametros");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("call"); // entry point and its first argument

    const QString amount = QStringLiteral("R$\u00a012,34");
    const auto sale = [](const char *tipo) {
        return QJsonObject{{"valor", "1234"}, {"tipo_cartao", tipo}};
    };
    QTest::newRow("credit") << "CRT" << sale("1") << QStringLiteral("Venda Crédito\n Valor: ") + amount
                            << "RealizarPagamentoTEF 1";
    QTest::newRow("debit") << "CRT" << sale("2") << QStringLiteral("Venda Débito\n Valor: ") + amount
                           << "RealizarPagamentoTEF 2";
    QTest::newRow("private label") << "CRT" << sale("5") << "Venda Private Label\n Valor: " + amount
                                   << "RealizarPagamentoTEF 5";
    QTest::newRow("card type not given")
        << "CRT" << QJsonObject{{"valor", "1234"}} << "Venda\n Valor: " + amount << "RealizarPagamentoTEF 0";
    QTest::newRow("cancellation") << "CNC" << QJsonObject{{"valor", "1234"}, {"codigo_transacao", "7"}}
                                  << "Cancelamento\n Valor: " + amount << "RealizarAdmTEF 1";
    QTest::newRow("administrative") << "ADM" << QJsonObject{{"codigo_transacao", "7"}}
                                    << QStringLiteral("Operação Administrativa") << "RealizarAdmTEF 7";
}

void tst_Q7_Tef_Dialogue::titles() {
    QFETCH(QString, header);
    QFETCH(QJsonObject, parametros);
    QFETCH(QString, title);
    QFETCH(QString, call);
    Simulator sim;
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    WindowLog window(&c);
    QVERIFY(runRequest(c, header, parametros));

    // The fresh screen's amount first, then the title once per pass.
    QCOMPARE(window.of("firstTextChanged").mid(1), QStringList({title, title}));
    QStringList calls;
    for (const QJsonObject &made : sim.dialogueCalls()) {
        const QJsonObject args = argsOf(made);
        calls << made.value("fn").toString() + QLatin1Char(' ') +
                     QString::number(
                         args.value(args.contains("tipoCartao") ? "tipoCartao" : "operacao").toInt());
    }
    QCOMPARE(calls, QStringList({call, call}));
    QCOMPARE(responseOf(window).value("codigo"), QJsonValue(0));
}

enum class Press { OK, Cancel };
Q_DECLARE_METATYPE(Press)

void tst_Q7_Tef_Dialogue::answers_data() {
    QTest::addColumn<QJsonObject>("prompt");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<Press>("press");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QJsonObject>("sent");
    QTest::addColumn<QString>("result");

    const QStringList abc{"A", "B", "C"};
    QTest::newRow("second option of a list") << kListPrompt << abc << Press::OK << "1"
                                             << QJsonObject{{"automacao_coleta_informacao", "B"},
                                                            {"automacao_coleta_retorno", "0"},
                                                            {"automacao_coleta_sequencial", "17"}}
                                             << "0";
    QJsonObject trailing = kListPrompt;
    trailing.insert("automacao_coleta_opcao", "A;B;");
    QTest::newRow("list with a trailing separator")
        << trailing << QStringList{"A", "B", ""} << Press::OK << "0"
        << QJsonObject{{"automacao_coleta_informacao", "A"},
                       {"automacao_coleta_retorno", "0"},
                       {"automacao_coleta_sequencial", "17"}}
        << "0";
    QTest::newRow("typed text") << kTextPrompt << QStringList() << Press::OK << "123456"
                                << QJsonObject{{"automacao_coleta_informacao", "123456"},
                                               {"automacao_coleta_retorno", "0"},
                                               {"automacao_coleta_sequencial", 17}}
                                << "0";
    QJsonObject noSequence = kTextPrompt;
    noSequence.remove("automacao_coleta_sequencial");
    QTest::newRow("missing sequence sent as null")
        << noSequence << QStringList() << Press::OK << "abc"
        << QJsonObject{{"automacao_coleta_informacao", "abc"},
                       {"automacao_coleta_retorno", "0"},
                       {"automacao_coleta_sequencial", QJsonValue()}}
        << "0";
    QTest::newRow("cancelled") << kListPrompt << abc << Press::Cancel << ""
                               << QJsonObject{{"automacao_coleta_retorno", "9"},
                                              {"automacao_coleta_sequencial", "17"}}
                               << "9";
}

void tst_Q7_Tef_Dialogue::answers() {
    QFETCH(QJsonObject, prompt);
    QFETCH(QStringList, options);
    QFETCH(Press, press);
    QFETCH(QString, value);
    QFETCH(QJsonObject, sent);
    QFETCH(QString, result);
    Simulator sim({{"RealizarPagamentoTEF", QJsonArray{step(prompt), kFinal}}});
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    ControllerGuard guard(c);
    WindowLog window(&c);
    startRequest(c, "CRT", kSale);

    QTRY_VERIFY(window.events.contains("disableButtonOK false"));
    QCOMPARE(window.of("addItemList"), options);
    QCOMPARE(window.events.count("clearItemsList"), options.isEmpty() ? 1 : 2); // fresh screen, list
    if (press == Press::OK)
        c.onClickButtonOK(value, options.isEmpty() ? 1 : 2);
    else
        c.onClickButtonCancelar();
    QVERIFY(c.wait(10000));
    QCoreApplication::sendPostedEvents();

    const QList<QJsonObject> calls = sim.dialogueCalls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(argsOf(calls.at(0)).value("novaTransacao"), QJsonValue(1));
    QCOMPARE(Simulator::transactionOf(calls.at(0)), QJsonObject({{"transacao_valor", "1000"}}));
    QCOMPARE(argsOf(calls.at(1)).value("novaTransacao"), QJsonValue(0));
    QCOMPARE(Simulator::transactionOf(calls.at(1)), sent);
    // The simulator answers a call it finds wrong with "codigo" 99.
    QCOMPARE(responseOf(window).value("codigo"), QJsonValue(0));
    QCOMPARE(responseOf(window).value("tef").toObject().value("resultadoTransacao").toString(), result);
}

void tst_Q7_Tef_Dialogue::rejectedAnswerKeepsWaiting_data() {
    QTest::addColumn<QJsonObject>("prompt");
    QTest::addColumn<QString>("rejected");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("shownAgain");
    QTest::addColumn<QString>("accepted");
    QTest::addColumn<QString>("information");

    const QString selecione = QStringLiteral("Selecione uma opção!");
    QTest::newRow("empty text") << kTextPrompt << ""
                                << "Preencha um valor!"
                                << "disableTextField false"
                                << "42"
                                << "42";
    QTest::newRow("no row current") << kListPrompt << "-1" << selecione << "disableListView false"
                                    << "2"
                                    << "C";
    QTest::newRow("row past the end") << kListPrompt << "3" << selecione << "disableListView false"
                                      << "0"
                                      << "A";
}

void tst_Q7_Tef_Dialogue::rejectedAnswerKeepsWaiting() {
    QFETCH(QJsonObject, prompt);
    QFETCH(QString, rejected);
    QFETCH(QString, error);
    QFETCH(QString, shownAgain);
    QFETCH(QString, accepted);
    QFETCH(QString, information);
    const int estado = prompt.contains("automacao_coleta_opcao") ? 2 : 1;
    Simulator sim({{"RealizarPagamentoTEF", QJsonArray{step(prompt), kFinal}}});
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    ControllerGuard guard(c);
    WindowLog window(&c);
    startRequest(c, "CRT", kSale);
    QTRY_VERIFY(window.events.contains("disableButtonOK false"));

    window.events.clear();
    c.onClickButtonOK(rejected, estado);
    // The prompt stays as it was, buttons included: only the error and the input's focus.
    QCOMPARE(window.events, QStringList({"showMessageError " + error, shownAgain}));
    QVERIFY2(!c.wait(200), "the dialogue went on without an answer");
    QCOMPARE(sim.dialogueCalls().size(), 1);

    c.onClickButtonOK(accepted, estado);
    QVERIFY(c.wait(10000));
    const QList<QJsonObject> calls = sim.dialogueCalls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(Simulator::transactionOf(calls.at(1)).value("automacao_coleta_informacao"),
             QJsonValue(information));
}

void tst_Q7_Tef_Dialogue::dialogueEnds_data() {
    QTest::addColumn<QJsonArray>("replies");
    QTest::addColumn<int>("calls");
    QTest::addColumn<QStringList>("errors");

    QTest::newRow("result ends it although collection follows")
        << QJsonArray{step({{"resultadoTransacao", "0"}, {"automacao_coleta_retorno", "0"}})} << 1
        << QStringList();
    const QString invalido = QStringLiteral("Cartão inválido");
    QTest::newRow("error that asks for collection goes on")
        << QJsonArray{QJsonObject{{"codigo", 3},
                                  {"mensagem", invalido},
                                  {"tef", QJsonObject{{"automacao_coleta_retorno", "0"}}}},
                      kFinal}
        << 2 << QStringList{invalido};
    QTest::newRow("error without step data ends")
        << QJsonArray{QJsonObject{{"codigo", 3}, {"mensagem", invalido}}} << 1 << QStringList{invalido};
    QTest::newRow("return other than 0 ends")
        << QJsonArray{step({{"automacao_coleta_retorno", "1"}})} << 1 << QStringList();
    QTest::newRow("return 0 as a number ends")
        << QJsonArray{step({{"automacao_coleta_retorno", 0}})} << 1 << QStringList();
    QTest::newRow("no codigo")
        << QJsonArray{QJsonObject{{"tef", QJsonObject{{"automacao_coleta_retorno", "0"}}}}, kFinal} << 2
        << QStringList{"ERRO DESCONHECIDO"};
    QTest::newRow("not JSON") << QJsonArray{"<html>erro</html>"} << 1 << QStringList{"ERRO DESCONHECIDO"};
}

// No operator answer is given: each of these must end on its own.
void tst_Q7_Tef_Dialogue::dialogueEnds() {
    QFETCH(QJsonArray, replies);
    QFETCH(int, calls);
    QFETCH(QStringList, errors);
    Simulator sim({{"RealizarPagamentoTEF", replies}});
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    ControllerGuard guard(c);
    WindowLog window(&c);
    QVERIFY(runRequest(c, "CRT", kSale));
    QCOMPARE(sim.dialogueCalls().size(), calls);
    QCOMPARE(window.of("showMessageError"), QStringList{QString()} + errors); // after the fresh screen's
    QVERIFY(responseOf(window).value("codigo") != QJsonValue(99));
}

void tst_Q7_Tef_Dialogue::pressBeforeWaitIsNotLost() {
    Simulator sim({{"RealizarPagamentoTEF", QJsonArray{step(kTextPrompt), kFinal}}});
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    ControllerGuard guard(c);
    // Holds the controller thread once the prompt is on screen, before it reaches its wait,
    // while the test thread answers.
    QSemaphore shown;
    QSemaphore mayGoOn;
    std::atomic_bool held{false};
    connect(
        &c, &Base_Controller::disableProgressBar, &c,
        [&](bool hidden) {
            if (hidden && !held.exchange(true)) {
                shown.release();
                mayGoOn.tryAcquire(1, 10000);
            }
        },
        Qt::DirectConnection);
    startRequest(c, "CRT", kSale);

    QVERIFY(shown.tryAcquire(1, 10000));
    c.onClickButtonOK("777", 1);
    mayGoOn.release();
    QVERIFY2(c.wait(10000), "the answer given before the wait was lost");
    const QList<QJsonObject> calls = sim.dialogueCalls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(Simulator::transactionOf(calls.at(1)).value("automacao_coleta_informacao"), QJsonValue("777"));
}

void tst_Q7_Tef_Dialogue::deletedWhileRunning_data() {
    QTest::addColumn<QJsonObject>("scenario");
    QTest::newRow("waiting for the operator")
        << QJsonObject{{"RealizarPagamentoTEF", QJsonArray{step(kTextPrompt), kFinal}}};
    QTest::newRow("in a slow library step")
        << QJsonObject{{"demoraMs", QJsonObject{{"RealizarPagamentoTEF", 1000}}}};
}

// The library must not be unloaded under a call, nor the thread object go while it runs: the
// dialogue is cancelled at its next step and the thread waited for.
void tst_Q7_Tef_Dialogue::deletedWhileRunning() {
    QFETCH(QJsonObject, scenario);
    Simulator sim(scenario);
    auto c = std::make_unique<Q7_Tef_Controller>(nullptr, Simulator::libraryPath());
    startRequest(*c, "CRT", kSale);
    QTRY_COMPARE(sim.dialogueCalls().size(), 1);
    QElapsedTimer timer;
    timer.start();
    c.reset();
    QVERIFY(timer.elapsed() < 5000);
    const QList<QJsonObject> calls = sim.dialogueCalls();
    QCOMPARE(calls.size(), 2);
    QCOMPARE(Simulator::transactionOf(calls.last()).value("automacao_coleta_retorno"), QJsonValue("9"));
}

void tst_Q7_Tef_Dialogue::unknownOperationEndsAfterOnePass() {
    // A start reply that asks for a list: with no library call to answer it, asking again
    // would replay it for ever.
    const QJsonObject start = step(kListPrompt);
    Simulator sim({{"IniciarOperacaoTEF", start}});
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    ControllerGuard guard(c);
    WindowLog window(&c);
    QVERIFY(runRequest(c, "XYZ", {{"identificacao", "6"}}));
    QCOMPARE(sim.callLines(1), QStringList({R"(IniciarOperacaoTEF {"dadosAutomacao":"{}"})",
                                            R"(FinalizarOperacaoTEF {"finalizar":1})"}));
    QJsonObject expected = start;
    expected.insert("header", "XYZ");
    expected.insert("id", 6);
    QCOMPARE(responseOf(window), expected);

    // The prompt left on the last screen must not hold the next operation.
    QVERIFY(runRequest(c, "ADM", {{"identificacao", "7"}, {"codigo_transacao", "2"}}));
    QCOMPARE(sim.dialogueCalls().size(), 2);
}

QTEST_MAIN(tst_Q7_Tef_Dialogue)
#include "tst_Q7_Tef_Dialogue.moc"
