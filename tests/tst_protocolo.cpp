#include "exchange/ProtocoloSitef.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QtTest>

// The exchange vocabulary: request file text in, request document (compact JSON) out; response
// documents in, response file texts out, compared whole.
namespace {

QString readData(const QString &name) {
    QFile file(QStringLiteral(Q7_TEST_DATA "/protocolo/") + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString request(const char *header, int operacao,
                const char *params = R"("identificacao":"42","registro_final":"0")") {
    return QStringLiteral(R"({"header":"%1","operacao":%2,"parametros":{%3}})")
        .arg(QLatin1String(header))
        .arg(operacao)
        .arg(QString::fromUtf8(params));
}

// Rows named "tefdial ..." run in the TEF Dial layout, against this clock.
QDateTime fixedClock() {
    return QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9));
}

// The lines of a TEF Dial response ("a|b|..."), and for the tags they do not name: Real, the
// clock's date and time, a control code of the service's own (@CODE@), no confirmation needed.
QString dial(const QString &lines) {
    QString all = lines;
    for (const char *line :
         {"004-000 = 0", "022-000 = 05032026", "023-000 = 140709", "027-000 = @CODE@", "729-000 = 1"})
        if (!(QLatin1Char('|') + lines).contains(QLatin1Char('|') + QLatin1String(line, 10)))
            all += QLatin1Char('|') + QLatin1String(line);
    return all;
}

} // namespace

