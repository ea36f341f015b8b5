#include "exchange/ProtocoloSitef.h"

#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QtTest>

// Response documents in, response file texts out, compared byte for byte.
class TstProtocoloWriters : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void dictionaries();
    void counterPositions();
    void lineBuilders_data();
    void lineBuilders();
    void bridge_data();
    void bridge();
    void tef_data();
    void tef();
    void sitef_data();
    void sitef();
    void fullDocuments_data();
    void fullDocuments();
    void sortedAsAList_data();
    void sortedAsAList();
    void controlCodesAreUnique();

private:
    void compare(const QString &text, QString expected);

    ProtocoloSitef m_protocolo;
};

// The bridge and Tef01 layouts separate lines; the SiTef layout ends each one.
static QString joined(const QStringList &lines) {
    return lines.join(QStringLiteral("\r\n"));
}

static QString terminated(const QStringList &lines) {
    return joined(lines) + QStringLiteral("\r\n");
}

static QString thisYear() {
    return QString::number(QDate::currentDate().year());
}

// Rows named "tefdial ..." run in the TEF Dial layout, against this clock.
static QDateTime fixedClock() {
    return QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9));
}

static bool tefDialRow() {
    return QByteArray(QTest::currentDataTag()).startsWith("tefdial");
}

// A whole TEF Dial response: `lines` and, for the tags they do not name, Real, the clock's
// date and time, a control code of the service's own (@CODE@) and no confirmation needed.
static QStringList dial(QStringList lines) {
    const QStringList defaults{"004-000 = 0",      "022-000 = 05032026", "023-000 = 140709",
                               "027-000 = @CODE@", "729-000 = 1",        "999-999 = 0"};
    for (const QString &line : defaults)
        if (lines.filter(QRegularExpression("^" + line.left(7) + " = ")).isEmpty())
            lines << line;
    lines.sort();
    return lines;
}

void TstProtocoloWriters::initTestCase() {
    m_protocolo.setClock(&fixedClock);
}

// `expected` may stand @CODE@ for a control code the service made: digits, from the clock on.
void TstProtocoloWriters::compare(const QString &text, QString expected) {
    if (expected.contains("@CODE@")) {
        const QString code = QRegularExpression("027-000 = ([^\r]*)").match(text).captured(1);
        QVERIFY2(QRegularExpression("^[0-9]+$").match(code).hasMatch() &&
                     code.toLongLong() >= fixedClock().toMSecsSinceEpoch(),
                 qPrintable(code));
        expected.replace("@CODE@", code);
    }
    QCOMPARE(text, expected);
}

void TstProtocoloWriters::dictionaries() {
    const auto check = [](const QVector<ProtocoloSitef::TagMapping> &rows, int count, const QString &first,
                          const QString &last) {
        QCOMPARE(rows.size(), count);
        QCOMPARE(rows.first().name, first);
        QCOMPARE(rows.last().name, last);
        QSet<QString> names;
        QSet<QString> tags;
        for (const auto &row : rows) {
            names.insert(row.name);
            tags.insert(row.tag);
        }
        QCOMPARE(names.size(), count);
        QCOMPARE(tags.size(), count);
    };
    check(m_protocolo.bridgeTags, 55, "q7_bridge_code", "respostaRede");
    check(m_protocolo.tefTags, 28, "loja", "comprovanteDiferenciadoPortador");
}

void TstProtocoloWriters::counterPositions() {
    QJsonArray texts;
    for (int i = 1; i <= 1000; ++i)
        texts.append(QString::number(i));
    const QStringList lines = m_protocolo.lineBlock("714-000|715-xxx", texts);
    QCOMPARE(lines.size(), 1001);
    QCOMPARE(lines.at(6), "715-007 = 7");
    QCOMPARE(lines.at(998), "715-999 = 999");
    QCOMPARE(lines.at(999), "715-1000 = 1000");
    QCOMPARE(lines.last(), "714-000 = 1000");
}

