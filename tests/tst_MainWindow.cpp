#include "MessageCapture.h"
#include "TestController.h"
#include "app/WindowTypes.h"

#include <QTimer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QtTest>
#include <memory>

// The real window with a test controller, offscreen. Rows drive it with JavaScript in the
// window's own scope (elements by their ids, `c` the controller), keys and clicks, and read it
// back the same way; what the window asks of the controller is recorded as "OK <text> <state>",
// "VOLTAR", "CANCELAR", "show <0|1>" (showWindow) and "quit".
class tst_MainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TestController> controller;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
    QSemaphore operationEnds;

    QVariant eval(const QString &expression) {
        QQmlExpression expr(qmlContext(window), window, expression);
        const QVariant value = expr.evaluate();
        if (expr.hasError())
            qWarning() << expression << expr.error();
        return value;
    }
    // "a, b" → the values of a and b as "a|b".
    QString values(const QString &expressions) { return eval("[" + expressions + "].join('|')").toString(); }
    void run(const QString &statements) {
        QQmlExpression expr(qmlContext(window), window, "(function(c) { " + statements + " })(controller)");
        expr.evaluate();
        QVERIFY2(!expr.hasError(), qPrintable(statements + ": " + expr.error().toString()));
    }

private slots:
    void initTestCase() {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        registerWindowTypes();
    }
    void init() {
        controller = std::make_unique<TestController>();
        // An operation runs until the test ends.
        controller->operation = [this](TestController &) {
            operationEnds.acquire();
        };
        engine = std::make_unique<QQmlApplicationEngine>();
        QList<QQmlError> warnings;
        connect(engine.get(), &QQmlEngine::warnings, this,
                [&warnings](const QList<QQmlError> &list) { warnings += list; });
        connect(engine.get(), &QQmlEngine::quit, this, [this] { controller->calls << "quit"; });
        connect(controller.get(), &Base_Controller::showWindow, this,
                [this](bool show) { controller->calls << QString("show %1").arg(show); });
        engine->rootContext()->setContextProperty("controller", controller.get());
        engine->load(QUrl("qrc:/main.qml"));
        QCOMPARE(engine->rootObjects().size(), 1);
        window = qobject_cast<QQuickWindow *>(engine->rootObjects().first());
        QVERIFY(window && QTest::qWaitForWindowActive(window));
        QTRY_VERIFY(eval("orvixFont.status === FontLoader.Ready").toBool());
        for (const QQmlError &warning : qAsConst(warnings))
            qWarning() << warning;
        QVERIFY2(warnings.isEmpty(), "the window loads without QML warnings");
        disconnect(engine.get(), &QQmlEngine::warnings, this, nullptr);
    }
    void cleanup() {
        if (controller->isRunning())
            operationEnds.release();
        window = nullptr;
        engine.reset();
        controller.reset();
        // The window's scene graph goes away with deferred deletes; run them before the next test.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void reactions_data() {
        QTest::addColumn<QString>("script"); // statements run first
        QTest::addColumn<QString>("input");  // keys as QKeySequence names them, or "click:" an item
        QTest::addColumn<QString>("checks"); // expressions, compared as "a|b"
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("calls");
        const auto row = [](const char *name, const QString &script, const char *input, const QString &checks,
                            const QString &expected, const char *calls = "") {
            QTest::newRow(name) << script << input << checks << expected << calls;
        };

        const QString buttons = "button.visible, button1.visible, button2.visible, progressBar.visible";
        row("texts; responseProcessTEF leaves the window alone",
            "c.firstTextChanged('Crédito'); c.textChanged('Insira'); c.textfiledChanged('1234');"
            " c.responseProcessTEF('{}')",
            "", "element.text, element1.text, textField.text, window.visible", "Crédito|Insira|1234|true");
        row("disableButtonVoltar and disableProgressBar true hide",
            "c.disableButtonVoltar(true); c.disableProgressBar(true)", "", buttons, "true|false|true|false");
        row("disableButtonOK, disableButtonCancelar and disableProgressBar, false shows again",
            "c.disableButtonOK(true); c.disableButtonCancelar(true); c.disableButtonOK(false);"
            " c.disableProgressBar(true); c.disableProgressBar(false)",
            "", buttons, "true|true|false|true");
        row("disableTextField true hides, unfocuses and clears",
            "c.disableTextField(false); c.textfiledChanged('abc'); "
            "c.disableTextField(true)",
            "", "textField.visible, textField.focus, textField.text", "false|false|");
        row("disableTextField false shows, focuses and clears",
            "c.disableTextField(true); c.textfiledChanged('abc'); "
            "c.disableTextField(false)",
            "", "textField.visible, textField.activeFocus, textField.text", "true|true|");
        row("disableListView true hides it again", "c.disableListView(false); c.disableListView(true)", "",
            "rec.visible, rec.focus", "false|false");
        row("clearItemsList empties, addItemList numbers from 1",
            "c.clearItemsList(); c.addItemList('a'); c.addItemList('b')", "",
            "list.count, listmodel.get(0).name, listmodel.get(1).name", "2| 1 - a| 2 - b");
        const QString error = "rectangle2.visible, element2.text, time.running";
        row("showMessageError shows the box and starts the timer", "c.showMessageError('Preencha!')", "",
            error, "true|Preencha!|true");
        row("an empty error hides the box at once",
            "c.showMessageError('Selecione!'); c.showMessageError('')", "", error, "false||false");
        row("closing only hides", "window.close()", "", "window.visible", "false");

        // Long texts stay inside their frames: nothing cut at the sides, nothing over the next element.
        const auto fits = [](const char *id) {
            return QString("%1.contentWidth <= %1.width - %1.leftPadding - %1.rightPadding && "
                           "%1.contentHeight <= %1.height - %1.topPadding - %1.bottomPadding, %1.truncated")
                .arg(id);
        };
        const QString words = QString("DIGITE OS QUATRO ULTIMOS DIGITOS DO CARTAO ").repeated(5);
        const auto band = [](const QString &text) {
            return "c.firstTextChanged('R$ 5,00\\n" + text + "')";
        };
        row("a four-line band keeps every line inside", band("INSIRA\\nOU PASSE\\nO CARTAO"), "",
            fits("element"), "true|false");
        row("a 200-character band label wraps inside", band(words.left(200)), "", fits("element"),
            "true|false");
        row("a band too long for any size is cut at its end", band(words.repeated(10)), "", fits("element"),
            "true|true");
        row("a long message stays above the field",
            "c.textChanged('" + words.repeated(10) + QString(120, 'X') + "')", "", fits("element1"),
            "true|true");
        const QString list = "c.clearItemsList(); c.disableTextField(true);"
                             " c.disableListView(false);";
        row("long options wrap inside the list",
            list + "c.addItemList('" + words + "'); c.addItemList('" + words + "')", "",
            "[0, 1].every(function(i) { var row = list.itemAtIndex(i), t = row.children[1].children[0];"
            " return t.lineCount > 1 && t.contentWidth <= t.width && t.width <= list.width &&"
            " t.contentHeight <= row.height })",
            "true");
        row("twelve options: scroll bar, and the list follows the current row",
            list + "for (var i = 1; i <= 12; ++i) c.addItemList('Opção ' + i); list.currentIndex = 7", "",
            "list.ScrollBar.vertical.visible,"
            " list.contentY > 0 && list.contentY + list.height >= list.itemAtIndex(7).y + 30",
            "true|true");

        // The keyboard: the field prefilled with "123", or a list of three options.
        const QString field = "c.disableTextField(false); c.textfiledChanged('123')";
        row("Enter keeps the prefilled value", field, "Enter", "textField.text", "123", "OK 123 1");
        row("typing replaces the prefilled value", field, "9 Return", "textField.text", "9", "OK 9 1");
        row("Tab keeps the prompt: digits and Return answer", field, "Tab 4 3 2 1 Return", "textField.text",
            "4321", "OK 4321 1");
        row("Escape after Tab in the field cancels", field, "Tab Esc", "textField.text", "123", "CANCELAR");
        const QString three = list + "c.addItemList('a'); c.addItemList('b');"
                                     " c.addItemList('c')";
        row("three options: no scroll bar, the first current", three, "",
            "list.ScrollBar.vertical.visible, list.currentIndex", "false|0");
        row("1 selects the first row", three, "2 1", "list.currentIndex", "0");
        row("3 selects the third row", three, "3", "list.currentIndex", "2");
        row("0 leaves no row, Enter sends -1", three, "2 0 Enter", "list.currentIndex", "-1", "OK -1 2");
        row("a digit past the last row changes nothing", three, "2 4 9", "list.currentIndex", "1");
        row("Down moves to the next row, not past the last", three, "2 Down Down", "list.currentIndex", "2");
        row("Up moves to the previous row, not past the first", three, "2 Up Up", "list.currentIndex", "0");
        row("Tab keeps the list: a digit and Return answer", three, "Tab 2 Return", "list.currentIndex", "1",
            "OK 1 2");
        row("Escape after Tab in the list cancels", three, "Tab Esc", "list.currentIndex", "0", "CANCELAR");

        // Buttons and the mouse; the keys stay with the field or the list.
        row("OK with the field shown sends its text with 1",
            "c.disableTextField(false); c.textfiledChanged('4321')", "click:button", "textField.activeFocus",
            "true", "OK 4321 1");
        row("OK with field and list hidden sends the list index with 2",
            "c.disableTextField(true); c.disableListView(true); list.currentIndex = 1", "click:button", "",
            "", "OK 1 2");
        row("VOLTAR", list, "click:button1", "rec.activeFocus", "true", "VOLTAR");
        row("CANCELAR", list, "click:button2", "rec.activeFocus", "true", "CANCELAR");
        row("clicking a row selects without confirming", "c.disableTextField(true); c.disableListView(false)",
            "click:list.itemAtIndex(1)", "list.currentIndex", "1", "debug click: 1");

        // The tray: activating it shows a hidden window only; "Sair" asks before quitting.
        const QString tray = "monitor.activated(SystemTrayIcon.Trigger)";
        row("tray shows a hidden window", "c.showWindow(false);" + tray, "", "window.visible", "true",
            "show 0, show 1");
        row("tray hides a shown window", tray, "", "window.visible", "false", "show 0");
        const QString sair = "c.showWindow(false); menu.items[0].triggered()";
        row("Não closes without quitting", sair, "click:nao", "window.visible, popup.visible", "true|false",
            "show 0, show 1");
        row("Sim hides and quits", sair, "click:sim", "window.visible", "false",
            "show 0, show 1, show 0, quit");
        row("Sair during an operation only says so", "c.start();" + sair, "click:nao",
            "textInfo.text, sim.visible, popup.visible",
            "Operação TEF em andamento.\nAguarde o fim para encerrar.|false|false", "show 0, show 1");
    }
    void reactions() {
        QFETCH(QString, script);
        QFETCH(QString, input);
        QFETCH(QString, checks);
        QFETCH(QString, expected);
        QFETCH(QString, calls);
        const MessageCapture clicks("click:");
        run(script);
        QTRY_VERIFY(eval("!popup.visible || popup.opened").toBool()); // done opening
        for (const QString &step : input.split(' ', Qt::SkipEmptyParts)) {
            if (!step.startsWith("click:")) {
                QTest::keyClick(window, Qt::Key(QKeySequence(step)[0]));
                continue;
            }
            QQuickItem *target = window->findChild<QQuickItem *>(step.mid(6));
            target = target ? target : qvariant_cast<QQuickItem *>(eval(step.mid(6)));
            QVERIFY(target);
            QTest::mouseClick(window, Qt::LeftButton, {},
                              target->mapToScene({target->width() / 2, target->height() / 2}).toPoint());
        }
        QTRY_COMPARE(values(checks), expected);
        QTRY_COMPARE((controller->calls + MessageCapture::lines()).join(", "), calls);
    }

    void newOperationStartsOnAFreshScreen_data() {
        QTest::addColumn<QString>("valor");
        QTest::addColumn<QString>("band");
        QTest::newRow("with an amount") << "500" << TestController::formatCurrency("500");
        QTest::newRow("without an amount") << QString() << QString();
    }
    // What the previous sale left, the tray does not wipe; the next operation does, first of all,
    // and brings the window to the front.
    void newOperationStartsOnAFreshScreen() {
        QFETCH(QString, valor);
        QFETCH(QString, band);
        run("c.firstTextChanged('R$ 123.456,78'); c.textChanged('TRANSACAO APROVADA');"
            "c.showMessageError('Selecione uma opção!'); c.addItemList('Crédito');"
            "c.disableListView(false); c.disableTextField(false);"
            "c.textfiledChanged('4321'); c.showWindow(false);"
            "monitor.activated(SystemTrayIcon.Trigger)");
        QCOMPARE(values("window.visible, element1.text, element2.text, textField.text"),
                 QString("true|TRANSACAO APROVADA|Selecione uma opção!|4321"));
        run("c.showWindow(false)");
        const MessageCapture capture; // the Base_Controller lines
        controller->operation = [valor](TestController &c) {
            c.clearScreen(valor);
            c.bringWindowToFront();
            emit c.showWindow(true);
        };
        controller->start();
        QVERIFY(controller->wait(10000));
        QTRY_COMPARE(MessageCapture::lines(), QStringList{"info [Base_Controller] Janela travada no front"});
        QTRY_VERIFY(window->isVisible());
        QCOMPARE(
            values("element.text, element1.text, element2.text, textField.text, list.count, time.running,"
                   "[rectangle2, textField, rec, button, button1, button2].some(function(i) { return "
                   "i.visible })"),
            band + "||||0|false|false");
        QVERIFY(window->flags().testFlag(Qt::WindowStaysOnTopHint));
        QTRY_COMPARE(QGuiApplication::focusWindow(), window);
    }

    void errorBoxHidesAfterTheFirstErrorOfABurst() {
        const int interval = 1000; // shrunk from 3000 ms; the timer is the window's own
        run(QString("time.interval = %1; c.showMessageError('primeiro')").arg(interval));
        QTest::qWait(interval * 4 / 10);
        run("c.showMessageError('segundo')");
        QCOMPARE(values("rectangle2.visible, element2.text"), QString("true|segundo"));
        // Timers fire in the order of their deadlines, however busy the machine: the window's,
        // started with the first error, comes before this one; restarted by the second, after it.
        QString when;
        QTimer::singleShot(interval - interval / 5, this,
                           [&] { when = values("rectangle2.visible, element2.text"); });
        QTRY_VERIFY(!when.isEmpty());
        QCOMPARE(when, QString("false|"));
    }

    // The screens as the controllers draw them: everything hidden, then what the screen shows.
    // The window paints: white, a blue band beside its label, a white panel, blue buttons. (The
    // README's pictures come from tools/window_pictures.)
    void rendering() {
        run("c.firstTextChanged('R$ 5,00\\nLISTA DE OPERAÇÕES'); c.addItemList('Pagamento débito');"
            "c.disableListView(false)");
        QTRY_VERIFY(eval("image.status === Image.Ready").toBool());
        QTest::qWait(100);
        // QQuickWindow::grabWindow() gives a null image with the software scene graph on the
        // offscreen platform; the screen grab reads the frame the window last showed.
        const QImage image = window->screen()->grabWindow(window->winId()).toImage();
        QCOMPARE(image.size(), QSize(720, 550));
        const auto at = [&image](const QPointF &point) {
            return image.pixelColor(point.toPoint()).name();
        };
        const auto inside = [this](const char *name) {
            return window->findChild<QQuickItem *>(name)->mapToScene({4, 4});
        };
        QCOMPARE(at({5, 5}) + at({20, 180}) + at({40, 480}) + at(inside("button")) + at(inside("button2")),
                 QString("#ffffff#235493#ffffff#235493#235493"));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
