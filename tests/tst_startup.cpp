// The real executable (ServiceProcess): start-up, one instance per machine, and stops by SIGKILL
// or SIGTERM in the middle of an operation: every request it took is answered, a request it
// did not take stays where the sales application put it, and the next start answers that one.
#include "ServiceHarness.h"

#include <QJsonArray>
#include <QLibraryInfo>

namespace {

TefPosClient::Fields fields(const QString &operation, int id) {
    return {{"000-000", operation}, {"001-000", QString::number(id)}, {"003-000", "1000"}, {"999-999", "0"}};
}

QByteArray request(const QString &operation, int id) {
    return TefPosClient().encode(fields(operation, id));
}

QByteArray statusOf(const QString &operation, int id) {
    return QString("000-000 = %1\r\n001-000 = %2\r\n999-999 = 0\r\n").arg(operation).arg(id).toUtf8();
}

const char *const kLibrary[] = {"libAPITEFOrvix.so", "libQ7_Bridge.so", "libQ7_Tef01.so"};

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

    std::unique_ptr<ServiceProcess> s;

    void make(int product, const QByteArray &scenario = "{}") {
        s = std::make_unique<ServiceProcess>(product, kLibrary[product], scenario);
    }
    TefPosClient::Result send(const QString &operation, int id) const {
        return s->client.send(fields(operation, id));
    }

private slots:
    void cleanup() { s.reset(); }