void TstProtocoloWriters::lineBuilders_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("expected");
    const ProtocoloSitef &p = m_protocolo;

    QTest::newRow("layout of lineFormat")
        << p.operationLine("123-456", "a = b") << QStringList{p.lineFormat.arg("123-456", "a = b")};
    QTest::newRow("sale name") << p.operationLine("000-000", "VENDA") << QStringList{"000-000 = CRT"};
    QTest::newRow("cancellation name")
        << p.operationLine("000-000", "CANCELAMENTO") << QStringList{"000-000 = CNC"};
    QTest::newRow("administrative name")
        << p.operationLine("000-000", "ADMINISTRATIVA") << QStringList{"000-000 = ADM"};
    QTest::newRow("other name unchanged")
        << p.operationLine("000-000", "venda") << QStringList{"000-000 = venda"};

    QTest::newRow("date and time") << p.dateTimeLines("022-000|023-000", "20122018 093517")
                                   << QStringList{"022-000 = 20122018", "023-000 = 093517"};
    QTest::newRow("two blanks leave the time empty") << p.dateTimeLines("022-000|023-000", "20122018  093517")
                                                     << QStringList{"022-000 = 20122018", "023-000 = "};
    QTest::newRow("no blank leaves the time empty")
        << p.dateTimeLines("022-000|023-000", "20122018") << QStringList{"022-000 = 20122018", "023-000 = "};

    QTest::newRow("one blank text gives nothing")
        << p.lineBlock("710-000|711-xxx", QJsonArray{"  \t"}) << QStringList{};
    QTest::newRow("empty list gives the count")
        << p.lineBlock("710-000|711-xxx", QJsonArray{}) << QStringList{"710-000 = 0"};
    QTest::newRow("line breaks removed, non-text empty")
        << p.lineBlock("710-000|711-xxx", QJsonArray{"a\nb", 5, "c\r\nd"})
        << QStringList{"711-001 = ab", "711-002 = ", "711-003 = cd", "710-000 = 3"};
    QTest::newRow("blank texts among others are kept")
        << p.lineBlock("028-000|029-xxx", QJsonArray{" ", ""})
        << QStringList{"029-001 =  ", "029-002 = ", "028-000 = 2"};
}

void TstProtocoloWriters::lineBuilders() {
    QFETCH(QStringList, lines);
    QFETCH(QStringList, expected);
    QCOMPARE(lines, expected);
}

