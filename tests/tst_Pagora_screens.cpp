#include "PagoraSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QtTest>

namespace {

QString absentLibrary() {
    return QDir::tempPath() + QStringLiteral("/q7-absent/libAPITEFOrvix.so");
}

QJsonObject comp(const QString &nome, const QString &conteudo,
                 const QString &visor = QStringLiteral("operador")) {
    return QJsonObject{{QStringLiteral("NomeComponenteTela"), nome},
                       {QStringLiteral("ConteudoComponenteTela"), conteudo},
                       {QStringLiteral("TipoVisor"), visor}};
}

QJsonObject listbox(const QStringList &itens) {
    QJsonArray array;
    for (const QString &item : itens)
        array.append(QJsonObject{{QStringLiteral("ConteudoItem"), item}});
    return comp(
        QStringLiteral("listbox"),
        QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("ArrayListBox"), array}}).toJson()));
}

const QString kVenda1000 = request(QStringLiteral("000-000 = CRT\n001-000 = 55959\n002-000 = 4411\n"
                                                  "003-000 = 1000\n999-999 = 0\n"));
const QString kVendaSemValor = request(QStringLiteral("000-000 = CRT\n001-000 = 7\n999-999 = 0\n"));
const QString kCancelamento = request(QStringLiteral("000-000 = CNC\n001-000 = 7\n999-999 = 0\n"));
const QString kAdm = request(QStringLiteral("000-000 = ADM\n001-000 = 7\n999-999 = 0\n"));
// What a menu choice leaves in the request document.
const QString kConfiguracao =
    QStringLiteral(R"({"header":"ADM","operacao":4,"parametros":{"identificacao":"7"}})");
const QString kCredito =
    QStringLiteral(R"({"header":"CRT","operacao":2,"parametros":{"identificacao":"7"}})");

const QStringList kMenuVenda{QStringLiteral("Pagamento débito"), QStringLiteral("Pagamento crédito")};
const QStringList kMenuAdm{QStringLiteral("Configuração TEF"), QStringLiteral("Reimpressão de comprovante"),
                           QStringLiteral("Cancelamento de venda")};

} // namespace

class tst_Pagora_screens : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { log = std::make_unique<PagoraLog>(); }
    void cleanupTestCase() { log.reset(); }

    void showScreen_data();
    void showScreen();
    void typedAmountShowsInTheBand();
    void okHandler_data();
    void okHandler();
    void voltarAndCancelar_data();
    void voltarAndCancelar();
    void initialCaptureDocument_data();
    void initialCaptureDocument();
    void recordFromRequest_data();
    void recordFromRequest();

private:
    std::unique_ptr<PagoraLog> log;
};

