#include "TefHarness.h"

#include "base/Pause.h"
#include "exchange/ProtocoloSitef.h"

#include <QLibrary>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kMissing = QStringLiteral("/nonexistent/libQ7_Tef01.so");

QJsonObject lastResponse(const QSignalSpy &spy) {
    return spy.isEmpty() ? QJsonObject() : parseJson(spy.last().at(0).toString());
}

} // namespace

class tst_Q7_Tef_Controller : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Pause::setScale(0.01); }
    void loading_data();
    void loading();
    void answersWithoutLibraryCall_data();
    void answersWithoutLibraryCall();
    void startDocument_data();
    void startDocument();
    void transactionFields_data();
    void transactionFields();
    void refusedStart_data();
    void refusedStart();
    void settlesPendingTransactions_data();
    void settlesPendingTransactions();
    void pendingJournal_data();
    void pendingJournal();
    void responseKeepsIdentification();
    void missingEntryPoint();
    void responseFileOfDefaultSale();
};

void tst_Q7_Tef_Controller::loading_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("library present") << Simulator::libraryPath()
                                     << QStringList{"info [Q7_Tef_Controller] API carregada com sucesso",
                                                    "info [Q7_Tef_Controller] Biblioteca Q7_Tef liberada"}
                                     << QStringList{R"(SetClientTCP {"ip":"127.0.0.1","porta":60906})"};
    const QStringList failed{"critical [Q7_Tef_Controller] Erro ao carregar a biblioteca do Q7_Tef",
                             "critical [Q7_Tef_Controller] Falha ao liberar biblioteca Q7_Tef"};
    QTest::newRow("library missing") << kMissing << failed << QStringList();
    QTest::newRow("not a library file name")
        << QStringLiteral(Q7_BIN_DIR "/config_tef.json") << failed << QStringList();
}

void tst_Q7_Tef_Controller::loading() {
    QFETCH(QString, path);
    QFETCH(QStringList, log);
    QFETCH(QStringList, calls);
    Simulator sim;
    TefLogCapture capture;
    delete new Q7_Tef_Controller(nullptr, path);
    QCOMPARE(TefLogCapture::lines(), log);
    QCOMPARE(sim.callLines(), calls);
}

void tst_Q7_Tef_Controller::answersWithoutLibraryCall_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("identificacao");
    QTest::addColumn<QJsonObject>("response");

    QTest::newRow("ATV with library") << Simulator::libraryPath() << "ATV"
                                      << "42" << QJsonObject{{"header", "ATV"}, {"id", 42}};
    QTest::newRow("ATV without library") << kMissing << "ATV"
                                         << "42" << QJsonObject{{"header", "ATV"}, {"id", 42}};
    QTest::newRow("identification not a number") << kMissing << "ATV"
                                                 << "12a" << QJsonObject{{"header", "ATV"}, {"id", 1}};
    QTest::newRow("identification missing") << kMissing << "ATV"
                                            << "" << QJsonObject{{"header", "ATV"}, {"id", 1}};
    const QJsonObject notLoaded{{"codigo", -1},
                                {"mensagem", QStringLiteral("Biblioteca Q7_Tef não carregada")}};
    QJsonObject sale = notLoaded;
    sale.insert("header", "CRT");
    sale.insert("id", 42);
    QTest::newRow("sale without library") << kMissing << "CRT"
                                          << "42" << sale;
    QJsonObject confirmation = notLoaded;
    confirmation.insert("header", "CNF");
    confirmation.insert("id", 42);
    QTest::newRow("confirmation without library") << kMissing << "CNF"
                                                  << "42" << confirmation;
    // A request the reader marked invalid never reaches the library.
    const QString invalid = QStringLiteral("Arquivo IntPos.001 recusado: maior que 65536 bytes");
    QTest::newRow("invalid request with library")
        << Simulator::libraryPath() << "CRT"
        << "42" << QJsonObject{{"header", "CRT"}, {"id", 42}, {"codigo", -1}, {"mensagem", invalid}};
}

