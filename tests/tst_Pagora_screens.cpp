#include "PagoraSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QtTest>

namespace {

// Screens and handlers need no library.
QString absentLibrary() {
    return QDir::tempPath() + QStringLiteral("/q7-absent/libAPITEFOrvix.so");
}

QJsonObject comp(const QString &nome, const QString &conteudo,
                 const QString &visor = QStringLiteral("operador")) {
    return QJsonObject{
        {"NomeComponenteTela", nome}, {"ConteudoComponenteTela", conteudo}, {"TipoVisor", visor}};
}

const QString kVenda1000 = request("000-000 = CRT\n001-000 = 5\n003-000 = 1000\n999-999 = 0\n");
const QString kVendaSemValor = request("000-000 = CRT\n001-000 = 5\n999-999 = 0\n");
const QString kCancelamento = request("000-000 = CNC\n001-000 = 5\n999-999 = 0\n");
const QString kAdm = request("000-000 = ADM\n001-000 = 5\n999-999 = 0\n");
// What a menu choice leaves in the request document.
const QString kConfiguracao = R"({"header":"ADM","operacao":4,"parametros":{"identificacao":"5"}})";
const QString kCredito = R"({"header":"CRT","operacao":2,"parametros":{"identificacao":"5"}})";

} // namespace

class tst_Pagora_screens : public QObject {
    Q_OBJECT

private slots:
    void showScreen_data();
    void showScreen();
    void okHandler_data();
    void okHandler();
};

void tst_Pagora_screens::showScreen_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<QJsonArray>("tela");
    QTest::addColumn<QStringList>("sinais"); // after the seven that clear the window
    QTest::addColumn<QJsonObject>("registro");
    QTest::addColumn<bool>("espera");

    const QString dez = PagoraProbe::formatCurrency("1000");
    const QString lista = "{\r\n  \"ArrayListBox\": [\r\n    {\"ConteudoItem\": \"A VISTA\"},\n"
                          "    {\"ConteudoItem\":\n \"PARCELADO\"}\n  ]\n}\n";
    const auto texto = [](const QString &t) {
        return QJsonObject{{"texto_operador", t}};
    };

    QTest::newRow("two operator labels")
        << kVenda1000 << QJsonArray{comp("label", "A"), comp("label", "B")}
        << QStringList{"firstTextChanged:" + dez + "\nA", "textChanged:B"} << texto("B") << false;
    QTest::newRow("customer display label is recorded, not shown")
        << kVenda1000 << QJsonArray{comp("label", "INSIRA O CARTAO", "cliente")} << QStringList()
        << texto("INSIRA O CARTAO") << false;
    QTest::newRow("RETIRE O CARTAO is shown, not recorded")
        << kVenda1000 << QJsonArray{comp("label", "APROVADA"), comp("label", "RETIRE O CARTAO")}
        << QStringList{"firstTextChanged:" + dez + "\nAPROVADA", "textChanged:RETIRE O CARTAO"}
        << texto("APROVADA") << false;
    QTest::newRow("configuration shows every label")
        << kConfiguracao << QJsonArray{comp("label", "A"), comp("label", "B", "cliente")}
        << QStringList{"firstTextChanged:CONFIGURAÇÃO", "textChanged:A", "firstTextChanged:CONFIGURAÇÃO",
                       "textChanged:B"}
        << texto("B") << false;
    QTest::newRow("prefilled text box")
        << kVenda1000 << QJsonArray{comp("textbox", "00000001")}
        << QStringList{"disableProgressBar:1", "disableTextField:0", "textfiledChanged:00000001"}
        << QJsonObject() << true;
    QTest::newRow("list with line breaks inside")
        << kVenda1000 << QJsonArray{comp("listbox", lista)}
        << QStringList{"disableProgressBar:1",  "clearItemsList",    "addItemList:A VISTA",
                       "addItemList:PARCELADO", "disableListView:0", "textChanged:Selecione"}
        << QJsonObject() << true;
    QTest::newRow("buttons, receipts and unknown kinds")
        << kVenda1000
        << QJsonArray{comp("button", "Prosseguir"),
                      comp("button", "Cancelar"),
                      comp("button", "Imprimir"),
                      comp("Label", "A"),
                      comp("comprovanteloja", "LOJA\n"),
                      comp("comprovantecliente", "CLIENTE\n"),
                      comp("dadostransacao", "Nsu:1,ValorTrans:1000")}
        << QStringList{"disableButtonOK:0", "disableButtonCancelar:0"}
        << QJsonObject{{"comprovante_loja", "LOJA\n"},
                       {"comprovante_cliente", "CLIENTE\n"},
                       {"dados_transacao", "Nsu:1,ValorTrans:1000"}}
        << false;
}