void tst_Pagora_screens::showScreen_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<QJsonValue>("tela");
    QTest::addColumn<QStringList>("sinais"); // after the seven that clear the window
    QTest::addColumn<QJsonObject>("registro");
    QTest::addColumn<bool>("espera");

    const QString dez = PagoraProbe::formatCurrency(QStringLiteral("1000"));
    const QString lista =
        QStringLiteral("{\r\n  \"ArrayListBox\": [\r\n    {\"ConteudoItem\": \"A VISTA\"},\n"
                       "    {\"ConteudoItem\": \"PARCELADO  LOJA\"}\n  ]\n}\n");
    const auto texto = [](const QString &t) {
        return QJsonObject{{QStringLiteral("texto_operador"), t}};
    };

    QTest::newRow("two operator labels")
        << kVenda1000 << QJsonValue(QJsonArray{comp("label", "A"), comp("label", "B")})
        << QStringList{"firstTextChanged:" + dez + "\nA", "textChanged:B"} << texto("B") << false;
    QTest::newRow("customer display label is recorded, not shown")
        << kVenda1000 << QJsonValue(QJsonArray{comp("label", "INSIRA O CARTAO", "cliente")}) << QStringList()
        << texto("INSIRA O CARTAO") << false;
    QTest::newRow("RETIRE O CARTAO is shown, not recorded")
        << kVenda1000 << QJsonValue(QJsonArray{comp("label", "APROVADA"), comp("label", "RETIRE O CARTAO")})
        << QStringList{"firstTextChanged:" + dez + "\nAPROVADA", "textChanged:RETIRE O CARTAO"}
        << texto("APROVADA") << false;
    QTest::newRow("configuration shows every label")
        << kConfiguracao << QJsonValue(QJsonArray{comp("label", "A"), comp("label", "B", "cliente")})
        << QStringList{"firstTextChanged:CONFIGURAÇÃO", "textChanged:A", "firstTextChanged:CONFIGURAÇÃO",
                       "textChanged:B"}
        << texto("B") << false;
    QTest::newRow("prefilled text box")
        << kVenda1000 << QJsonValue(QJsonArray{comp("textbox", "00000001")})
        << QStringList{"disableProgressBar:1", "disableTextField:0", "textfiledChanged:00000001"}
        << QJsonObject() << true;
    QTest::newRow("list with line breaks inside")
        << kVenda1000 << QJsonValue(QJsonArray{comp("listbox", lista)})
        << QStringList{"disableProgressBar:1",       "clearItemsList",    "addItemList:A VISTA",
                       "addItemList:PARCELADO LOJA", "disableListView:0", "textChanged:Selecione"}
        << QJsonObject() << true;
    QTest::newRow("list that is not JSON")
        << kVenda1000 << QJsonValue(QJsonArray{comp("listbox", "A VISTA")})
        << QStringList{"disableProgressBar:1", "clearItemsList", "disableListView:0", "textChanged:Selecione"}
        << QJsonObject() << true;
    QTest::newRow("buttons") << kVenda1000
                             << QJsonValue(QJsonArray{comp("button", "Prosseguir"), comp("button", "Voltar"),
                                                      comp("button", "Cancelar"), comp("button", "Imprimir")})
                             << QStringList{"disableButtonOK:0", "disableButtonVoltar:0",
                                            "disableButtonCancelar:0"}
                             << QJsonObject() << false;
    QTest::newRow("receipts and transaction data")
        << kVenda1000
        << QJsonValue(QJsonArray{comp("comprovanteloja", "LOJA\n"), comp("comprovantecliente", "CLIENTE\n"),
                                 comp("dadostransacao", "Nsu:1,ValorTrans:1000")})
        << QStringList()
        << QJsonObject{{"comprovante_loja", "LOJA\n"},
                       {"comprovante_cliente", "CLIENTE\n"},
                       {"dados_transacao", "Nsu:1,ValorTrans:1000"}}
        << false;
    QTest::newRow("unknown kinds are skipped")
        << kVenda1000 << QJsonValue(QJsonArray{comp("Label", "A"), comp("", "B"), comp("imagem", "C")})
        << QStringList() << QJsonObject() << false;
    QTest::newRow("not an array") << kVenda1000 << QJsonValue(QJsonObject{{"label", "A"}}) << QStringList()
                                  << QJsonObject() << false;
}

void tst_Pagora_screens::showScreen() {
    QFETCH(QString, requisicao);
    QFETCH(QJsonValue, tela);
    QFETCH(QStringList, sinais);
    QFETCH(QJsonObject, registro);
    QFETCH(bool, espera);

    PagoraProbe probe(nullptr, absentLibrary());
    probe.setJsonConfigs(requisicao);
    QJsonObject esperado = probe.record();
    for (auto it = registro.begin(); it != registro.end(); ++it)
        esperado.insert(it.key(), it.value());

    SignalLog sinaisEmitidos(&probe, Qt::DirectConnection);
    probe.showScreen(tela);

    const QStringList limpa{"disableButtonOK:1",  "disableButtonVoltar:1", "disableButtonCancelar:1",
                            "disableTextField:1", "disableListView:1",     "firstTextChanged:",
                            "textChanged:"};
    QCOMPARE(sinaisEmitidos.lines, limpa + sinais);
    QCOMPARE(probe.record(), esperado);
    QCOMPARE(probe.waiting(), espera);
}

void tst_Pagora_screens::typedAmountShowsInTheBand() {
    PagoraProbe probe(nullptr, absentLibrary());
    probe.setJsonConfigs(kCancelamento);
    probe.capturaInicial();
    probe.onClickButtonOK(QStringLiteral("1500"), 1);

    QSignalSpy band(&probe, &Base_Controller::firstTextChanged);
    probe.showScreen(QJsonArray{comp("label", "INSIRA O CARTAO")});
    QCOMPARE(band.last().at(0).toString(), PagoraProbe::formatCurrency("1500") + "\nINSIRA O CARTAO");
}