void tst_Q7_Tef_Controller::answersWithoutLibraryCall() {
    QFETCH(QString, path);
    QFETCH(QString, header);
    QFETCH(QString, identificacao);
    QFETCH(QJsonObject, response);
    Simulator sim;
    Q7_Tef_Controller c(nullptr, path);
    WindowLog window(&c);
    QSignalSpy responses(&c, &Base_Controller::responseProcessTEF);
    const int loadCalls = sim.calls().size();

    QJsonObject parametros{{"valor", "1000"}};
    if (!identificacao.isEmpty())
        parametros.insert("identificacao", identificacao);
    QJsonObject request{{"header", header}, {"parametros", parametros}};
    if (response.value("codigo") == -1 && path != kMissing)
        request.insert("msg_erro", response.value("mensagem"));
    c.setJsonConfigs(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    c.start();
    QVERIFY(c.wait(20000));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(responses.count(), 1);
    QCOMPARE(lastResponse(responses), response);
    QCOMPARE(sim.callLines(loadCalls), QStringList());
    QCOMPARE(window.events.size(), 1); // the response only: the window is not touched
}

void tst_Q7_Tef_Controller::startDocument_data() {
    QTest::addColumn<QJsonObject>("parametros");
    QTest::addColumn<QString>("document");

    QTest::newRow("all five fields")
        << QJsonObject{{"aplicacao", "PDV Q7"},
                       {"versao_aplicacao", "2.1"},
                       {"estabelecimento", "00001234"},
                       {"loja", "0001"},
                       {"terminal", "CX01"}}
        << R"({"aplicacao_tela":"PDV Q7","estabelecimento":"00001234","loja":"0001","terminal":"CX01","versao":"2.1"})";
    QTest::newRow("empty fields left out")
        << QJsonObject{{"loja", ""}, {"terminal", "CX02"}} << R"({"terminal":"CX02"})";
    QTest::newRow("none of them") << QJsonObject() << "{}";
}

void tst_Q7_Tef_Controller::startDocument() {
    QFETCH(QJsonObject, parametros);
    QFETCH(QString, document);
    Simulator sim;
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    parametros.insert("valor", "1000");
    QVERIFY(runRequest(c, "CRT", parametros));
    QVERIFY(runRequest(c, "CNF", parametros));

    QStringList sent;
    for (const QJsonObject &call : sim.calls()) {
        const QString fn = call.value("fn").toString();
        if (fn == QLatin1String("IniciarOperacaoTEF") || fn == QLatin1String("RecuperarOperacaoTEF"))
            sent << fn + QLatin1Char(' ') + call.value("args").toObject().value("dadosAutomacao").toString();
    }
    QCOMPARE(sent, QStringList({"IniciarOperacaoTEF " + document, "RecuperarOperacaoTEF " + document}));
}

void tst_Q7_Tef_Controller::transactionFields_data() {
    QTest::addColumn<QString>("header");
    QTest::addColumn<QJsonObject>("parametros");
    QTest::addColumn<QJsonObject>("document");

    QTest::newRow("one instalment, store financed")
        << "CRT" << QJsonObject{{"valor", "1000"}, {"quantidade_parcelas", "1"}, {"tipo_parcelamento", "0"}}
        << QJsonObject{{"transacao_valor", "1000"},
                       {"transacao_parcela", "1"},
                       {"transacao_pagamento", "A vista"},
                       {"transacao_financiado", "Estabelecimento"}};
    QTest::newRow("three instalments, issuer financed")
        << "CRT" << QJsonObject{{"valor", "1000"}, {"quantidade_parcelas", "3"}, {"tipo_parcelamento", "1"}}
        << QJsonObject{{"transacao_valor", "1000"},
                       {"transacao_parcela", "3"},
                       {"transacao_pagamento", "Parcelado"},
                       {"transacao_financiado", "Administradora"}};
    QTest::newRow("neither") << "CRT" << QJsonObject{{"valor", "1000"}}
                             << QJsonObject{{"transacao_valor", "1000"}};
    QTest::newRow("zero instalments, unknown type")
        << "CRT" << QJsonObject{{"valor", "1000"}, {"quantidade_parcelas", "0"}, {"tipo_parcelamento", "2"}}
        << QJsonObject{{"transacao_valor", "1000"}, {"transacao_parcela", "0"}};
    QTest::newRow("administrative user and password")
        << "ADM" << QJsonObject{{"adm_usuario", "gerente"}, {"adm_senha", "1234"}}
        << QJsonObject{{"transacao_administracao_usuario", "gerente"},
                       {"transacao_administracao_senha", "1234"}};
}

void tst_Q7_Tef_Controller::transactionFields() {
    QFETCH(QString, header);
    QFETCH(QJsonObject, parametros);
    QFETCH(QJsonObject, document);
    Simulator sim;
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    QVERIFY(runRequest(c, header, parametros));
    const QList<QJsonObject> calls = sim.dialogueCalls();
    QVERIFY(!calls.isEmpty());
    QCOMPARE(Simulator::transactionOf(calls.first()), document);
}

void tst_Q7_Tef_Controller::refusedStart_data() {
    QTest::addColumn<QJsonValue>("startReply");
    QTest::addColumn<bool>("goesOn");
    QTest::addColumn<QStringList>("failureLog");

    const QJsonObject noTef{{"codigo", 5}, {"mensagem", QStringLiteral("Sem comunicação com o servidor")}};
    QTest::newRow("no step data")
        << QJsonValue(noTef) << false
        << QStringList{
               QStringLiteral("critical [Q7_Tef_Controller]Sem comunicação com o servidor"),
               QStringLiteral("critical [Q7_Tef_Controller] Erro ao iniciar operação de TEF"),
               QStringLiteral("info [Q7_Tef_Controller] resp inicialização: ") +
                   QString::fromUtf8(QJsonDocument(noTef).toJson(QJsonDocument::Compact)),
           };
    const QJsonObject refused{
        {"codigo", 0}, {"mensagem", "Recusada"}, {"tef", QJsonObject{{"resultadoTransacao", "5"}}}};
    QTest::newRow("result 5 as text")
        << QJsonValue(refused) << false
        << QStringList{
               QStringLiteral("critical [Q7_Tef_Controller] Erro ao iniciar operação de TEF"),
               QStringLiteral("info [Q7_Tef_Controller] resp inicialização: ") +
                   QString::fromUtf8(QJsonDocument(refused).toJson(QJsonDocument::Compact)),
           };
    QTest::newRow("result 5 as number")
        << QJsonValue(
               QJsonObject{{"codigo", 0}, {"mensagem", ""}, {"tef", QJsonObject{{"resultadoTransacao", 5}}}})
        << true << QStringList();
    QTest::newRow("not JSON")
        << QJsonValue("servidor fora do ar") << false
        << QStringList{
               QStringLiteral("critical [Q7_Tef_Controller]"),
               QStringLiteral("critical [Q7_Tef_Controller] Erro ao iniciar operação de TEF"),
               QStringLiteral("info [Q7_Tef_Controller] resp inicialização: servidor fora do ar"),
           };
}

void tst_Q7_Tef_Controller::refusedStart() {
    QFETCH(QJsonValue, startReply);
    QFETCH(bool, goesOn);
    QFETCH(QStringList, failureLog);
    Simulator sim({{"IniciarOperacaoTEF", startReply}});
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    WindowLog window(&c);
    QSignalSpy responses(&c, &Base_Controller::responseProcessTEF);
    TefLogCapture capture;

    QVERIFY(runRequest(c, "CRT", {{"identificacao", "7"}, {"valor", "1000"}}));
    QStringList failures;
    for (const QString &line : TefLogCapture::lines())
        if (line.startsWith(QLatin1String("critical")) || line.contains(QStringLiteral("resp inicialização")))
            failures << line;
    QCOMPARE(failures, failureLog);
    QCOMPARE(window.of("showWindow"), goesOn ? QStringList({"true", "false"}) : QStringList({"false"}));
    QCOMPARE(sim.dialogueCalls().isEmpty(), !goesOn);
    if (!goesOn) {
        QJsonObject expected = startReply.toObject();
        expected.insert("header", "CRT");
        expected.insert("id", 7);
        QCOMPARE(lastResponse(responses), expected);
    }

    // A refused start leaves nothing to confirm.
    const int before = sim.calls().size();
    QVERIFY(runRequest(c, "CNF", {{"identificacao", "8"}}));
    QCOMPARE(sim.callLines(before).filter("ConfirmarOperacaoTEF").size(), goesOn ? 1 : 0);
}

void tst_Q7_Tef_Controller::settlesPendingTransactions_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("operations");
    QTest::addColumn<QString>("settle");
    QTest::addColumn<int>("decision");

    QTest::newRow("one sale confirmed") << "CRT" << 1 << "CNF" << 1;
    QTest::newRow("two sales undone in order") << "CRT" << 2 << "NCN" << 0;
    QTest::newRow("cancellation confirmed") << "CNC" << 1 << "CNF" << 1;
    QTest::newRow("nothing pending") << "CRT" << 0 << "CNF" << 1;
}

