#include "exchange/ProtocoloSitef.h"

#include <QFile>
#include <QtTest>

// Request file text in, request document (compact JSON text) out.
class TstProtocoloReader : public QObject {
    Q_OBJECT

private slots:
    void parseRequest_data();
    void parseRequest();
    void saleRequestFile();
    void diagnostics_data();
    void diagnostics();

private:
    ProtocoloSitef m_protocolo;
};

static QString withParams(const QString &header, int operacao, const QString &params) {
    return QStringLiteral(R"({"header":"%1","operacao":%2,"parametros":{%3}})")
        .arg(header)
        .arg(operacao)
        .arg(params);
}

static const QString minimalParams = QStringLiteral(R"("identificacao":"42","registro_final":"0")");

void TstProtocoloReader::parseRequest_data() {
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("expected");

    QTest::newRow("lower-case code, digit values stay strings")
        << "000-000 = crt\n001-000 = 42\n999-999 = 0" << withParams("CRT", 0, minimalParams);
    QTest::newRow("empty file") << ""
                                << R"({"msg_erro":"Chave header[000-000] não encontrada","parametros":{}})";
    QTest::newRow("CR LF line ends, blank lines skipped")
        << "000-000 = CRT\r\n\r\n001-000 = 42\r\n999-999 = 0\r\n\r\n"
        << withParams("CRT", 0, minimalParams);
    QTest::newRow("empty lines are skipped") << "\n000-000 = CRT\n\n\n001-000 = 42\n999-999 = 0\n\n"
                                             << withParams("CRT", 0, minimalParams);
    QTest::newRow("no blanks around the equals sign")
        << "000-000=ATV\n001-000=42\n999-999=0" << withParams("ATV", -20, minimalParams);
    QTest::newRow("white-space runs collapse to one blank")
        << "000-000 = CRT\n001-000 = 42\n   003-000   =   10   00   \n\t999-999\t=\t0\t"
        << withParams("CRT", 0, R"("identificacao":"42","registro_final":"0","valor":"10 00")");
    QTest::newRow("equals sign inside a value is kept")
        << "000-000 = CRT\n001-000 = a=b\n999-999 = 0"
        << withParams("CRT", 0, R"("identificacao":"a=b","registro_final":"0")");

    QTest::newRow("JSON escapes in values")
        << "000-000 = CRT\n001-000 = a\"b\\c\x01\bd çã\n999-999 = 0"
        << withParams("CRT", 0, R"("identificacao":"a\"b\\c\u0001\bd çã","registro_final":"0")");

    QTest::newRow("line without equals stops reading")
        << "001-000 = 1\nXYZ\n999-999 = 0\n000-000 = CRT"
        << R"({"msg_erro":"Arquivo com formato inválido","parametros":{"identificacao":"1"}})";
    QTest::newRow("format error wins over a missing header")
        << "000-000 = CRT\nXYZ"
        << R"({"header":"CRT","msg_erro":"Arquivo com formato inválido","operacao":0,)"
           R"("parametros":{}})";
    QTest::newRow("empty code is no header")
        << "000-000 =\n001-000 = 42\n999-999 = 0"
        << R"({"msg_erro":"Chave header[000-000] não encontrada",)"
           R"("parametros":{"identificacao":"42","registro_final":"0"}})";
    QTest::newRow("empty identification is refused")
        << "000-000 = CRT\n001-000 =\n999-999 = 0"
        << R"({"header":"CRT","msg_erro":"Chave identificacao[001-000] não encontrada","operacao":0,)"
           R"("parametros":{"registro_final":"0"}})";
    QTest::newRow("missing final record")
        << "000-000 = CRT\n001-000 = 42"
        << R"({"header":"CRT","msg_erro":"Chave registro final [999-999] )"
           R"(não encontrada","operacao":0,"parametros":{"identificacao":"42"}})";
    QTest::newRow("header is checked before identification")
        << "999-999 = 0"
        << R"({"msg_erro":"Chave header[000-000] não encontrada","parametros":{"registro_final":"0"}})";

    QTest::newRow("ADM") << "000-000 = ADM\n001-000 = 42\n999-999 = 0"
                         << withParams("ADM", -5, minimalParams);
    QTest::newRow("CNC") << "000-000 = CNC\n001-000 = 42\n999-999 = 0"
                         << withParams("CNC", 12, minimalParams);
    QTest::newRow("CNF") << "000-000 = CNF\n001-000 = 42\n999-999 = 0"
                         << withParams("CNF", -6, minimalParams);
    QTest::newRow("NCN") << "000-000 = ncn\n001-000 = 42\n999-999 = 0"
                         << withParams("NCN", -7, minimalParams);
    QTest::newRow("unknown code") << "000-000 = XYZ\n001-000 = 42\n999-999 = 0"
                                  << withParams("XYZ", -20, minimalParams);
    QTest::newRow("later code wins and governs what follows")
        << "000-000 = CRT\n004-000 = 0\n000-000 = CNC\n004-000 = 1\n001-000 = 42\n999-999 = 0"
        << withParams("CNC", 12, R"("identificacao":"42","moeda":"0","registro_final":"0")");
    QTest::newRow("later line replaces an earlier one")
        << "000-000 = CRT\n001-000 = 1\n001-000 = 42\n999-999 = 0" << withParams("CRT", 0, minimalParams);

    QTest::newRow("amount before CNF is accepted")
        << "003-000 = 1000\n000-000 = CNF\n001-000 = 42\n999-999 = 0"
        << withParams("CNF", -6, R"("identificacao":"42","registro_final":"0","valor":"1000")");
    QTest::newRow("amount after CNF is refused")
        << "000-000 = CNF\n003-000 = 1000\n001-000 = 42\n999-999 = 0" << withParams("CNF", -6, minimalParams);
    QTest::newRow("ATV refuses document and amount")
        << "000-000 = ATV\n002-000 = 9\n003-000 = 1000\n001-000 = 42\n999-999 = 0"
        << withParams("ATV", -20, minimalParams);
    QTest::newRow("ADM keeps the amount out, CRT lets it in")
        << "000-000 = ADM\n003-000 = 1\n000-000 = CRT\n003-000 = 2\n001-000 = 42\n999-999 = 0"
        << withParams("CRT", 0, R"("identificacao":"42","registro_final":"0","valor":"2")");
    QTest::newRow("currency only before no code is refused")
        << "004-000 = 0\n000-000 = CRT\n001-000 = 42\n999-999 = 0" << withParams("CRT", 0, minimalParams);
    QTest::newRow("cancellation fields for a code containing CNC")
        << "000-000 = XCNC\n010-000 = REDE\n012-000 = 77\n022-000 = 20122018\n023-000 = 093517\n027-000 = F\n"
           "001-000 = 42\n999-999 = 0"
        << withParams(
               "XCNC", -20,
               R"("data_transacao":"20122018","finalizacao":"F","hora_transacao":"093517",)"
               R"("identificacao":"42","nome_rede":"REDE","numero_transacao":"77","registro_final":"0")");
    QTest::newRow("confirmation keeps date and time out")
        << "000-000 = CNF\n022-000 = 20122018\n023-000 = 093517\n027-000 = F\n010-000 = REDE\n"
           "001-000 = 42\n999-999 = 0"
        << withParams("CNF", -6,
                      R"("finalizacao":"F","identificacao":"42","nome_rede":"REDE",)"
                      R"("registro_final":"0")");
    QTest::newRow("undo takes network and NSU only")
        << "000-000 = NCN\n010-000 = REDE\n012-000 = 77\n027-000 = F\n001-000 = 42\n999-999 = 0"
        << withParams("NCN", -7,
                      R"("identificacao":"42","nome_rede":"REDE","numero_transacao":"77",)"
                      R"("registro_final":"0")");
    QTest::newRow("cheque fields only for a code containing CHQ")
        << "000-000 = CHQ\n005-000 = C\n006-000 = F\n007-000 = 123\n008-000 = 01012030\n000-000 = CRT\n"
           "005-000 = X\n001-000 = 42\n999-999 = 0"
        << withParams("CRT", 0,
                      R"("cmc7":"C","data_cheque":"01012030","documento_pessoa":"123",)"
                      R"("identificacao":"42","registro_final":"0","tipo_pessoa":"F")");
    QTest::newRow("fields accepted for every operation")
        << "000-000 = ATV\n210-052 = 1\n731-000 = 2\n018-000 = 3\n017-000 = 4\n011-000 = 5\n375-017 = 6\n"
           "375-018 = 7\n375-016 = 8\n375-019 = 9\n718-000 = 10\n375-024 = 11\n375-025 = 12\n001-000 = 42\n"
           "999-999 = 0"
        << withParams("ATV", -20,
                      R"("adm_senha":"12","adm_usuario":"11","aplicacao":"6","codigo_transacao":"5",)"
                      R"("estabelecimento":"8","identificacao":"42","loja":"9","numero_pdv":"1",)"
                      R"("quantidade_parcelas":"3","registro_final":"0","terminal":"10","tipo_cartao":"2",)"
                      R"("tipo_parcelamento":"4","versao_aplicacao":"7")");
    QTest::newRow("unknown keys and tags with other case are skipped")
        << "000-000 = CRT\n123-456 = x\nidentificacao = 1\n001-000 = 42\n999-999 = 0"
        << withParams("CRT", 0, minimalParams);
}