void tst_Pagora_screens::okHandler_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<QStringList>("menu");  // built-in menu on screen
    QTest::addColumn<QStringList>("lista"); // the library's list on screen
    QTest::addColumn<QString>("valor");
    QTest::addColumn<int>("estado");
    QTest::addColumn<QStringList>("sinais");
    QTest::addColumn<QJsonObject>("captura"); // members changed in the capture document
    QTest::addColumn<int>("operacao");
    QTest::addColumn<bool>("segue");
    QTest::addColumn<QString>("valorTransacao");

    const QStringList none;
    const QStringList released{"disableProgressBar:0"};
    const QStringList emptyValue{"showMessageError:Preencha um valor!", "disableTextField:0"};
    const QStringList noOption{"showMessageError:Selecione uma opção!", "disableListView:0"};
    const QJsonObject ok{{"TipoFluxo", 1}};
    const auto typed = [](const QString &v) {
        return QJsonObject{{"TipoFluxo", 1}, {"InfoCaptura", v}};
    };

    QTest::newRow("typed value becomes the amount")
        << kCancelamento << none << none << "1500" << 1 << released << typed("1500") << 12 << true << "1500";
    QTest::newRow("typed value keeps a known amount")
        << kVenda1000 << none << none << "4455" << 1 << released << typed("4455") << 0 << true << "1000";
    QTest::newRow("typed value in configuration is no amount")
        << kConfiguracao << none << none << "PDV1" << 1 << released << typed("PDV1") << 4 << true << "";
    QTest::newRow("empty value keeps waiting")
        << kCancelamento << none << none << "" << 1 << emptyValue << QJsonObject() << 12 << false << "";
    QTest::newRow("sale menu: credit")
        << kVendaSemValor << kMenuVenda << none << "1" << 2 << released << ok << 2 << true << "";
    QTest::newRow("sale menu: debit")
        << kVendaSemValor << kMenuVenda << none << "0" << 2 << released << ok << 1 << true << "";
    QTest::newRow("administrative menu: configuration")
        << kAdm << kMenuAdm << none << "0" << 2 << released << ok << 4 << true << "";
    QTest::newRow("administrative menu: reprint")
        << kAdm << kMenuAdm << none << "1" << 2 << released << ok << 128 << true << "";
    QTest::newRow("administrative menu: cancellation")
        << kAdm << kMenuAdm << none << "2" << 2 << released << ok << 12 << true << "";
    QTest::newRow("no row current") << kVendaSemValor << kMenuVenda << none << "-1" << 2 << noOption
                                    << QJsonObject() << 0 << false << "";
    QTest::newRow("past the menu's end")
        << kVendaSemValor << kMenuVenda << none << "2" << 2 << noOption << QJsonObject() << 0 << false << "";
    QTest::newRow("library list: the row goes to the library")
        << kCredito << none << QStringList{"A VISTA", "PARCELADO"} << "1" << 2 << released << typed("1") << 2
        << true << "";
    QTest::newRow("library list: past its end") << kCredito << none << QStringList{"A VISTA", "PARCELADO"}
                                                << "2" << 2 << noOption << QJsonObject() << 2 << false << "";
    QTest::newRow("unknown state") << kVenda1000 << none << none << "x" << 3
                                   << QStringList{"textChanged:ERRO"} << QJsonObject() << 0 << false
                                   << "1000";
}

void tst_Pagora_screens::okHandler() {
    QFETCH(QString, requisicao);
    QFETCH(QStringList, menu);
    QFETCH(QStringList, lista);
    QFETCH(QString, valor);
    QFETCH(int, estado);
    QFETCH(QStringList, sinais);
    QFETCH(QJsonObject, captura);
    QFETCH(int, operacao);
    QFETCH(bool, segue);
    QFETCH(QString, valorTransacao);

    PagoraProbe probe(nullptr, absentLibrary());
    probe.setJsonConfigs(requisicao);
    probe.capturaInicial();
    if (!menu.isEmpty())
        probe.showScreen(probe.telaMenu(menu).value(QLatin1String("ComponentesTela")));
    else if (!lista.isEmpty())
        probe.showScreen(QJsonArray{listbox(lista)});
    else
        probe.showScreen(QJsonArray{comp("textbox", "")});
    QJsonObject esperada = probe.captura();
    for (auto it = captura.begin(); it != captura.end(); ++it)
        esperada.insert(it.key(), it.value());

    SignalLog press(&probe, Qt::DirectConnection);
    probe.onClickButtonOK(valor, estado);

    QCOMPARE(press.lines, sinais);
    QCOMPARE(probe.captura(), esperada);
    QCOMPARE(probe.getJsonConfigs().value(QLatin1String("operacao")).toInt(), operacao);
    QCOMPARE(probe.waiting(), !segue);
    QCOMPARE(probe.valor(), valorTransacao);
    if (!menu.isEmpty() && segue)
        QCOMPARE(PagoraLog::lines().last(),
                 "debug [Pagora_Controller] Opção selecionada: " + menu.at(valor.toInt()));
}

