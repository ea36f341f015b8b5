// Every product's sale, cancellation and administrative flow through the whole service, with
// a password and a card number in the requests and in the library's replies: none of them
// may reach a log file or Qt's message output in clear.
#include "MessageCapture.h"
#include "ServiceHarness.h"
#include "base/Pause.h"

#include <QDate>
#include <QDirIterator>
#include <QGuiApplication>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kSenha = QStringLiteral("Qk7zTwx");
const QString kCartao = QStringLiteral("4761739001010119");
const QString kTrilha = QStringLiteral("29121010000012345678"); // track data after the card number
const QString kCartaoMascarado = QStringLiteral("476173******0119");

bool luhnValid(const QString &digits) {
    int sum = 0;
    for (int i = 0; i < digits.size(); ++i) {
        int digit = digits.at(digits.size() - 1 - i).digitValue();
        if (i % 2 == 1 && (digit *= 2) > 9)
            digit -= 9;
        sum += digit;
    }
    return sum % 10 == 0;
}

// What of a secret is in `text`.
QStringList leaks(const QString &text) {
    QStringList found;
    static const QRegularExpression run(QStringLiteral("(?<!\\d)\\d{13,19}(?!\\d)"));
    QRegularExpressionMatchIterator it = run.globalMatch(text);
    while (it.hasNext()) {
        const QString digits = it.next().captured();
        if (luhnValid(digits))
            found << digits;
    }
    for (const QString &secret : {kSenha, kTrilha.left(8)})
        if (text.contains(secret))
            found << secret;
    return found;
}

QJsonObject componente(const char *nome, const QString &conteudo) {
    return QJsonObject{{QStringLiteral("NomeComponenteTela"), QLatin1String(nome)},
                       {QStringLiteral("ConteudoComponenteTela"), conteudo},
                       {QStringLiteral("TipoVisor"), QStringLiteral("operador")}};
}

// Every entry point that answers a flow answers approved, with the card and the password.
QJsonObject scenario(int product) {
    const QString comprovante = QStringLiteral("CARTAO ") + kCartao + QStringLiteral("\r\nVIA LOJA");
    switch (product) {
    case 0: {
        const QJsonObject documento{
            {QStringLiteral("SequenciaCaptura"), 99},
            {QStringLiteral("Status"), 0},
            {QStringLiteral("adm_senha"), kSenha},
            {QStringLiteral("ComponentesTela"),
             QJsonArray{
                 componente("label", QStringLiteral("TRANSACAO APROVADA")),
                 componente("comprovanteloja", comprovante),
                 componente("dadostransacao",
                            QStringLiteral("Pan:%1,Trilha02:%1=%2,Nsu:123456").arg(kCartao, kTrilha))}}};
        const QJsonObject reply{{QStringLiteral("documento"), documento}};
        return QJsonObject{{QStringLiteral("OrvixTEF_RealizarPagamentoTEF"), reply},
                           {QStringLiteral("OrvixTEF_RealizarAdmTEF"), reply}};
    }
    case 1: {
        const QJsonObject approved{
            {QStringLiteral("approved"),
             QJsonObject{{QStringLiteral("panMascarado"), kCartao},
                         {QStringLiteral("mensagemResultado"), QStringLiteral("APROVADA ") + kCartao},
                         {QStringLiteral("comprovanteCompleto"), QJsonArray{comprovante}},
                         {QStringLiteral("adm_senha"), kSenha}}}};
        return QJsonObject{{QStringLiteral("IniciaVenda"), approved},
                           {QStringLiteral("IniciaCancelamentoVenda"), approved},
                           {QStringLiteral("IniciaOperacaoAdministrativa"), approved}};
    }
    default: {
        const QJsonObject reply{
            {QStringLiteral("codigo"), 0},
            {QStringLiteral("mensagem"), QStringLiteral("Transação aprovada")},
            {QStringLiteral("tef"),
             QJsonObject{{QStringLiteral("resultadoTransacao"), QStringLiteral("0")},
                         {QStringLiteral("mensagemResultado"), QStringLiteral("APROVADA ") + kCartao},
                         {QStringLiteral("sequencial"), QStringLiteral("1")},
                         {QStringLiteral("panMascarado"), kCartao},
                         {QStringLiteral("comprovanteDiferenciadoLoja"), comprovante},
                         {QStringLiteral("transacao_administracao_senha"), kSenha}}}};
        return QJsonObject{{QStringLiteral("RealizarPagamentoTEF"), QJsonArray{reply}},
                           {QStringLiteral("RealizarAdmTEF"), QJsonArray{reply}}};
    }
    }
}