void TstProtocoloReader::parseRequest() {
    QFETCH(QString, content);
    QFETCH(QString, expected);
    QCOMPARE(m_protocolo.parseRequest(content), expected);
}

// A sale request as a sales application writes it.
void TstProtocoloReader::saleRequestFile() {
    QFile request(QStringLiteral(Q7_TEST_DATA "/protocolo/venda_crt.001"));
    QVERIFY(request.open(QIODevice::ReadOnly));
    QCOMPARE(
        m_protocolo.parseRequest(QString::fromUtf8(request.readAll())),
        withParams("CRT", 0,
                   R"("aplicacao":"AUTOMACAO PDV","documento":"98393","estabelecimento":"LOJA TESTE",)"
                   R"("identificacao":"34504","loja":"01","moeda":"0","numero_pdv":"001",)"
                   R"("registro_final":"0","terminal":"CX01","valor":"1000","versao_aplicacao":"2.1.0")"));
}

void TstProtocoloReader::diagnostics_data() {
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");

    const QString valid = QStringLiteral("\n001-000 = 42\n999-999 = 0");
    QTest::newRow("unknown code") << "000-000 = xyz" + valid << int(QtDebugMsg)
                                  << "Identificador [XYZ] fora do especificado";
    QTest::newRow("refused key") << "000-000 = ATV\n003-000 = 1" + valid << int(QtWarningMsg)
                                 << "Documento fora do especificado. CHAVE: 003-000";
    QTest::newRow("empty value") << "000-000 = CRT\n 002-000 =" + valid << int(QtWarningMsg)
                                 << "Documento fora do especificado. CHAVE: 002-000";
    QTest::newRow("format error") << "000-000 = CRT\nXYZ" << int(QtCriticalMsg)
                                  << "Erro no arquivo: Arquivo com formato inválido";
    QTest::newRow("missing identification") << "000-000 = CRT\n999-999 = 0" << int(QtCriticalMsg)
                                            << "Chave identificacao[001-000] não encontrada";
}

void TstProtocoloReader::diagnostics() {
    QFETCH(QString, content);
    QFETCH(int, type);
    QFETCH(QString, message);
    QTest::ignoreMessage(QtMsgType(type), message.toUtf8().constData());
    m_protocolo.parseRequest(content);
}

QTEST_APPLESS_MAIN(TstProtocoloReader)
#include "tst_protocolo_reader.moc"