void tst_Q7_Tef_Controller::settlesPendingTransactions() {
    QFETCH(QString, operation);
    QFETCH(int, operations);
    QFETCH(QString, settle);
    QFETCH(int, decision);
    Simulator sim;
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    QSignalSpy responses(&c, &Base_Controller::responseProcessTEF);

    QStringList expected{R"(RecuperarOperacaoTEF {"dadosAutomacao":"{}"})"};
    for (int i = 0; i < operations; ++i) {
        QVERIFY(runRequest(c, operation, {{"identificacao", QString::number(i)}, {"valor", "1000"}}));
        const QString sequencial =
            lastResponse(responses).value("tef").toObject().value("sequencial").toString();
        QVERIFY(!sequencial.isEmpty());
        expected << QStringLiteral(R"(ConfirmarOperacaoTEF {"confirmar":%1,"sequencial":%2})")
                        .arg(decision)
                        .arg(sequencial);
    }
    expected << R"(FinalizarOperacaoTEF {"finalizar":1})";

    int before = sim.calls().size();
    QVERIFY(runRequest(c, settle, {{"identificacao", "9"}}));
    QCOMPARE(sim.callLines(before), expected);
    QCOMPARE(lastResponse(responses), QJsonObject({{"header", settle}, {"id", 9}}));

    // Settled once: a second request finds nothing left.
    before = sim.calls().size();
    QVERIFY(runRequest(c, settle, {{"identificacao", "10"}}));
    QCOMPARE(sim.callLines(before), QStringList({expected.first(), expected.last()}));
}