    // An invalid product, or a window that cannot load (QML imports pointed nowhere): -1.
    void endsWithMinusOne_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QString>("log"); // the whole log; the window's row: a line of it
        const QString invalid = "{Debug} \t\t log: 0\n{Info} \t\t Q7_PAGORA_PASSIVO\n{Info} \t\t Versão: \n"
                                "{Info} \t\t Produto TEF configurado: -2\n{Error} \t\t Produto TEF inválido";
        for (int product : {3, 7, -5})
            QTest::addRow("%d", product) << product << invalid;
        QTest::newRow("window that cannot load")
            << 2 << "{Error} \t\t [ServiceWiring] Janela não carregada: ";
    }
    void endsWithMinusOne() {
        QFETCH(int, product);
        QFETCH(QString, log);
        s = std::make_unique<ServiceProcess>(product, kLibrary[2]);
        if (product == 2)
            QVERIFY(s->write(
                "qt.conf", "[Paths]\nPlugins=" + QLibraryInfo::location(QLibraryInfo::PluginsPath).toUtf8() +
                               "\nQml2Imports=" + s->path("no-imports").toUtf8() + "\n"));
        QProcess *process = s->start();
        QVERIFY(process->waitForFinished(30000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 255); // -1
        const QString text = logLines(s->path("service.log")).join('\n');
        QVERIFY2(product == 2 ? text.contains(log) : text == log, qPrintable(text));
    }

    void oneInstancePerMachine() {
        make(1);
        QProcess *first = s->startWatching("first.log");
        QVERIFY(first);
        QProcess *second = s->start("second.log");
        QVERIFY(second->waitForFinished(30000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(
            logLines(s->path("second.log")).join('\n'),
            QString(
                "{Debug} \t\t log: 0\n{Debug} \t\t Diretórios já existentes\n{Info} \t\t Q7_PAGORA_PASSIVO\n"
                "{Info} \t\t Versão: \n{Debug} \t\t Uma instância já está aberta"));
        QCOMPARE(first->state(), QProcess::Running);
        // A holder killed without releasing the slot does not block the next start.
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QProcess *third = s->startWatching("third.log");
        QVERIFY(third);
        // SIGTERM when idle: a clean exit that unloads the library and frees the slot.
        third->terminate();
        QVERIFY(third->waitForFinished(30000));
        QCOMPARE(third->exitStatus(), QProcess::NormalExit);
        QCOMPARE(third->exitCode(), 0);
        QVERIFY(s->logged("{Info} \t\t [Base_Controller] Destruído", "third.log"));
        QVERIFY(!s->slotTaken());
    }

    // Between reading the request and starting the controller the request file is still there:
    // it is answered after the restart.
    void killedMidOperationStartsAgain_data() {
        QTest::addColumn<bool>("controllerRunning");
        QTest::newRow("before the controller starts") << false;
        QTest::newRow("while the controller runs") << true;
    }
    void killedMidOperationStartsAgain() {
        QFETCH(bool, controllerRunning);
        make(1);
        QProcess *first = s->startWatching();
        QVERIFY(first);
        QVERIFY(s->write("req/IntPos.001", request("CRT", 901)));
        QTRY_VERIFY_WITH_TIMEOUT(controllerRunning ? !s->read("resp/IntPos.Sts").isEmpty()
                                                   : s->logged("Dados do arquivo lido"),
                                 30000);
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(QFile::exists(s->path("req/IntPos.001")), !controllerRunning);

        QProcess *second = s->start("second.log");
        if (!controllerRunning) {
            QTRY_VERIFY_WITH_TIMEOUT(s->read("resp/IntPos.001").contains("001-000 = 901"), 30000);
            QVERIFY(QFile::remove(s->path("resp/IntPos.001"))); // taken by the sales application
        }
        const TefPosClient::Result next = send("CRT", 902);
        QCOMPARE(next.outcome, TefPosClient::Outcome::Approved);
        QCOMPARE(next.status, statusOf("CRT", 902));
        QCOMPARE(second->state(), QProcess::Running);
    }

    // SIGTERM while an operation runs and the next request already waits: the operation is
    // stopped as "CANCELAR" would and answered; the waiting request is neither taken nor
    // passed to the library, and the next start answers it.
    void stoppedMidOperation_data() {
        QTest::addColumn<int>("product");
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QString>("busy");       // the call after which the operation is under way
        QTest::addColumn<QString>("waiting");    // the second request
        QTest::addColumn<QString>("secondCall"); // what the second request makes the library do
        QTest::addColumn<bool>("approved");
        QTest::addColumn<bool>("stuck");
        const auto row = [](const char *name, int product, const char *scenario, const char *busy,
                            const char *waiting, const char *secondCall, bool approved, bool stuck) {
            QTest::newRow(name) << product << QByteArray(scenario) << busy << waiting << secondCall
                                << approved << stuck;
        };
        row("1 library busy for 4 s", 1, R"({"demoraMs": {"IniciaVenda": 4000}})", "IniciaVenda", "CRT",
            "IniciaVenda", true, false);
        row("2 waiting for the operator", 2,
            R"({"RealizarPagamentoTEF": [{"codigo": 0, "mensagem": "", "tef": {"automacao_coleta_tipo": "N",
                "automacao_coleta_retorno": "0", "automacao_coleta_sequencial": "1"}}]})",
            "RealizarPagamentoTEF", "CNF", "RecuperarOperacaoTEF", false, false);
        row("0 waiting for the operator", 0, "{}", "OrvixTEF_IniciarOperacaoTEF", "CNF",
            "OrvixTEF_ConfirmarOperacaoTEF", false, false);
        row("1 library call that does not return", 1, R"({"demoraMs": {"IniciaVenda": 60000}})",
            "IniciaVenda", "CRT", "IniciaVenda", false, true);
    }
    void stoppedMidOperation() {
        QFETCH(int, product);
        QFETCH(QByteArray, scenario);
        QFETCH(QString, busy);
        QFETCH(QString, waiting);
        QFETCH(QString, secondCall);
        QFETCH(bool, approved);
        QFETCH(bool, stuck);
        make(product, scenario);
        QProcess *first = s->startWatching();
        QVERIFY(first);
        QVERIFY(s->write("req/IntPos.001", request("CRT", 11)));
        QTRY_VERIFY_WITH_TIMEOUT(s->calls(busy).size() == 1, 30000);
        const int callsBefore = s->calls(secondCall).size();
        QVERIFY(s->write("req/IntPos.001", request(waiting, 12)));

        first->terminate();
        QVERIFY(first->waitForFinished(15000));
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        QVERIFY(!s->slotTaken());
        QCOMPARE(s->logged("{Error} \t\t [ServiceWiring] Operação não terminou a tempo"), stuck);
        // A controller that ended was destroyed, so its library was unloaded.
        QCOMPARE(s->logged("{Info} \t\t [Base_Controller] Destruído"), !stuck);

        // The first request is answered, approved only when the library approved it.
        const QByteArray response = s->read("resp/IntPos.001");
        QCOMPARE(field(response, "001-000") + (field(response, "009-000") == "0" ? " approved" : ""),
                 QString(approved ? "11 approved" : "11"));
        // The second one was not taken.
        QCOMPARE(s->read("req/IntPos.001"), request(waiting, 12));
        QCOMPARE(s->calls(secondCall).size(), callsBefore);

        QVERIFY(QFile::remove(s->path("resp/IntPos.001")));
        s->clearScenario();
        s->start("second.log");
        QTRY_COMPARE_WITH_TIMEOUT(s->read("resp/IntPos.Sts"), statusOf(waiting, 12), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(s->calls(secondCall).size(), callsBefore + 1, 30000);
        QVERIFY(!QFile::exists(s->path("req/IntPos.001")));
    }

    // Product 2: sales the sales application had not confirmed when the service was killed are
    // confirmed or undone by its next CNF or NCN, as if nothing had happened.
    void pendingSalesSurviveKill_data() {
        QTest::addColumn<int>("sales");
        QTest::addColumn<QString>("settle");
        QTest::newRow("one sale, confirmed") << 1 << "CNF";
        QTest::newRow("two sales, undone in order") << 2 << "NCN";
    }
    void pendingSalesSurviveKill() {
        QFETCH(int, sales);
        QFETCH(QString, settle);
        make(2);
        QProcess *first = s->startWatching();
        QVERIFY(first);
        QStringList settled;
        for (int i = 0; i < sales; ++i) {
            QCOMPARE(send("CRT", 30 + i).outcome, TefPosClient::Outcome::Approved);
            const QJsonArray pending =
                QJsonDocument::fromJson(s->read("pendentes.json"))["pendentes"].toArray();
            QCOMPARE(pending.size(), i + 1);
            settled << pending.last()["sequencial"].toString() + (settle == "CNF" ? ":1" : ":0");
        }
        first->kill();
        QVERIFY(first->waitForFinished(10000));

        s->start("second.log");
        QCOMPARE(send(settle, 40).outcome, TefPosClient::Outcome::Approved);
        QTRY_COMPARE_WITH_TIMEOUT(s->confirmations(), settled, 20000);
        QTRY_VERIFY(QJsonDocument::fromJson(s->read("pendentes.json")) ==
                    QJsonDocument(QJsonObject{{"pendentes", QJsonArray()}}));
    }

    // Keyboard only, in a real X window: a stray Tab must not take the keys away from the prompt.
    void keyboardAnswersInARealWindow() {
        const QString xvfb = qEnvironmentVariable("Q7_XVFB");
        const QString xdotool = qEnvironmentVariable("Q7_XDOTOOL");
        if (xvfb.isEmpty() || xdotool.isEmpty())
            QSKIP("needs Xvfb and xdotool, named by Q7_XVFB and Q7_XDOTOOL");
        QProcess server;
        server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 20000);
        QProcessEnvironment x11 = QProcessEnvironment::systemEnvironment();
        x11.insert("DISPLAY", ':' + QString(server.readLine()).trimmed());
        x11.insert("QT_QPA_PLATFORM", "xcb");
        const auto xdo = [&](const QStringList &arguments) {
            QProcess tool;
            tool.setProcessEnvironment(x11);
            tool.start(xdotool, arguments);
            tool.waitForFinished(20000);
            return QString(tool.readAllStandardOutput()).trimmed();
        };

        make(2, R"({"RealizarPagamentoTEF": [
            {"codigo": 0, "tef": {"mensagemResultado": "DIGITE O CODIGO", "automacao_coleta_tipo": "N",
             "automacao_coleta_retorno": "0", "automacao_coleta_sequencial": "1"}},
            {"codigo": 0, "tef": {"resultadoTransacao": "0", "sequencial": "1"}}]})");
        // Waiting before the start: the window, otherwise built after the monitor watches, must
        // be whole before this request's prompt reaches it.
        QVERIFY(s->write("req/IntPos.001", request("CRT", 18)));
        QProcess *service = s->start("service.log", x11);
        QTRY_VERIFY_WITH_TIMEOUT(s->logged("automacao_coleta_tipo"), 30000);
        const QString window = xdo({"search", "--sync", "--onlyvisible", "--name", "Orvix Pay - Pagora"});
        QVERIFY(!window.isEmpty());
        xdo({"windowfocus", "--sync", window});
        QTest::qWait(500); // the prompt's signals reach the window a moment after the log line
        xdo({"key", "--delay", "100", "Tab", "4", "3", "2", "1", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(s->collected(), QString("|4321"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(s->read("resp/IntPos.001").contains("009-000 = 0"), 20000);
        service->terminate();
        QVERIFY(service->waitForFinished(30000));
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