void TstProtocoloWriters::bridge_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("expected");

    QTest::newRow("basic sale") << R"({"operacao":"VENDA","q7_bridge_code":0,"q7_bridge_msg":"ok",)"
                                   R"("q7_cupom_fiscal":true})"
                                << joined({"000-000 = CRT", "375-000 = 0", "375-001 = ok", "375-002 = true",
                                           "999-999 = 0"});
    QTest::newRow("unknown operation name unchanged")
        << R"({"operacao":"venda"})" << joined({"000-000 = venda", "999-999 = 0"});
    QTest::newRow("financing by the issuer")
        << R"({"tipoFinanciamento":"parcelado_Emissor"})" << joined({"017-000 = 1", "999-999 = 0"});
    QTest::newRow("financing by the store")
        << R"({"tipoFinanciamento":"PARCELADO_ESTABELECIMENTO"})" << joined({"017-000 = 0", "999-999 = 0"});
    QTest::newRow("other financing gives no line")
        << R"({"tipoFinanciamento":"A_VISTA"})" << joined({"999-999 = 0"});
    QTest::newRow("date and time") << R"({"dataHoraTransacao":"20122018 093517"})"
                                   << joined({"022-000 = 20122018", "023-000 = 093517", "999-999 = 0"});

    QTest::newRow("copies compose the complete receipt")
        << R"({"comprovanteDiferenciadoPortador":["P1"],"comprovanteDiferenciadoLoja":["L1","L2"]})"
        << joined({"028-000 = 3", "029-001 = L1", "029-002 = L2", "029-003 = P1", "712-000 = 1",
                   "713-001 = P1", "714-000 = 2", "715-001 = L1", "715-002 = L2", "999-999 = 0"});
    QTest::newRow("a complete receipt of its own wins")
        << R"({"comprovanteCompleto":["C1"],"comprovanteDiferenciadoLoja":["L1"]})"
        << joined({"028-000 = 1", "029-001 = C1", "714-000 = 1", "715-001 = L1", "999-999 = 0"});
    QTest::newRow("an empty complete receipt is replaced, not doubled")
        << R"({"comprovanteCompleto":[],"comprovanteDiferenciadoLoja":["L1"]})"
        << joined({"028-000 = 1", "029-001 = L1", "714-000 = 1", "715-001 = L1", "999-999 = 0"});
    QTest::newRow("a blank complete receipt is replaced")
        << R"({"comprovanteCompleto":[" "],"comprovanteDiferenciadoLoja":["L1"]})"
        << joined({"028-000 = 1", "029-001 = L1", "714-000 = 1", "715-001 = L1", "999-999 = 0"});
    QTest::newRow("one blank store copy gives no receipt")
        << R"({"comprovanteDiferenciadoLoja":[" "]})" << joined({"999-999 = 0"});
    QTest::newRow("reduced receipt with one blank text")
        << R"({"comprovanteReduzidoPortador":["   "]})" << joined({"999-999 = 0"});
    QTest::newRow("reduced receipt empty")
        << R"({"comprovanteReduzidoPortador":[]})" << joined({"710-000 = 0", "999-999 = 0"});
    QTest::newRow("reduced receipt line feed removed")
        << R"({"comprovanteReduzidoPortador":["a\nb"]})"
        << joined({"710-000 = 1", "711-001 = ab", "999-999 = 0"});
    QTest::newRow("receipt that is not a list")
        << R"({"comprovanteCompleto":"x"})" << joined({"028-000 = 0", "999-999 = 0"});

    QTest::newRow("line breaks never reach a value")
        << R"({"mensagemResultado":"NEGADA\r\n009-000 = 0\n"})"
        << joined({"030-000 = NEGADA009-000 = 0", "999-999 = 0"});
    QTest::newRow("wrong types take defaults")
        << R"({"q7_bridge_code":"7","numeroParcelas":2.5,"q7_cupom_fiscal":1,"q7_bridge_msg":3})"
        << joined({"018-000 = 0", "375-000 = 0", "375-001 = ", "375-002 = false", "999-999 = 0"});
    QTest::newRow("integers") << R"({"q7_bridge_code":-42,"numeroParcelas":12.0,"resultadoTransacao":1e30})"
                              << joined({"009-000 = 0", "018-000 = 12", "375-000 = -42", "999-999 = 0"});
    QTest::newRow("null members are skipped")
        << R"({"q7_bridge_msg":null,"operacao":null})" << joined({"999-999 = 0"});
    QTest::newRow("members outside the dictionary")
        << R"({"foo":1,"q7_bridge_CODE":2})" << joined({"999-999 = 0"});
    QTest::newRow("empty document") << "{}" << QString();
    QTest::newRow("not JSON") << "000-000 = CRT" << QString();

    QTest::newRow("tefdial two copies: the cardholder's first, counted alone")
        << R"({"comprovanteCompleto":["C1"],"comprovanteDiferenciadoPortador":["P1"],)"
           R"("comprovanteDiferenciadoLoja":["L1","L2"],"viasImprimir":"2","resultadoTransacao":0,)"
           R"("tipoCartao":"CREDITO","tipoFinanciamento":"PARCELADO_EMISSOR","numeroParcelas":3,)"
           R"("dataHoraTransacao":"25/12/2026 14:30:00","identificadorConfirmacaoTransacao":"X1",)"
           R"("requerConfirmacao":true,"codigoMoeda":"986"})"
        << joined(dial({"009-000 = 0", "011-000 = 12", "017-000 = 1", "018-000 = 3", "022-000 = 25122026",
                        "023-000 = 143000", "027-000 = X1", "028-000 = 1", "029-001 = P1", "029-002 = L1",
                        "029-003 = L2", "712-000 = 1", "713-001 = P1", "714-000 = 2", "715-001 = L1",
                        "715-002 = L2", "729-000 = 2", "731-000 = CREDITO", "737-000 = 3"}));
    QTest::newRow("tefdial one copy, debit, dollar, no confirmation")
        << R"({"comprovanteDiferenciadoLoja":["L1"],"tipoCartao":"DEBITO","requerConfirmacao":false,)"
           R"("codigoMoeda":"840","identificadorConfirmacaoTransacao":""})"
        << joined(dial({"004-000 = 1", "011-000 = 20", "028-000 = 1", "029-001 = L1", "714-000 = 1",
                        "715-001 = L1", "731-000 = DEBITO"}));
    QTest::newRow("tefdial store instalments, ISO date, accented card")
        << R"({"tipoCartao":"Crédito","tipoFinanciamento":"PARCELADO_ESTABELECIMENTO","numeroParcelas":2,)"
           R"("dataHoraTransacao":"2026-12-25T14:30:00","codigoMoeda":"XYZ"})"
        << joined({"011-000 = 11", "017-000 = 0", "018-000 = 2", "022-000 = 25122026", "023-000 = 143000",
                   "027-000 = @CODE@", "729-000 = 1", "731-000 = Crédito", "999-999 = 0"});
    QTest::newRow("tefdial instalments of nobody known: no kind; no such date, the clock's")
        << R"({"tipoCartao":"CREDITO","numeroParcelas":4,"dataHoraTransacao":"31022026 101010"})"
        << joined(dial({"018-000 = 4", "023-000 = 101010", "731-000 = CREDITO"}));
    QTest::newRow("tefdial approved without receipt, unknown card, no time")
        << R"({"tipoCartao":"VOUCHER","resultadoTransacao":0,"dataHoraTransacao":"25122026"})"
        << joined(dial({"009-000 = 0", "022-000 = 25122026", "731-000 = VOUCHER"}));
}