void tst_Q7_Tef_Controller::pendingJournal_data() {
    QTest::addColumn<QByteArray>("journal");  // found at start; null: none
    QTest::addColumn<bool>("earlierInvalid"); // a pendentes.json.invalido is there already
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QStringList>("restored"); // what the undo settles before today's sale
    QTest::addColumn<QString>("critical");

    QTest::newRow("none yet") << QByteArray() << false << true << QStringList() << QString();
    QTest::newRow("restored in order")
        << QByteArray(R"({"pendentes": [{"sequencial": "7", "id": 3, "adicionado": "2026-12-01T10:00:00"},
                                        {"sequencial": "8", "id": 4, "adicionado": "2026-12-01T10:05:00"}]})")
        << false << true << QStringList{"7", "8"} << QString();
    QTest::newRow("corrupt: set aside")
        << QByteArray("{quebrado") << false << true << QStringList() << "pendentes.json ilegível";
    QTest::newRow("corrupt: an earlier copy is kept")
        << QByteArray(R"({"pendentes": [{"sequencial": 7}]})") << true << true << QStringList()
        << "pendentes.json ilegível";
    QTest::newRow("directory not writable")
        << QByteArray() << false << false << QStringList() << "Impossível gravar";
}

// Product 2's pending transactions live in pendentes.json beside the configuration, so that a
// confirmation or undo after a restart settles them; a journal that fails never stops a sale.
void tst_Q7_Tef_Controller::pendingJournal() {
    QFETCH(QByteArray, journal);
    QFETCH(bool, earlierInvalid);
    QFETCH(bool, writable);
    QFETCH(QStringList, restored);
    QFETCH(QString, critical);
    QTemporaryDir dir;
    // Not writable, also for root: the journal's directory is a file.
    const QString directory = writable ? dir.path() : dir.filePath("arquivo");
    const QString path = directory + "/pendentes.json";
    const auto write = [](const QString &name, const QByteArray &bytes) {
        QFile file(name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    const auto pending = [&path] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly)
                   ? QJsonDocument::fromJson(file.readAll()).object().value("pendentes").toArray()
                   : QJsonArray();
    };
    QVERIFY(writable || write(directory, "x"));
    if (!journal.isNull())
        QVERIFY(write(path, journal));
    if (earlierInvalid)
        QVERIFY(write(path + ".invalido", "antes"));

    Simulator sim;
    TefLogCapture capture;
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath(), directory);
    QSignalSpy responses(&c, &Base_Controller::responseProcessTEF);
    QCOMPARE(TefLogCapture::lines().filter("Transação pendente restaurada").size(), restored.size());
    const bool corrupt = critical.contains("ilegível");
    if (corrupt) {
        QVERIFY(!QFile::exists(path));
        QFile aside(earlierInvalid ? path + ".invalido.2" : path + ".invalido");
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), journal);
        if (earlierInvalid)
            QCOMPARE(QFile(path + ".invalido").size(), qint64(5)); // left as it was
    }

    QVERIFY(runRequest(c, "CRT", {{"identificacao", "5"}, {"valor", "1000"}}));
    const QJsonObject tef = lastResponse(responses).value("tef").toObject();
    QCOMPARE(tef.value("resultadoTransacao"), QJsonValue("0")); // answered whatever the journal did
    const QString sequencial = tef.value("sequencial").toString();
    QCOMPARE(pending().size(), writable ? restored.size() + 1 : 0);
    if (writable)
        QCOMPARE(pending().last().toObject().value("id").toInt(), 5);

    QVERIFY(runRequest(c, "NCN", {{"identificacao", "6"}}));
    QStringList undone;
    for (const QJsonObject &call : sim.calls())
        if (call.value("fn") == "ConfirmarOperacaoTEF")
            undone << QString::number(call.value("args").toObject().value("sequencial").toInt()) +
                          (call.value("args").toObject().value("confirmar").toInt() ? "+" : "-");
    QStringList expected;
    for (const QString &s : restored + QStringList{sequencial})
        expected << s + "-";
    QCOMPARE(undone, expected);

    const QStringList errors = TefLogCapture::lines().filter("critical ");
    QCOMPARE(errors.size(), critical.isEmpty() ? 0 : writable ? 1 : 2);
    if (!critical.isEmpty())
        QVERIFY2(errors.first().contains(critical), qPrintable(errors.join('\n')));
    // A journal that could not be written is never said to be.
    QCOMPARE(TefLogCapture::lines().filter(" gravado: ").size(), writable ? 2 : 0);
    QVERIFY(pending().isEmpty());
    QCOMPARE(QFile::exists(path), writable);
}