TefPosClient::Fields request(const char *operation, int id) {
    TefPosClient::Fields fields{{QStringLiteral("000-000"), QLatin1String(operation)},
                                {QStringLiteral("001-000"), QString::number(id)},
                                {QStringLiteral("002-000"), QStringLiteral("NF ") + kCartao},
                                {QStringLiteral("003-000"), QStringLiteral("1000")},
                                {QStringLiteral("011-000"), QStringLiteral("3")},
                                {QStringLiteral("375-024"), QStringLiteral("gerente")},
                                {QStringLiteral("375-025"), kSenha}};
    if (qstrcmp(operation, "CNC") == 0)
        fields << qMakePair(QStringLiteral("012-000"), QStringLiteral("123456"))
               << qMakePair(QStringLiteral("022-000"),
                            QDate::currentDate().toString(QStringLiteral("ddMMyyyy")))
               << qMakePair(QStringLiteral("023-000"), QStringLiteral("101010"));
    return fields;
}

} // namespace

class TestSecrets : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        Pause::setScale(0.01);
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }

    void noSecretInLogs_data() {
        QTest::addColumn<int>("product");
        QTest::newRow("0 Pagora") << 0;
        QTest::newRow("1 bridge") << 1;
        QTest::newRow("2 Tef01") << 2;
    }
    void noSecretInLogs() {
        QFETCH(int, product);
        const MessageCapture messages(""); // all of Qt's message output
        QStringList responses;
        {
            ServiceHarness service;
            service.setScenario(scenario(product));
            service.start(product);
            // The Pagora sale and administrative flows start with a menu of the service's own:
            // credit sale, or reprint.
            service.chooseInLists(1);

            int id = 700;
            for (const char *operation : {"CRT", "CNC", "ADM"}) {
                Exchange exchange(service.client, request(operation, ++id));
                QTRY_VERIFY_WITH_TIMEOUT(exchange.done(), 20000);
                QVERIFY2(exchange.result().outcome == TefPosClient::Outcome::Approved, operation);
                responses << QString::fromUtf8(exchange.result().response);
                QTRY_VERIFY(service.controller()->isFinished());
            }
            QDirIterator logs(service.logDirectory(), QDir::Files);
            QStringList files;
            while (logs.hasNext())
                files << logs.next();
            QVERIFY(!files.isEmpty());
            for (const QString &path : qAsConst(files)) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadOnly));
                const QString text = QString::fromLocal8Bit(file.readAll());
                QCOMPARE(leaks(text), QStringList());
                // The secrets did travel through the log, masked.
                QVERIFY(text.contains(kCartaoMascarado));
                QVERIFY(text.contains(QStringLiteral("375-025 = ****")));
                QVERIFY(text.contains(QStringLiteral("\"adm_senha\":\"****\"")));
            }
        }
        const QString output = MessageCapture::lines().join(QLatin1Char('\n'));
        QVERIFY(output.contains(kCartaoMascarado));
        QCOMPARE(leaks(output), QStringList());
        // The files exchanged with the sales application are left as they are.
        QVERIFY(responses.join(QString()).contains(kCartao));
    }
};

QTEST_MAIN(TestSecrets)
#include "tst_secrets.moc"