void tst_Pagora_screens::voltarAndCancelar_data() {
    QTest::addColumn<QString>("antes");
    QTest::addColumn<bool>("cancelar");
    QTest::addColumn<QJsonObject>("depois");

    const QString captura = QStringLiteral(R"({"SequenciaCaptura":3,"TipoFluxo":0,"InfoCaptura":"12"})");
    QTest::newRow("VOLTAR") << captura << false
                            << QJsonObject{{"SequenciaCaptura", 3}, {"TipoFluxo", 3}, {"InfoCaptura", "12"}};
    QTest::newRow("CANCELAR") << captura << true
                              << QJsonObject{
                                     {"SequenciaCaptura", 3}, {"TipoFluxo", 2}, {"InfoCaptura", "12"}};
    QTest::newRow("CANCELAR over a document that does not parse")
        << QStringLiteral("{SequenciaCaptura") << true << QJsonObject{{"TipoFluxo", 2}};
}

void tst_Pagora_screens::voltarAndCancelar() {
    QFETCH(QString, antes);
    QFETCH(bool, cancelar);
    QFETCH(QJsonObject, depois);

    PagoraProbe probe(nullptr, absentLibrary());
    probe.setJsonConfigs(kVenda1000);
    probe.setCaptura(antes);
    probe.showScreen(QJsonArray{comp("textbox", "")});
    SignalLog press(&probe, Qt::DirectConnection);
    if (cancelar)
        probe.onClickButtonCancelar();
    else
        probe.onClickButtonVoltar();

    QCOMPARE(probe.captura(), depois);
    QVERIFY(!probe.waiting());
    QCOMPARE(press.lines, QStringList{"disableProgressBar:0"});
}

void tst_Pagora_screens::initialCaptureDocument_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<QJsonValue>("infoCaptura");
    QTest::addColumn<QString>("valorTransacao");

    QTest::newRow("amount with separators")
        << request("000-000 = CRT\n001-000 = 7\n003-000 = 1.000,00\n999-999 = 0\n") << QJsonValue("100000")
        << "100000";
    QTest::newRow("no amount") << kVendaSemValor << QJsonValue("") << "";
    QTest::newRow("configuration") << kConfiguracao << QJsonValue(QJsonValue::Null) << "";
}

void tst_Pagora_screens::initialCaptureDocument() {
    QFETCH(QString, requisicao);
    QFETCH(QJsonValue, infoCaptura);
    QFETCH(QString, valorTransacao);

    PagoraProbe probe(nullptr, absentLibrary());
    probe.setJsonConfigs(requisicao);
    const QString json = probe.capturaInicial();

    const QJsonObject esperado{{"SequenciaCaptura", 0},
                               {"TipoFluxo", 0},
                               {"AbortarFluxoCaptura", false},
                               {"FormatoInfoCaptura", 0},
                               {"InfoCaptura", infoCaptura}};
    QCOMPARE(json, QString::fromUtf8(QJsonDocument(esperado).toJson(QJsonDocument::Compact)));
    QCOMPARE(probe.captura(), esperado);
    QCOMPARE(probe.valor(), valorTransacao);
}

void tst_Pagora_screens::recordFromRequest_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<QJsonObject>("registro");

    QTest::newRow("sale") << kVenda1000
                          << QJsonObject{
                                 {"id", 55959}, {"header", "CRT"}, {"documento_fiscal_vinculado", "4411"}};
    QTest::newRow("identification not a number")
        << request("000-000 = ADM\n001-000 = A1\n999-999 = 0\n")
        << QJsonObject{{"id", 0}, {"header", "ADM"}, {"documento_fiscal_vinculado", ""}};
}

void tst_Pagora_screens::recordFromRequest() {
    QFETCH(QString, requisicao);
    QFETCH(QJsonObject, registro);

    PagoraProbe probe(nullptr, absentLibrary());
    probe.setJsonConfigs(requisicao);
    QCOMPARE(probe.record(), registro);
    QCOMPARE(PagoraLog::lines().last(), "debug [Pagora_Controller] setJsonConfigs" + requisicao);
}

QTEST_GUILESS_MAIN(tst_Pagora_screens)
#include "tst_Pagora_screens.moc"