void tst_Q7_Tef_Controller::responseKeepsIdentification() {
    const QJsonObject tef{{"resultadoTransacao", "0"}, {"sequencial", "55"}};
    Simulator sim(
        {{"RealizarPagamentoTEF",
          QJsonObject{{"codigo", 0}, {"mensagem", "ok"}, {"header", "XYZ"}, {"id", 999}, {"tef", tef}}}});
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    QSignalSpy responses(&c, &Base_Controller::responseProcessTEF);
    QVERIFY(runRequest(c, "CRT", {{"identificacao", "7"}, {"valor", "1000"}}));
    QCOMPARE(lastResponse(responses),
             QJsonObject({{"header", "CRT"}, {"id", 7}, {"codigo", 0}, {"mensagem", "ok"}, {"tef", tef}}));
}

void tst_Q7_Tef_Controller::missingEntryPoint() {
    const QString path = QCoreApplication::applicationDirPath() + "/libQ7_Tef01_noPayment.so";
    QVERIFY(QLibrary(path).resolve("RealizarAdmTEF"));
    QVERIFY(!QLibrary(path).resolve("RealizarPagamentoTEF"));
    const QString message = QStringLiteral("Função RealizarPagamentoTEF não encontrada na biblioteca Q7_Tef");
    Simulator sim;
    TefLogCapture capture;
    Q7_Tef_Controller c(nullptr, path);
    WindowLog window(&c);
    QSignalSpy responses(&c, &Base_Controller::responseProcessTEF);

    QVERIFY(runRequest(c, "CRT", {{"identificacao", "3"}, {"valor", "1000"}}));
    QCOMPARE(lastResponse(responses),
             QJsonObject({{"header", "CRT"}, {"id", 3}, {"codigo", -1}, {"mensagem", message}}));
    QCOMPARE(sim.callLines(1), QStringList({R"(IniciarOperacaoTEF {"dadosAutomacao":"{}"})",
                                            R"(FinalizarOperacaoTEF {"finalizar":1})"}));
    QCOMPARE(window.of("showMessageError"), QStringList({QString(), message})); // fresh screen, failure
    QVERIFY(TefLogCapture::lines().contains("critical [Q7_Tef_Controller] " + message));

    // Nothing was sold, so nothing is pending.
    const int before = sim.calls().size();
    QVERIFY(runRequest(c, "CNF", {{"identificacao", "4"}}));
    QCOMPARE(sim.callLines(before).filter("ConfirmarOperacaoTEF"), QStringList());
}