void tst_Pagora_screens::showScreen() {
    QFETCH(QString, requisicao);
    QFETCH(QJsonArray, tela);
    QFETCH(QStringList, sinais);
    QFETCH(QJsonObject, registro);
    QFETCH(bool, espera);

    PagoraProbe probe(nullptr, absentLibrary());
    probe.setJsonConfigs(requisicao);
    QJsonObject esperado = probe.record();
    for (auto it = registro.begin(); it != registro.end(); ++it)
        esperado.insert(it.key(), it.value());

    SignalLog emitted(&probe, Qt::DirectConnection);
    probe.showScreen(tela);

    const QStringList limpa{"disableButtonOK:1",  "disableButtonVoltar:1", "disableButtonCancelar:1",
                            "disableTextField:1", "disableListView:1",     "firstTextChanged:",
                            "textChanged:"};
    QCOMPARE(emitted.lines, limpa + sinais);
    QCOMPARE(probe.record(), esperado);
    QCOMPARE(probe.waiting(), espera);
}

void tst_Pagora_screens::okHandler_data() {
    QTest::addColumn<QString>("requisicao");
    QTest::addColumn<bool>("menu");          // the built-in menu on screen, else the library's list
    QTest::addColumn<QStringList>("opcoes"); // of that list; none: a text box
    QTest::addColumn<QString>("valor");
    QTest::addColumn<int>("estado");
    QTest::addColumn<QStringList>("sinais");
    QTest::addColumn<QJsonObject>("captura"); // members changed in the capture document
    QTest::addColumn<int>("operacao");
    QTest::addColumn<QString>("valorTransacao");

    const QStringList venda{"Pagamento débito", "Pagamento crédito"};
    const QStringList adm{"Configuração TEF", "Reimpressão de comprovante", "Cancelamento de venda"};
    const QStringList released{"disableProgressBar:0"};
    const QStringList noOption{"showMessageError:Selecione uma opção!", "disableListView:0"};
    const QJsonObject ok{{"TipoFluxo", 1}};
    const auto typed = [](const QString &v) {
        return QJsonObject{{"TipoFluxo", 1}, {"InfoCaptura", v}};
    };

    QTest::newRow("typed value becomes the amount") << kCancelamento << false << QStringList() << "1500" << 1
                                                    << released << typed("1500") << 12 << "1500";
    QTest::newRow("typed value keeps a known amount")
        << kVenda1000 << false << QStringList() << "4455" << 1 << released << typed("4455") << 0 << "1000";
    QTest::newRow("empty value keeps waiting")
        << kCancelamento << false << QStringList() << "" << 1
        << QStringList{"showMessageError:Preencha um valor!", "disableTextField:0"} << QJsonObject() << 12
        << "";
    QTest::newRow("sale menu: credit")
        << kVendaSemValor << true << venda << "1" << 2 << released << ok << 2 << "";
    QTest::newRow("administrative menu: reprint")
        << kAdm << true << adm << "1" << 2 << released << ok << 128 << "";
    QTest::newRow("no row current") << kVendaSemValor << true << venda << "-1" << 2 << noOption
                                    << QJsonObject() << 0 << "";
    QTest::newRow("past the menu's end")
        << kVendaSemValor << true << venda << "2" << 2 << noOption << QJsonObject() << 0 << "";
    QTest::newRow("library list: the row goes to the library, the operation stays")
        << kCredito << false << QStringList{"A VISTA", "PARCELADO"} << "0" << 2 << released << typed("0") << 2
        << "";
    QTest::newRow("unknown state") << kVenda1000 << false << QStringList() << "x" << 3
                                   << QStringList{"textChanged:ERRO"} << QJsonObject() << 0 << "1000";
}

void tst_Pagora_screens::okHandler() {
    QFETCH(QString, requisicao);
    QFETCH(bool, menu);
    QFETCH(QStringList, opcoes);
    QFETCH(QString, valor);
    QFETCH(int, estado);
    QFETCH(QStringList, sinais);
    QFETCH(QJsonObject, captura);
    QFETCH(int, operacao);
    QFETCH(QString, valorTransacao);

    PagoraProbe probe(nullptr, absentLibrary());
    probe.setJsonConfigs(requisicao);
    probe.initialCapture();
    if (menu) {
        probe.showScreen(probe.menuScreen(opcoes).value("ComponentesTela"));
    } else if (!opcoes.isEmpty()) {
        QJsonArray itens;
        for (const QString &opcao : opcoes)
            itens.append(QJsonObject{{"ConteudoItem", opcao}});
        probe.showScreen(QJsonArray{comp(
            "listbox", QString::fromUtf8(QJsonDocument(QJsonObject{{"ArrayListBox", itens}}).toJson()))});
    } else {
        probe.showScreen(QJsonArray{comp("textbox", "")});
    }
    QJsonObject esperada = probe.captura();
    for (auto it = captura.begin(); it != captura.end(); ++it)
        esperada.insert(it.key(), it.value());

    SignalLog press(&probe, Qt::DirectConnection);
    probe.onClickButtonOK(valor, estado);

    QCOMPARE(press.lines, sinais);
    QCOMPARE(probe.captura(), esperada);
    QCOMPARE(probe.getJsonConfigs().value("operacao").toInt(), operacao);
    // Only an accepted answer releases the thread.
    QCOMPARE(probe.waiting(), sinais != QStringList{"disableProgressBar:0"});
    QCOMPARE(probe.valor(), valorTransacao);
}

QTEST_GUILESS_MAIN(tst_Pagora_screens)
#include "tst_Pagora_screens.moc"