void TstProtocoloWriters::bridge() {
    QFETCH(QString, json);
    QFETCH(QString, expected);
    m_protocolo.setCompatibilidade(tefDialRow() ? ProtocoloSitef::Compatibilidade::TefDial
                                                : ProtocoloSitef::Compatibilidade::Padrao);
    compare(m_protocolo.buildBridgeResponse(json), expected);
}

void TstProtocoloWriters::tef_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("expected");

    const QStringList fixed{"000-000 = CRT", "001-000 = 7", "375-000 = 0", "375-001 = ok"};
    const auto withTef = [](const char *tef) {
        return QStringLiteral(R"({"header":"CRT","id":7,"codigo":0,"mensagem":"ok","tef":%1})")
            .arg(QString::fromUtf8(tef));
    };

    QTest::newRow("no tef member") << withTef("null") << joined(fixed + QStringList{"999-999 = 0"});
    QTest::newRow("missing top-level members")
        << R"({"tef":[]})"
        << joined({"000-000 = ", "001-000 = 0", "375-000 = 0", "375-001 = ", "999-999 = 0"});
    QTest::newRow("store copy alone makes the complete receipt")
        << withTef(R"({"comprovanteDiferenciadoLoja":"A\r\nB"})")
        << joined(QStringList{"000-000 = CRT", "001-000 = 7", "028-000 = 2", "029-001 = A", "029-002 = B",
                              "375-000 = 0", "375-001 = ok", "714-000 = 2", "715-001 = A", "715-002 = B",
                              "999-999 = 0"});
    QTest::newRow("both copies, store first")
        << withTef(R"({"comprovanteDiferenciadoPortador":"P","comprovanteDiferenciadoLoja":"L\r\n"})")
        << joined(QStringList{"000-000 = CRT", "001-000 = 7", "028-000 = 3", "029-001 = L",
                              "029-002 = ", "029-003 = P", "375-000 = 0", "375-001 = ok", "712-000 = 1",
                              "713-001 = P", "714-000 = 2", "715-001 = L", "715-002 = ", "999-999 = 0"});
    QTest::newRow("cash payment gives one instalment")
        << withTef(R"({"formaPagamento":"A VISTA"})")
        << joined(
               {"000-000 = CRT", "001-000 = 7", "018-000 = 1", "375-000 = 0", "375-001 = ok", "999-999 = 0"});
    QTest::newRow("instalments given win over cash payment")
        << withTef(R"({"formaPagamento":"a vista","numeroParcelas":"3"})")
        << joined(
               {"000-000 = CRT", "001-000 = 7", "018-000 = 3", "375-000 = 0", "375-001 = ok", "999-999 = 0"});
    QTest::newRow("other payment gives no instalments")
        << withTef(R"({"formaPagamento":"parcelado"})") << joined(fixed + QStringList{"999-999 = 0"});
    QTest::newRow("financing by the store") << withTef(R"({"tipoFinanciamento":"ESTABELECIMENTO"})")
                                            << joined({"000-000 = CRT", "001-000 = 7", "017-000 = 0",
                                                       "375-000 = 0", "375-001 = ok", "999-999 = 0"});
    QTest::newRow("empty financing word") << withTef(R"({"tipoFinanciamento":""})")
                                          << joined({"000-000 = CRT", "001-000 = 7", "017-000 = 1",
                                                     "375-000 = 0", "375-001 = ok", "999-999 = 0"});
    QTest::newRow("line feeds removed, non-text empty")
        << withTef(R"({"mensagemResultado":"A\nB","resultadoTransacao":0})")
        << joined({"000-000 = CRT", "001-000 = 7", "009-000 = ", "030-000 = AB", "375-000 = 0",
                   "375-001 = ok", "999-999 = 0"});
    QTest::newRow("empty document") << "{}" << QString();
    QTest::newRow("not JSON") << "{\"header\":" << QString();

    QTest::newRow("tefdial two copies, issuer's instalments, the library's id")
        << withTef(R"({"comprovanteDiferenciadoPortador":"P","comprovanteDiferenciadoLoja":"L1\r\nL2",)"
                   R"("resultadoTransacao":"0","tipoCartao":"CREDITO","formaPagamento":"Parcelado",)"
                   R"("tipoFinanciamento":"Administradora","numeroParcelas":"3","uniqueID":"U-1"})")
        << joined(dial(fixed + QStringList{"009-000 = 0", "011-000 = 12", "017-000 = 1", "018-000 = 3",
                                           "027-000 = U-1", "028-000 = 1", "029-001 = P", "029-002 = L1",
                                           "029-003 = L2", "375-004 = U-1", "712-000 = 1", "713-001 = P",
                                           "714-000 = 2", "715-001 = L1", "715-002 = L2", "729-000 = 2",
                                           "731-000 = CREDITO", "737-000 = 3"}));
    QTest::newRow("tefdial one copy, debit, declined")
        << withTef(
               R"({"comprovanteDiferenciadoLoja":"A\r\nB","resultadoTransacao":"5","tipoCartao":"DEBITO"})")
        << joined(dial(fixed + QStringList{"009-000 = 5", "011-000 = 20", "028-000 = 2", "029-001 = A",
                                           "029-002 = B", "714-000 = 2", "715-001 = A", "715-002 = B",
                                           "731-000 = DEBITO"}));
    QTest::newRow("tefdial no receipt, store's instalments of unknown number")
        << withTef(
               R"({"tipoCartao":"CREDITO","formaPagamento":"Parcelado","tipoFinanciamento":"Estabelecimento"})")
        << joined(dial(fixed + QStringList{"011-000 = 11", "017-000 = 0", "731-000 = CREDITO"}));
    QTest::newRow("tefdial no tef member") << withTef("null") << joined(dial(fixed));
}

