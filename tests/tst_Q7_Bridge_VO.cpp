#include "controllers/Q7_Bridge_VO.h"

#include <QtTest>

class tst_Q7_Bridge_VO : public QObject {
    Q_OBJECT

private slots:
    void defaults();
    void idTransacao_data();
    void idTransacao();
    void pdv_data();
    void pdv();
    void valorTotal_data();
    void valorTotal();
    void tipoCartao_data();
    void tipoCartao();
    void financiamento_data();
    void financiamento();
    void dataHora_data();
    void dataHora();
};

void tst_Q7_Bridge_VO::defaults() {
    const Q7_Bridge_VO record;
    QCOMPARE(record.operacao(), QString());
    QCOMPARE(record.idTransacao(), -1);
    QCOMPARE(record.pdv(), QStringLiteral("q7"));
    QCOMPARE(record.valorTotal(), QString());
    QCOMPARE(record.tipoCartao(), 0);
    QCOMPARE(record.tipoFinanciamento(), 0);
    QCOMPARE(record.numParcelas(), 0);
    QCOMPARE(record.nsu(), QString());
    QCOMPARE(record.dataHora(), QString());
}

void tst_Q7_Bridge_VO::idTransacao_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("id");
    QTest::newRow("number") << "12" << 12;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("trailing letter") << "12a" << -1;
    QTest::newRow("decimal point") << "12.5" << -1;
    QTest::newRow("beyond int") << "99999999999" << -1;
}

void tst_Q7_Bridge_VO::idTransacao() {
    QFETCH(QString, text);
    QFETCH(int, id);
    Q7_Bridge_VO record;
    record.setIdTransacao(text);
    QCOMPARE(record.idTransacao(), id);
}

void tst_Q7_Bridge_VO::pdv_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pdv");
    QTest::newRow("empty defaults") << ""
                                    << "q7";
    QTest::newRow("kept as written") << "003"
                                     << "003";
}

void tst_Q7_Bridge_VO::pdv() {
    QFETCH(QString, text);
    QFETCH(QString, pdv);
    Q7_Bridge_VO record;
    record.setPdv(QStringLiteral("anterior"));
    record.setPdv(text);
    QCOMPARE(record.pdv(), pdv);
}

void tst_Q7_Bridge_VO::valorTotal_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("valor");
    QTest::newRow("comma removed") << "1,50"
                                   << "150";
    QTest::newRow("only commas removed") << "1.000,50"
                                         << "1.00050";
    QTest::newRow("every comma") << "1,2,3"
                                 << "123";
    QTest::newRow("digits unchanged") << "1000"
                                      << "1000";
}

void tst_Q7_Bridge_VO::valorTotal() {
    QFETCH(QString, text);
    QFETCH(QString, valor);
    Q7_Bridge_VO record;
    record.setValorTotal(text);
    QCOMPARE(record.valorTotal(), valor);
}

void tst_Q7_Bridge_VO::tipoCartao_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("tipo");
    QTest::newRow("credit") << "1" << 1;
    QTest::newRow("debit") << "2" << 2;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("word") << "credito" << 0;
}

void tst_Q7_Bridge_VO::tipoCartao() {
    QFETCH(QString, text);
    QFETCH(int, tipo);
    Q7_Bridge_VO record;
    record.setTipoCartao(QStringLiteral("2"));
    record.setTipoCartao(text);
    QCOMPARE(record.tipoCartao(), tipo);
}

void tst_Q7_Bridge_VO::financiamento_data() {
    QTest::addColumn<QString>("tipoParcelamento");
    QTest::addColumn<QString>("quantidadeParcelas");
    QTest::addColumn<int>("plano");
    QTest::addColumn<int>("parcelas");
    QTest::newRow("no type, one instalment: cash") << ""
                                                   << "1" << 1 << 0;
    QTest::newRow("no type, three instalments") << ""
                                                << "3" << 0 << 0;
    QTest::newRow("no type, no count") << ""
                                       << "" << 0 << 0;
    QTest::newRow("no type, count not a number") << ""
                                                 << "um" << 0 << 0;
    QTest::newRow("type 0") << "0"
                            << "3" << 3 << 3;
    QTest::newRow("type 0, no count") << "0"
                                      << "" << 3 << 0;
    QTest::newRow("type 1, one instalment") << "1"
                                            << "1" << 2 << 1;
    QTest::newRow("type 1, no count") << "1"
                                      << "" << 2 << 0;
    QTest::newRow("other type") << "7"
                                << "2" << -1 << 2;
    QTest::newRow("type not a number") << "x"
                                       << "1" << 1 << 0;
}

void tst_Q7_Bridge_VO::financiamento() {
    QFETCH(QString, tipoParcelamento);
    QFETCH(QString, quantidadeParcelas);
    QFETCH(int, plano);
    QFETCH(int, parcelas);
    Q7_Bridge_VO record;
    // A previous request's plan must not leak into this one.
    record.setFinanciamento(QStringLiteral("0"), QStringLiteral("12"));
    record.setFinanciamento(tipoParcelamento, quantidadeParcelas);
    QCOMPARE(record.tipoFinanciamento(), plano);
    QCOMPARE(record.numParcelas(), parcelas);
}

void tst_Q7_Bridge_VO::dataHora_data() {
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("hora");
    QTest::addColumn<QString>("dataHora");
    QTest::newRow("date and time") << "25122023"
                                   << "143000"
                                   << "25/12/2023 14:30:00";
    QTest::newRow("date alone") << "25122023"
                                << ""
                                << "25/12/2023";
    QTest::newRow("no such date") << "31022023"
                                  << ""
                                  << "31022023";
    QTest::newRow("no date, time ignored") << ""
                                           << "143000"
                                           << "";
    QTest::newRow("no such hour: joined") << "25122023"
                                          << "250000"
                                          << "25122023250000";
    QTest::newRow("short time: joined") << "25122023"
                                        << "1430"
                                        << "251220231430";
    QTest::newRow("already formatted: joined") << "25/12/2023"
                                               << "14:30"
                                               << "25/12/202314:30";
    QTest::newRow("leap day") << "29022024"
                              << "000000"
                              << "29/02/2024 00:00:00";
}

void tst_Q7_Bridge_VO::dataHora() {
    QFETCH(QString, data);
    QFETCH(QString, hora);
    QFETCH(QString, dataHora);
    Q7_Bridge_VO record;
    record.setDataHora(QStringLiteral("01012020"), QStringLiteral("101010"));
    record.setDataHora(data, hora);
    QCOMPARE(record.dataHora(), dataHora);
}

QTEST_APPLESS_MAIN(tst_Q7_Bridge_VO)
#include "tst_Q7_Bridge_VO.moc"