void tst_Q7_Tef_Controller::responseFileOfDefaultSale() {
    Simulator sim;
    Q7_Tef_Controller c(nullptr, Simulator::libraryPath());
    QSignalSpy responses(&c, &Base_Controller::responseProcessTEF);
    QVERIFY(runRequest(c, "CRT", {{"identificacao", "5"}, {"valor", "1000"}, {"tipo_cartao", "1"}}));

    const QStringList lines =
        ProtocoloSitef().buildTefResponse(responses.last().at(0).toString()).split(QStringLiteral("\r\n"));
    for (const char *line : {"000-000 = CRT", "001-000 = 5", "003-000 = 1000", "009-000 = 0", "017-000 = 0",
                             "018-000 = 1", "375-000 = 0", "999-999 = 0"})
        QVERIFY2(lines.contains(QLatin1String(line)), line);
    // The receipts arrive as CR LF texts: one line each, store copy and card holder copy.
    const int store = lines.filter(QRegularExpression("^715-\\d{3} = ")).size();
    const int holder = lines.filter(QRegularExpression("^713-\\d{3} = ")).size();
    QVERIFY(store > 5);
    QVERIFY(holder > 5);
    QVERIFY(lines.contains(QStringLiteral("028-000 = %1").arg(store + holder)));
    // In each copy and twice in the complete receipt.
    QCOMPARE(lines.filter(QStringLiteral("VALOR FINAL: R$ 10,00")).size(), 4);
}

QTEST_MAIN(tst_Q7_Tef_Controller)
#include "tst_Q7_Tef_Controller.moc"