class TestProtocolo : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_protocolo.setClock(&fixedClock); }

    // The request document, and where a row names one, a diagnostic the reader must tell.
    void parseRequest_data() {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("told");
        const auto row = [](const char *name, const QString &content, const QString &expected,
                            QtMsgType type = QtInfoMsg, const char *told = "") {
            QTest::newRow(name) << content << expected << int(type) << QString::fromUtf8(told);
        };
        const QString end = QStringLiteral("\n001-000 = 42\n999-999 = 0");
        const QString noHeader = QStringLiteral(R"({"msg_erro":"Chave header[000-000] não encontrada",)");
        row("lower-case code, digit values stay strings", "000-000 = crt" + end, request("CRT", 0));
        row("values: equals kept, JSON escapes, blanks collapse, 12-digit amount; unknown keys skipped",
            "000-000 = CRT\n001-000 = a=b\n   002-000   =   a\"b\\c\x01\bd  çã   \t\n123-456 = "
            "x\nidentificacao = 1\n003-000 = 000000001000\n999-999 = 0",
            request("CRT", 0,
                    "\"documento\":\"a\\\"b\\\\c\\u0001\\bd "
                    "çã\",\"identificacao\":\"a=b\",\"registro_final\":\"0\",\"valor\":\"000000001000\""),
            QtWarningMsg, "Documento fora do especificado. CHAVE: 123-456");
        row("ATV refuses document and amount; no blanks around the equals sign",
            "000-000=ATV\n002-000=9\n003-000=1000\n001-000=42\n999-999=0", request("ATV", -20));
        row("empty file", "", noHeader + R"("parametros":{}})");
        row("CR LF line ends, blank lines skipped",
            "000-000 = CRT\r\n\r\n \r\n001-000 = 42\r\n999-999 = 0\r\n\r\n", request("CRT", 0));
        row("line without equals stops reading", "001-000 = 1\nXYZ\n999-999 = 0\n000-000 = CRT",
            R"({"msg_erro":"Arquivo com formato inválido","parametros":{"identificacao":"1"}})",
            QtCriticalMsg, "Erro no arquivo: Arquivo com formato inválido");
        row("empty identification is refused", "000-000 = CRT\n001-000 =\n999-999 = 0",
            R"({"header":"CRT","msg_erro":"Chave identificacao[001-000] não encontrada","operacao":0,)"
            R"("parametros":{"registro_final":"0"}})",
            QtCriticalMsg, "Chave identificacao[001-000] não encontrada");
        row("missing final record", "000-000 = CRT\n001-000 = 42",
            R"({"header":"CRT","msg_erro":"Chave registro final [999-999] não encontrada","operacao":0,)"
            R"("parametros":{"identificacao":"42"}})");
        row("ADM", "000-000 = ADM" + end, request("ADM", -5));
        row("the code governs every line, also one before it; a tag repeated as it is is harmless",
            "004-000 = 0\n000-000 = CNC\n000-000 = CNC" + end, request("CNC", 12));
        row("CR-only line ends", "000-000 = CRT\r001-000 = 42\r999-999 = 0\r", request("CRT", 0));
        row("an undo's fields before its code are taken, its amount is not",
            "027-000 = F\n012-000 = 77\n003-000 = 1000\n000-000 = NCN" + end,
            request("NCN", -7,
                    R"("finalizacao":"F","identificacao":"42","numero_transacao":"77",)"
                    R"("registro_final":"0")"));
        row("amount after CNF is refused", "000-000 = CNF\n003-000 = 1000" + end, request("CNF", -6));
        const QString refused = R"({"header":"CRT","msg_erro":"%1","operacao":0,"parametros":)"
                                R"({"identificacao":"42","registro_final":"0","valor":"%2"}})";
        const char *repeated = "Campo 000-000 repetido com valores diferentes; envie-o uma só vez";
        row("two different codes refuse the request", "000-000 = ADM\n003-000 = 1\n000-000 = CRT" + end,
            refused.arg(repeated, "1"), QtCriticalMsg, repeated);
        const char *amount = "Campo 003-000 (valor) inválido; envie de 1 a 12 dígitos, em centavos";
        for (const char *valor : {"-1000", "10,00", "1234567890123", "10 00"})
            row(qPrintable(QStringLiteral("amount %1 refused").arg(valor)),
                "000-000 = CRT\n003-000 = " + QString(valor) + end, refused.arg(amount, valor), QtCriticalMsg,
                amount);
        row("before CRT: currency taken, cheque refused", "004-000 = 0\n005-000 = X\n000-000 = CRT" + end,
            request("CRT", 0, R"("identificacao":"42","moeda":"0","registro_final":"0")"));
        row("cancellation fields for a code containing CNC",
            "000-000 = XCNC\n010-000 = REDE\n012-000 = 77\n022-000 = 20122018\n023-000 = 093517\n027-000 = "
            "F\n013-000 = 5548" +
                end,
            request(
                "XCNC", -20,
                R"("codigo_autorizacao":"5548","data_transacao":"20122018","finalizacao":"F",)"
                R"("hora_transacao":"093517",)"
                R"("identificacao":"42","nome_rede":"REDE","numero_transacao":"77","registro_final":"0")"),
            QtDebugMsg, "Identificador [XCNC] fora do especificado");
        row("confirmation keeps date and time out",
            "000-000 = CNF\n022-000 = 20122018\n023-000 = 093517\n027-000 = F\n010-000 = REDE" + end,
            request("CNF", -6,
                    R"("finalizacao":"F","identificacao":"42","nome_rede":"REDE","registro_final":"0")"));
        row("undo takes network, NSU and control code",
            "000-000 = NCN\n010-000 = REDE\n012-000 = 77\n027-000 = F\n013-000 = 1" + end,
            request("NCN", -7,
                    R"("finalizacao":"F","identificacao":"42","nome_rede":"REDE","numero_transacao":"77",)"
                    R"("registro_final":"0")"));
        row("cheque fields only for a code containing CHQ",
            "005-000 = C\n006-000 = F\n000-000 = CHQ\n007-000 = 123\n008-000 = 01012030" + end,
            request("CHQ", -20,
                    R"("cmc7":"C","data_cheque":"01012030","documento_pessoa":"123",)"
                    R"("identificacao":"42","registro_final":"0","tipo_pessoa":"F")"));
        row("fields accepted for every operation",
            "000-000 = ATV\n210-052 = 1\n731-000 = 2\n018-000 = 3\n017-000 = 4\n011-000 = 5\n375-017 = 6\n"
            "375-018 = 7\n375-016 = 8\n375-019 = 9\n718-000 = 10\n375-024 = 11\n375-025 = 12" +
                end,
            request("ATV", -20,
                    R"("adm_senha":"12","adm_usuario":"11","aplicacao":"6","codigo_transacao":"5",)"
                    R"("estabelecimento":"8","identificacao":"42","loja":"9","numero_pdv":"1",)"
                    R"("quantidade_parcelas":"3","registro_final":"0","terminal":"10","tipo_cartao":"2",)"
                    R"("tipo_parcelamento":"4","versao_aplicacao":"7")"));
    }
    void parseRequest() {
        QFETCH(QString, content);
        QFETCH(QString, expected);
        QFETCH(int, type);
        QFETCH(QString, told);
        if (!told.isEmpty())
            QTest::ignoreMessage(QtMsgType(type), told.toUtf8().constData());
        QCOMPARE(m_protocolo.parseRequest(content), expected);
    }

    void lineBuilders() {
        QCOMPARE(m_protocolo.operationLine("000-000", "CANCELAMENTO"), QStringList{"000-000 = CNC"});
        QCOMPARE(m_protocolo.dateTimeLines("022-000|023-000", "20122018  093517"),
                 (QStringList{"022-000 = 20122018", "023-000 = "}));
        QCOMPARE(m_protocolo.lineBlock("710-000|711-xxx", QJsonArray{"a\nb", 5, " "}),
                 (QStringList{"711-001 = ab", "711-002 = ", "711-003 =  ", "710-000 = 3"}));
    }

    // 'b' bridge, 't' Tef01, 's' SiTef layout. The expected lines are given as "a|b|...", in
    // any order, without the final "999-999 = 0"; a null text for no response.
    void writers_data() {
        QTest::addColumn<char>("writer");
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, char writer, const QString &json, const QString &lines) {
            QStringList list = lines.split(QLatin1Char('|'), Qt::SkipEmptyParts);
            list << QStringLiteral("999-999 = 0");
            list.sort();
            const QString text = list.join(QStringLiteral("\r\n")) + (writer == 's' ? "\r\n" : "");
            QTest::newRow(name) << writer << json << (lines.isNull() ? QString() : text);
        };
        const auto b = [&row](const char *name, const char *json, const QString &lines) {
            row(name, 'b', QString::fromUtf8(json), lines);
        };
        b("administrative; issuer's financing; no blank leaves the time empty; line breaks never reach a "
          "value; members outside the dictionary skipped",
          R"({"operacao":"ADMINISTRATIVA","tipoFinanciamento":"parcelado_Emissor","dataHoraTransacao":"20122018",)"
          R"("comprovanteReduzidoPortador":["a\nb"],"mensagemResultado":"NEGADA\r\n009-000 = 0\n","foo":1,)"
          R"("q7_bridge_CODE":2})",
          "000-000 = ADM|017-000 = 1|022-000 = 20122018|023-000 = |030-000 = NEGADA009-000 = 0|710-000 = 1|"
          "711-001 = ab");
        b("other operation name unchanged; store's financing; reduced receipt empty; null members skipped",
          R"({"operacao":"venda","tipoFinanciamento":"PARCELADO_ESTABELECIMENTO","comprovanteReduzidoPortador":[],)"
          R"("q7_bridge_msg":null,"q7_bridge_code":null,"resultadoTransacao":"APROVADA"})",
          "000-000 = venda|009-000 = -1|017-000 = 0|710-000 = 0");
        b("copies compose the complete receipt",
          R"({"comprovanteDiferenciadoPortador":["P1"],"comprovanteDiferenciadoLoja":["L1","L2"]})",
          "028-000 = 3|029-001 = L1|029-002 = L2|029-003 = P1|712-000 = 1|713-001 = P1|714-000 = 2|715-001 = "
          "L1|715-002 = L2");
        b("a complete receipt of its own wins",
          R"({"comprovanteCompleto":["C1"],"comprovanteDiferenciadoLoja":["L1"]})",
          "028-000 = 1|029-001 = C1|714-000 = 1|715-001 = L1");
        b("an empty complete receipt is replaced, not doubled",
          R"({"comprovanteCompleto":[],"comprovanteDiferenciadoLoja":["L1"]})",
          "028-000 = 1|029-001 = L1|714-000 = 1|715-001 = L1");
        b("blank texts among others are kept", R"({"comprovanteCompleto":[" ",""]})",
          "028-000 = 2|029-001 =  |029-002 = ");
        b("one blank store copy gives no receipt", R"({"comprovanteDiferenciadoLoja":[" "]})", "");
        b("a result as text is its number, a code too; wrong types take defaults; negative integers",
          R"({"q7_bridge_code":"-42","numeroParcelas":2.5,"resultadoTransacao":" 7",)"
          R"("q7_cupom_fiscal":1,"q7_bridge_msg":3})",
          "009-000 = 7|018-000 = 0|375-000 = -42|375-001 = |375-002 = false");
        b("empty document", "{}", QString());
        b("the request's fiscal document where the library's is empty",
          R"({"documentoFiscal":"","requisicao":{"documento":"NF 5"}})", "002-000 = NF 5");
        b("tefdial the library's fiscal document over the request's",
          R"({"documentoFiscal":"9","requisicao":{"documento":"NF 5"}})", dial("002-000 = 9"));
        b("tefdial issuer's instalments, the library's date and confirmation",
          R"({"resultadoTransacao":0,"tipoCartao":"CREDITO","tipoFinanciamento":"PARCELADO_EMISSOR",)"
          R"("numeroParcelas":3,"dataHoraTransacao":"25/12/2026 14:30:00",)"
          R"("identificadorConfirmacaoTransacao":"X1","requerConfirmacao":true,"codigoMoeda":"986"})",
          dial("009-000 = 0|011-000 = 12|017-000 = 1|018-000 = 3|022-000 = 25122026|023-000 = 143000|"
               "027-000 = X1|729-000 = 2|731-000 = 1"));
        b("tefdial one copy, a card of no name: the request's debit; dollar, no confirmation",
          R"({"comprovanteDiferenciadoLoja":["L1"],"tipoCartao":"CARTAO","requerConfirmacao":false,)"
          R"("codigoMoeda":"840","identificadorConfirmacaoTransacao":"","requisicao":{"tipo_cartao":"2"}})",
          dial("004-000 = 1|011-000 = 20|028-000 = 1|029-001 = L1|714-000 = 1|715-001 = L1|731-000 = 2"));
        b("tefdial store instalments, ISO date, accented card",
          R"({"tipoCartao":"Crédito","tipoFinanciamento":"PARCELADO_ESTABELECIMENTO","numeroParcelas":2,)"
          R"("dataHoraTransacao":"2026-12-25T14:30:00","codigoMoeda":"XYZ"})",
          "011-000 = 11|017-000 = 0|018-000 = 2|022-000 = 25122026|023-000 = 143000|027-000 = @CODE@|"
          "729-000 = 1|731-000 = 1");
        b("tefdial instalments nobody says whose: the store's; no such date, the clock's",
          R"({"tipoCartao":"CREDITO","numeroParcelas":4,"dataHoraTransacao":"31022026 101010"})",
          dial("011-000 = 11|017-000 = 0|018-000 = 4|023-000 = 101010|731-000 = 1"));
        b("tefdial cancellation, no sale: the NSU the request gives, the library's date as ddMMhhmmss",
          R"({"operacao":"CANCELAMENTO","tipoCartao":"CREDITO","numeroParcelas":1,"nsuTransacaoOriginal":)"
          R"("3","dataHoraTransacaoOriginal":"07/12/2026 14:33:48","requisicao":{"numero_transacao":"77"}})",
          dial("000-000 = CNC|025-000 = 77|026-000 = 0712143348|043-001 = 3|731-000 = 1"));

        const auto t = [&row](const char *name, const char *tef, const QString &lines) {
            row(name, 't',
                QStringLiteral(R"({"header":"CRT","id":7,"codigo":0,"mensagem":"ok","tef":%1})")
                    .arg(QString::fromUtf8(tef)),
                QStringLiteral("000-000 = CRT|001-000 = 7|375-000 = 0|375-001 = ok|") + lines +
                    (lines.contains("009-000") ? "" : "|009-000 = -1") +
                    (lines.contains("030-000") ? "" : "|030-000 = ok"));
        };
        t("no tef member", "null", "");
        row("missing top-level members", 't', R"({"tef":[]})",
            "000-000 = |001-000 = |009-000 = -1|030-000 = Transação não aprovada|375-000 = 0|375-001 = ");
        t("store copy alone makes the complete receipt; other payment gives no instalments",
          R"({"comprovanteDiferenciadoLoja":"A\r\nB","formaPagamento":"parcelado"})",
          "028-000 = 2|029-001 = A|029-002 = B|714-000 = 2|715-001 = A|715-002 = B");
        t("cash payment gives one instalment; empty financing word; line feeds removed; a number result",
          R"({"formaPagamento":"A VISTA","tipoFinanciamento":"","mensagemResultado":"A\nB","resultadoTransacao":0})",
          "009-000 = 0|017-000 = 1|018-000 = 1|030-000 = AB");
        t("instalments given win over cash payment", R"({"formaPagamento":"a vista","numeroParcelas":"3"})",
          "018-000 = 3");
        row("empty document", 't', "{}", QString());
        t("tefdial the request's fiscal document", R"({},"requisicao":{"documento":"NF 5"})",
          dial("002-000 = NF 5"));
        t("tefdial a count of instalments wins over a cash payment, the library's id",
          R"({"resultadoTransacao":"0","tipoCartao":"CREDITO","formaPagamento":"A vista",)"
          R"("tipoFinanciamento":"Administradora","numeroParcelas":"3","uniqueID":"U-1"})",
          dial("009-000 = 0|011-000 = 12|017-000 = 1|018-000 = 3|027-000 = U-1|375-004 = U-1|731-000 = 1"));
        t("tefdial one copy, declined, a card of no name: the request's credit, a cash payment for its count",
          R"({"comprovanteDiferenciadoLoja":"A\r\nB","resultadoTransacao":"5","tipoCartao":"CARTAO",)"
          R"("formaPagamento":"A vista"},"requisicao":{"tipo_cartao":"1","quantidade_parcelas":"3"})",
          dial("009-000 = 5|011-000 = 10|028-000 = 2|029-001 = A|029-002 = B|714-000 = 2|715-001 = A|715-002 "
               "= B|731-000 = 1"));
        t("tefdial a voucher: the library's store over the request's issuer, the request's count",
          R"({"tipoCartao":"VOUCHER","tipoFinanciamento":"Estabelecimento"},)"
          R"("requisicao":{"quantidade_parcelas":"4","tipo_parcelamento":"1"})",
          dial("017-000 = 0|018-000 = 4|731-000 = 3"));
        row("tefdial cancellation: the request's NSU, date and time", 't',
            R"({"header":"CNC","tef":{},"requisicao":{"numero_transacao":"77","data_transacao":"06122026",)"
            R"("hora_transacao":"101500"}})",
            dial("000-000 = CNC|001-000 = |009-000 = -1|025-000 = 77|026-000 = 0612101500|"
                 "030-000 = Transação não aprovada|375-000 = 0|375-001 = "));
        row("tefdial a refusal: a decline with its message, the identification as written", 't',
            R"({"header":"CRT","id":"00777","codigo":-1,"mensagem":"Biblioteca Q7_Tef não carregada"})",
            dial("000-000 = CRT|001-000 = 00777|009-000 = -1|030-000 = Biblioteca Q7_Tef não carregada|"
                 "375-000 = -1|375-001 = Biblioteca Q7_Tef não carregada"));

        const auto s = [&row](const char *name, const QString &members, const QString &lines) {
            row(name, 's', QStringLiteral(R"({"header":"CRT","id":"007","resultado":0%1})").arg(members),
                QStringLiteral("000-000 = CRT|001-000 = 007|009-000 = 0|") + lines);
        };
        const auto items = [&s](const char *name, const char *items, const QString &lines) {
            s(name, QStringLiteral(R"(,"dados_transacao":"%1")").arg(QString::fromUtf8(items)), lines);
        };
        s("fixed members; empty document and operator text skipped",
          R"(,"documento_fiscal_vinculado":"","texto_operador":5)", "");
        row("not an object: a decline", 's', "[]",
            "000-000 = |001-000 = |009-000 = -1|030-000 = Transação não aprovada");
        items(
            "date gets the current year; time keeps its colons; white space normalised; items that write "
            "nothing",
            "DataTrans:2512,HoraTrans:10:20:30, Nsu :\t12  34 ,Nsu:,IdTerminal:5,Foo:1,nsu:2,CodEstabCielo:3,"
            "LogoPan:4,CodIf:5,CodAutenticacao:6,Nsu,,",
            "012-000 = 12 34|022-000 = 1225" + QString::number(QDate::currentDate().year()) +
                "|023-000 = 10:20:30");
        items("track without a separator; financing codes",
              "Trilha02:55,FormaFinanciamento:E,FormaFinanciamento:a",
              "017-000 = 0|017-000 = a|210-004 = 55");
        items("plain items the sale has not",
              "NsuTransOriginal:17,NsuHostTransOriginal:18,CodOperadoraCelular:19,CodArea:20,NroTelefone:21,"
              "TaxaEmbarque:22,ValorSaque:25",
              "012-001 = 17|043-001 = 18|050-001 = 22|150-003 = 20|200-000 = 25|504-000 = 19|805-000 = 21");
        s("store receipt with CR LF", R"(,"comprovante_loja":"a\r\nb")",
          "028-000 = 2|029-001 = a|029-002 = b");
        s("empty store receipt; customer receipt not written",
          R"(,"comprovante_loja":"","comprovante_cliente":"x")", "028-000 = 1|029-001 = ");
        row("not JSON", 's', "CRT", QString());
        s("tefdial the request's fiscal document", R"(,"requisicao":{"documento":"NF 5"})",
          dial("002-000 = NF 5"));
        s("tefdial store's instalments, a date of last year",
          R"(,"operacao":2,"dados_transacao":"NroParcelas:3,FormaFinanciamento:E,NroControle:555,)"
          R"(DataTrans:1225,HoraTrans:10:20:30")",
          dial("011-000 = 11|017-000 = 0|018-000 = 3|022-000 = 25122025|023-000 = 102030|027-000 = "
               "555|731-000 = 1"));
        s("tefdial store copy only, debit, a date of this year",
          R"(,"operacao":1,"comprovante_loja":"L1\n","dados_transacao":"DataTrans:0304,HoraTrans:093517")",
          dial("011-000 = 20|022-000 = 04032026|023-000 = 093517|028-000 = 2|029-001 = L1|029-002 = |714-000 "
               "= 2|715-001 = L1|715-002 = |729-000 = 2|731-000 = 2"));
        row("tefdial cardholder copy only, a cancellation: the library's NSU, a date without time", 's',
            R"({"header":"CNC","id":7,"resultado":0,"operacao":12,"comprovante_cliente":"C1",)"
            R"("dados_transacao":"NsuTransOriginal:5","requisicao":{"data_transacao":"06122026"}})",
            dial("000-000 = CNC|001-000 = 7|009-000 = 0|012-001 = 5|025-000 = 5|028-000 = 1|029-001 = C1|"
                 "712-000 = 1|713-001 = C1|729-000 = 2"));
        row("tefdial declined, issuer's instalments, no receipt", 's',
            R"({"header":"CRT","id":7,"resultado":5,"operacao":2,)"
            R"("dados_transacao":"NroParcelas:2,FormaFinanciamento:A,DataTrans:9999"})",
            dial("000-000 = CRT|001-000 = 7|009-000 = 5|011-000 = 12|017-000 = 1|018-000 = 2|"
                 "030-000 = Transação não aprovada|731-000 = 1"));

        // The writers sort their lines as QStringList::sort() does, without calling it: where
        // a shortcut on the first code units could go wrong.
        QJsonArray texts;
        QStringList block;
        for (int i = 1; i <= 1005; ++i) {
            texts.append(QString::number(i % 7));
            block << QStringLiteral("711-%1 = %2").arg(i, 3, 10, QLatin1Char('0')).arg(i % 7);
        }
        row("positions past 999", 'b',
            QString::fromUtf8(QJsonDocument(QJsonObject{{"comprovanteReduzidoPortador", texts}})
                                  .toJson(QJsonDocument::Compact)),
            block.join('|') + "|710-000 = 1005");
        // U+FFFD comes after the surrogate pair of U+1F600 by code unit, before it by code point.
        QStringList values{"b", "\uFFFD", "\U0001F600", "a", "ab", "\u00E9", "a b", "0"};
        s("one tag, values decide", ",\"dados_transacao\":\"Nsu:" + values.join(",Nsu:") + '"',
          "012-000 = " + values.join("|012-000 = "));

        // A sale of each product against its expected response file.
        for (const char *name : {"bridge_venda", "tef_venda", "sitef_venda"}) {
            for (const QString kind : {"", "tefdial "}) {
                const QString expected =
                    readData(name + QStringLiteral(".") + (kind.isEmpty() ? "" : "tefdial.") + "expected");
                QTest::newRow(qPrintable(kind + name))
                    << name[0] << readData(name + QStringLiteral(".json"))
                    << QString(expected).replace("@YEAR@", QString::number(QDate::currentDate().year()));
            }
        }
    }
    void writers() {
        QFETCH(char, writer);
        QFETCH(QString, json);
        QFETCH(QString, expected);
        m_protocolo.setCompatibilidade(QByteArray(QTest::currentDataTag()).startsWith("tefdial")
                                           ? ProtocoloSitef::Compatibilidade::TefDial
                                           : ProtocoloSitef::Compatibilidade::Padrao);
        const QString text = writer == 'b'   ? m_protocolo.buildBridgeResponse(json)
                             : writer == 't' ? m_protocolo.buildTefResponse(json)
                                             : m_protocolo.buildSitefResponse(json);
        // A control code of the service's own: digits, from the clock on.
        const QString code = QRegularExpression("027-000 = ([^\r]*)").match(text).captured(1);
        if (expected.contains("@CODE@"))
            QVERIFY2(QRegularExpression("^[0-9]+$").match(code).hasMatch() &&
                         code.toLongLong() >= fixedClock().toMSecsSinceEpoch(),
                     qPrintable(code));
        QCOMPARE(text, QString(expected).replace("@CODE@", code));
    }

    // 1,000 answers in one millisecond, the library giving no control code, through the
    // writers of two monitors (one replacing the other): every code differs.
    void controlCodesAreUnique() {
        ProtocoloSitef second;
        second.setClock(&fixedClock);
        QSet<QString> codes;
        for (int i = 0; i < 1000; ++i) {
            ProtocoloSitef &writer = i < 500 ? m_protocolo : second;
            writer.setCompatibilidade(ProtocoloSitef::Compatibilidade::TefDial);
            const QString text = i % 3 == 0   ? writer.buildBridgeResponse(R"({"q7_bridge_code":0})")
                                 : i % 3 == 1 ? writer.buildTefResponse(R"({"header":"CRT"})")
                                              : writer.buildSitefResponse(R"({"header":"CRT"})");
            codes << QRegularExpression("027-000 = ([0-9]+)\r").match(text).captured(1);
        }
        codes.remove(QString());
        QCOMPARE(codes.size(), 1000);
    }

private:
    ProtocoloSitef m_protocolo;
};

QTEST_APPLESS_MAIN(TestProtocolo)
#include "tst_protocolo.moc"