void TstProtocoloWriters::tef() {
    QFETCH(QString, json);
    QFETCH(QString, expected);
    m_protocolo.setCompatibilidade(tefDialRow() ? ProtocoloSitef::Compatibilidade::TefDial
                                                : ProtocoloSitef::Compatibilidade::Padrao);
    compare(m_protocolo.buildTefResponse(json), expected);
}

void TstProtocoloWriters::sitef_data() {
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("expected");

    const auto withItems = [](const char *items) {
        return QStringLiteral(R"({"header":"CRT","id":7,"resultado":0,"dados_transacao":"%1"})")
            .arg(QString::fromUtf8(items));
    };
    const auto withLines = [](const QStringList &lines) {
        return terminated(QStringList{"000-000 = CRT", "001-000 = 7", "009-000 = 0"} + lines +
                          QStringList{"999-999 = 0"});
    };

    QTest::newRow("fixed members only") << R"({"header":"CRT","id":7,"resultado":0})" << withLines({});
    QTest::newRow("not an object") << "[]"
                                   << terminated({"000-000 = ", "001-000 = 0", "009-000 = 0", "999-999 = 0"});
    QTest::newRow("document and operator text")
        << R"({"header":"CRT","id":7,"resultado":0,"documento_fiscal_vinculado":"98","texto_operador":"OK\n"})"
        << terminated({"000-000 = CRT", "001-000 = 7", "002-000 = 98", "009-000 = 0", "030-000 = OK",
                       "999-999 = 0"});
    QTest::newRow("empty document and operator text are skipped")
        << R"({"header":"CRT","id":7,"resultado":0,"documento_fiscal_vinculado":"","texto_operador":5})"
        << withLines({});
    QTest::newRow("card number: bank prefix and last four digits")
        << withItems("Pan:5500001122334455") << withLines({"010-004 = 550000", "010-005 = 4455"});
    QTest::newRow("date gets the current year")
        << withItems("DataTrans:2512") << withLines({"022-000 = 1225" + thisYear()});
    QTest::newRow("track: the part before the separator")
        << withItems("Trilha02:5500001122334455=2912,Trilha02:55")
        << withLines({"210-004 = 55", "210-004 = 5500001122334455"});
    QTest::newRow("financing codes") << withItems(
                                            "FormaFinanciamento:A,FormaFinanciamento:E,FormaFinanciamento:a")
                                     << withLines({"017-000 = 0", "017-000 = 1", "017-000 = a"});
    QTest::newRow("time keeps its colons")
        << withItems("HoraTrans:10:20:30") << withLines({"023-000 = 10:20:30"});
    QTest::newRow("white space normalised") << withItems(" Nsu :\t12  34 ") << withLines({"012-000 = 12 34"});
    QTest::newRow("items that write nothing")
        << withItems(
               "Nsu:,IdTerminal:5,Foo:1,nsu:2,CodEstabCielo:3,LogoPan:4,CodIf:5,CodAutenticacao:6,Nsu,,")
        << withLines({});
    QTest::newRow("plain items")
        << withItems(
               "ValorTrans:1,DataValidadeCartao:2,DataContabilTrans:3,CodAutorizacao:4,CodResposta:5,"
               "CodEstabelecimento:6,NroParcelas:7,TaxaServico:8,NsuHost:9,CodBandeira:10,CodServico:11,"
               "NroControle:12,CodRede:13,NomeBandeira:14,NomeRede:15,SaldoDisponivel:16,NsuTransOriginal:17,"
               "NsuHostTransOriginal:18,CodOperadoraCelular:19,CodArea:20,NroTelefone:21,TaxaEmbarque:22,"
               "CodEmpresa:23,NroPdv:24,ValorSaque:25,CnpjCredenciadora:26")
        << terminated({"000-000 = CRT", "001-000 = 7",  "003-000 = 1",  "009-000 = 0",  "010-000 = 15",
                       "010-001 = 13",  "010-002 = 14", "010-003 = 10", "010-007 = 11", "011-000 = 12",
                       "012-001 = 17",  "013-000 = 4",  "018-000 = 7",  "043-000 = 9",  "043-001 = 18",
                       "047-000 = 5",   "050-000 = 8",  "050-001 = 22", "150-000 = 23", "150-001 = 6",
                       "150-003 = 20",  "200-000 = 25", "210-052 = 24", "210-065 = 16", "300-001 = 2",
                       "504-000 = 19",  "600-000 = 26", "701-016 = 3",  "805-000 = 21", "999-999 = 0"});
    QTest::newRow("store receipt keeps the last empty line")
        << R"({"header":"CRT","id":7,"resultado":0,"comprovante_loja":"a\nb\n"})"
        << withLines({"028-000 = 3", "029-001 = a", "029-002 = b", "029-003 = "});
    QTest::newRow("store receipt with CR LF")
        << R"({"header":"CRT","id":7,"resultado":0,"comprovante_loja":"a\r\nb"})"
        << withLines({"028-000 = 2", "029-001 = a", "029-002 = b"});
    QTest::newRow("empty store receipt") << R"({"header":"CRT","id":7,"resultado":0,"comprovante_loja":""})"
                                         << withLines({"028-000 = 1", "029-001 = "});
    QTest::newRow("customer receipt is not written")
        << R"({"header":"CRT","id":7,"resultado":0,"comprovante_cliente":"x"})" << withLines({});
    QTest::newRow("not JSON") << "CRT" << QString();

    const QStringList head{"000-000 = CRT", "001-000 = 7"};
    QTest::newRow("tefdial two copies, store's instalments, a date of last year")
        << R"({"header":"CRT","id":7,"resultado":0,"operacao":2,"comprovante_cliente":"C1\nC2",)"
           R"("comprovante_loja":"L1","dados_transacao":"NroParcelas:3,FormaFinanciamento:E,)"
           R"(NroControle:555,DataTrans:1225,HoraTrans:10:20:30"})"
        << terminated(dial(head + QStringList{"009-000 = 0", "011-000 = 11", "017-000 = 0", "018-000 = 3",
                                              "022-000 = 25122025", "023-000 = 102030", "027-000 = 555",
                                              "028-000 = 2", "029-001 = C1", "029-002 = C2", "029-003 = L1",
                                              "712-000 = 2", "713-001 = C1", "713-002 = C2", "714-000 = 1",
                                              "715-001 = L1", "729-000 = 2", "737-000 = 3"}));
    QTest::newRow("tefdial store copy only, debit, a date of this year")
        << R"({"header":"CRT","id":7,"resultado":0,"operacao":1,"comprovante_loja":"L1\n",)"
           R"("dados_transacao":"DataTrans:0304,HoraTrans:093517"})"
        << terminated(dial(head + QStringList{"009-000 = 0", "011-000 = 20", "022-000 = 04032026",
                                              "023-000 = 093517", "028-000 = 2", "029-001 = L1", "029-002 = ",
                                              "714-000 = 2", "715-001 = L1", "715-002 = ", "729-000 = 2"}));
    QTest::newRow("tefdial cardholder copy only, no kind for a cancellation")
        << R"({"header":"CNC","id":7,"resultado":0,"operacao":12,"comprovante_cliente":"C1"})"
        << terminated(dial({"000-000 = CNC", "001-000 = 7", "009-000 = 0", "028-000 = 1", "029-001 = C1",
                            "712-000 = 1", "713-001 = C1", "729-000 = 2"}));
    QTest::newRow("tefdial declined, issuer's instalments, no receipt")
        << R"({"header":"CRT","id":7,"resultado":5,"operacao":2,)"
           R"("dados_transacao":"NroParcelas:2,FormaFinanciamento:A,DataTrans:9999"})"
        << terminated(dial(head + QStringList{"009-000 = 5", "011-000 = 12", "017-000 = 1", "018-000 = 2"}));
}

void TstProtocoloWriters::sitef() {
    QFETCH(QString, json);
    QFETCH(QString, expected);
    m_protocolo.setCompatibilidade(tefDialRow() ? ProtocoloSitef::Compatibilidade::TefDial
                                                : ProtocoloSitef::Compatibilidade::Padrao);
    compare(m_protocolo.buildSitefResponse(json), expected);
}

// A complete sale of each product against its expected response file.
void TstProtocoloWriters::fullDocuments_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("bridge") << "bridge_venda";
    QTest::newRow("tef") << "tef_venda";
    QTest::newRow("sitef") << "sitef_venda";
    QTest::newRow("tefdial bridge") << "bridge_venda";
    QTest::newRow("tefdial tef") << "tef_venda";
    QTest::newRow("tefdial sitef") << "sitef_venda";
}

void TstProtocoloWriters::fullDocuments() {
    QFETCH(QString, name);
    const auto read = [](const QString &file) {
        QFile f(QStringLiteral(Q7_TEST_DATA "/protocolo/") + file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };
    const QString json = read(name + ".json");
    const QString expected =
        read(name + (tefDialRow() ? ".tefdial.expected" : ".expected")).replace("@YEAR@", thisYear());
    QVERIFY(!json.isEmpty() && !expected.isEmpty());
    m_protocolo.setCompatibilidade(tefDialRow() ? ProtocoloSitef::Compatibilidade::TefDial
                                                : ProtocoloSitef::Compatibilidade::Padrao);

    QString text;
    if (name == "bridge_venda")
        text = m_protocolo.buildBridgeResponse(json);
    else if (name == "tef_venda")
        text = m_protocolo.buildTefResponse(json);
    else
        text = m_protocolo.buildSitefResponse(json);
    QCOMPARE(text, expected);
}

// The writers put their lines in the order of QStringList::sort() without calling it; the
// rows are where a shortcut on the first code units could go wrong.
void TstProtocoloWriters::sortedAsAList_data() {
    m_protocolo.setCompatibilidade(ProtocoloSitef::Compatibilidade::Padrao);
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("terminatedLines");

    QJsonArray texts;
    QStringList block;
    for (int i = 1; i <= 1005; ++i) {
        texts.append(QString::number(i % 7));
        block << QStringLiteral("711-%1 = %2").arg(i, 3, 10, QLatin1Char('0')).arg(i % 7);
    }
    const QString bridge = QString::fromUtf8(
        QJsonDocument(QJsonObject{{"comprovanteReduzidoPortador", texts}}).toJson(QJsonDocument::Compact));
    QTest::newRow("positions past 999") << m_protocolo.buildBridgeResponse(bridge)
                                        << block + QStringList{"710-000 = 1005", "999-999 = 0"} << false;

    // U+FFFD comes after the surrogate pair of U+1F600 by code unit, before it by code point.
    const QStringList values{"b", "\uFFFD", "\U0001F600", "a", "ab", "\u00E9", "a b", "0"};
    QStringList items;
    QStringList lines{"000-000 = CRT", "001-000 = 7", "009-000 = 0", "999-999 = 0"};
    for (const QString &value : values) {
        items << "Nsu:" + value;
        lines << "012-000 = " + value;
    }
    const QString sitef = QString::fromUtf8(
        QJsonDocument(
            QJsonObject{{"header", "CRT"}, {"id", 7}, {"resultado", 0}, {"dados_transacao", items.join(',')}})
            .toJson(QJsonDocument::Compact));
    QTest::newRow("one tag, values decide") << m_protocolo.buildSitefResponse(sitef) << lines << true;
}

void TstProtocoloWriters::sortedAsAList() {
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QFETCH(bool, terminatedLines);
    lines.sort();
    QCOMPARE(text, terminatedLines ? terminated(lines) : joined(lines));
}

// 1,000 answers in one millisecond, the library giving no control code, through the
// writers of two monitors (one replacing the other): every code differs.
void TstProtocoloWriters::controlCodesAreUnique() {
    ProtocoloSitef second;
    second.setClock(&fixedClock);
    QSet<QString> codes;
    for (int i = 0; i < 1000; ++i) {
        ProtocoloSitef &writer = i < 500 ? m_protocolo : second;
        writer.setCompatibilidade(ProtocoloSitef::Compatibilidade::TefDial);
        const QString text = i % 3 == 0   ? writer.buildBridgeResponse(R"({"q7_bridge_code":0})")
                             : i % 3 == 1 ? writer.buildTefResponse(R"({"header":"CRT"})")
                                          : writer.buildSitefResponse(R"({"header":"CRT"})");
        codes.insert(QRegularExpression("027-000 = ([0-9]+)\r").match(text).captured(1));
    }
    codes.remove(QString());
    QCOMPARE(codes.size(), 1000);
}

QTEST_APPLESS_MAIN(TstProtocoloWriters)
#include "tst_protocolo_writers.moc"
