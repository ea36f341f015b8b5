#include "MessageCapture.h"
#include "TestController.h"
#include "app/WindowTypes.h"

#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QtTest>
#include <memory>

// The real window with a test controller, offscreen. Rows drive it with JavaScript in the
// window's own scope (so they name elements by their ids), keys and clicks, and read it back the
// same way; what the window asks of the controller is recorded as "OK <text> <state>",
// "VOLTAR", "CANCELAR", "show <0|1>" (showWindow) and "quit".
class tst_MainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TestController> controller;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;

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
        QQmlExpression expr(qmlContext(window), window, "(function() { " + statements + " })()");
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
        const auto row = [](const char *name, const QString &script, const char *input, const char *checks,
                            const QString &expected, const char *calls = "") {
            QTest::newRow(name) << script << input << checks << expected << calls;
        };
        row("shown at 720 x 550", "", "", "window.visible, window.width, window.height", "true|720|550");
        row("texts", "", "", "window.title, element.text, element1.text",
            "Orvix Pay - Pagora|Valor\nCartão|TEF em processamento....");
        row("error box hidden", "", "", "rectangle2.visible, element2.text", "false|ERRO");
        row("error timer: 3 s, single shot, stopped", "", "", "time.interval, time.repeat, time.running",
            "3000|false|false");
        row("text field shown and empty", "", "", "textField.visible, textField.text", "true|");
        row("option list hidden with two rows", "", "",
            "rec.visible, listmodel.get(0).name, listmodel.get(1).name", "false|VALOR 01|VALOR 01");
        row("buttons and busy bar shown", "", "",
            "button.visible, button1.visible, button2.visible, progressBar.visible, "
            "progressBar.indeterminate",
            "true|true|true|true|true");
        row("tray icon", "", "", "monitor.visible, monitor.tooltip, monitor.iconSource, menu.items[0].text",
            "true|Orvix Pagora\nServiço passivo de TEF|qrc:/Assets/orvixIconMonitor.png|Sair");
        row("picture and font", "", "", "image.status === Image.Ready, image.sourceSize, orvixFont.name",
            "true|QSize(324, 276)|Montserrat");
        row("tray icon picture", "", "",
            "Qt.createQmlObject('import QtQuick 2.15; Image {"
            " source: \"qrc:/Assets/orvixIconMonitor.png\" }', window).sourceSize",
            "QSize(315, 273)");
        row("tray icon type registered", "", "",
            "Qt.createQmlObject('import QSystemTrayIcon 1.0\\nQSystemTrayIcon {}', window).toString()"
            ".split('(')[0]",
            "QSystemTrayIcon");
        // Laid out right to left: OK ends 10 px from the window's edge, then VOLTAR, then CANCELAR.
        row("buttons right to left", "", "",
            "[button, button1, button2].map(function(b) { return b.mapToItem(null, b.width, 0).x })",
            "710,600,490");
        row("band, panel and busy bar placed", "", "",
            "rectangle.mapToItem(null, 0, 0).y, rectangle1.mapToItem(null, 0, 0).y,"
            " progressBar.mapToItem(null, 0, progressBar.height).y",
            "129|236|550");

        row("textChanged sets the message", "controller.textChanged('Insira ou passe o cartão')", "",
            "element1.text", "Insira ou passe o cartão");
        row("firstTextChanged sets the band label", "controller.firstTextChanged('Crédito\\nValor: R$ 1,00')",
            "", "element.text, element1.text", "Crédito\nValor: R$ 1,00|TEF em processamento....");
        row("textfiledChanged fills the field", "controller.textfiledChanged('1234')", "", "textField.text",
            "1234");
        const QStringList buttons{"disableButtonOK", "disableButtonVoltar", "disableButtonCancelar"};
        for (int i = 0; i < buttons.size(); ++i) {
            const QString hide = "controller." + buttons[i] + "(true);";
            QTest::addRow("%s true hides", qPrintable(buttons[i]))
                << hide << ""
                << "button.visible, button1.visible, button2.visible"
                << QString("true|true|true").replace(5 * i, 4, "false") << "";
            QTest::addRow("%s false shows again", qPrintable(buttons[i]))
                << hide + "controller." + buttons[i] + "(false)"
                << ""
                << "button.visible, button1.visible, button2.visible"
                << "true|true|true"
                << "";
        }
        row("disableTextField true hides, unfocuses and clears",
            "controller.disableTextField(false); controller.textfiledChanged('abc'); "
            "controller.disableTextField(true)",
            "", "textField.visible, textField.focus, textField.text", "false|false|");
        row("disableTextField false shows, focuses and clears",
            "controller.disableTextField(true); controller.textfiledChanged('abc'); "
            "controller.disableTextField(false)",
            "", "textField.visible, textField.activeFocus, textField.text", "true|true|");
        row("disableListView false shows and focuses the list", "controller.disableListView(false)", "",
            "rec.visible, rec.activeFocus", "true|true");
        row("disableListView true hides it again",
            "controller.disableListView(false); controller.disableListView(true)", "",
            "rec.visible, rec.focus", "false|false");
        row("disableProgressBar true hides the busy bar", "controller.disableProgressBar(true)", "",
            "progressBar.visible", "false");
        row("disableProgressBar false shows it again",
            "controller.disableProgressBar(true); controller.disableProgressBar(false)", "",
            "progressBar.visible", "true");
        row("addItemList numbers on after the two initial rows", "controller.addItemList('a')", "",
            "list.count, listmodel.get(2).name", "3| 3 - a");
        row("clearItemsList empties, addItemList numbers from 1",
            "controller.clearItemsList(); controller.addItemList('a'); controller.addItemList('b')", "",
            "list.count, listmodel.get(0).name, listmodel.get(1).name", "2| 1 - a| 2 - b");
        row("showMessageError shows the box and starts the timer",
            "controller.showMessageError('Preencha um valor!')", "",
            "rectangle2.visible, element2.text, time.running", "true|Preencha um valor!|true");
        row("an empty error hides the box at once",
            "controller.showMessageError('Selecione uma opção!'); controller.showMessageError('')", "",
            "rectangle2.visible, element2.text, time.running", "false||false");
        row("showWindow false hides", "controller.showWindow(false)", "", "window.visible", "false",
            "show 0");
        row("closing only hides", "window.close()", "", "window.visible", "false");
        row("responseProcessTEF leaves the window alone", "controller.responseProcessTEF('{}')", "",
            "window.visible, element1.text", "true|TEF em processamento....");
        row("showWindow true shows a hidden window",
            "controller.showWindow(false); controller.showWindow(true)", "", "window.visible", "true",
            "show 0, show 1");

        // Long texts stay inside their frames: nothing cut at the sides, nothing over the next element.
        const auto fits = [](const char *id) {
            return QString("%1.contentWidth <= %1.width - %1.leftPadding - %1.rightPadding && "
                           "%1.contentHeight <= %1.height - %1.topPadding - %1.bottomPadding, %1.truncated")
                .arg(id);
        };
        const QString words = QString("DIGITE OS QUATRO ULTIMOS DIGITOS DO CARTAO ").repeated(5);
        const auto band = [](const QString &text) {
            return "controller.firstTextChanged('R$ 5,00\\n" + text + "')";
        };
        QTest::newRow("a four-line band keeps every line inside")
            << band("INSIRA\\nOU PASSE\\nO CARTAO") << "" << fits("element") << "true|false"
            << "";
        QTest::newRow("a 200-character band label wraps inside")
            << band(words.left(200)) << "" << fits("element") << "true|false"
            << "";
        QTest::newRow("a band too long for any size is cut at its end")
            << band(words.repeated(10)) << "" << fits("element") << "true|true"
            << "";
        QTest::newRow("a long message stays above the field")
            << "controller.textChanged('" + words.repeated(10) + QString(120, 'X') + "')"
            << "" << fits("element1") << "true|true"
            << "";
        const QString list = "controller.clearItemsList(); controller.disableTextField(true);"
                             " controller.disableListView(false);";
        QTest::newRow("long options wrap inside the list")
            << list + "controller.addItemList('" + words + "'); controller.addItemList('" + words + "')"
            << ""
            << "[0, 1].every(function(i) { var row = list.itemAtIndex(i), t = row.children[1].children[0];"
               " return t.lineCount > 1 && t.contentWidth <= t.width && t.width <= list.width &&"
               " t.contentHeight <= row.height })"
            << "true"
            << "";
        row("twelve options: scroll bar, and the list follows the current row",
            list +
                "for (var i = 1; i <= 12; ++i) controller.addItemList('Opção ' + i); list.currentIndex = 7",
            "",
            "list.ScrollBar.vertical.visible,"
            " list.contentY > 0 && list.contentY + list.height >= list.itemAtIndex(7).y + 30",
            "true|true");

        // The keyboard: the field prefilled with "123", or a list of three options.
        const QString field = "controller.disableTextField(false); controller.textfiledChanged('123')";
        row("Enter keeps the prefilled value", field, "Enter", "textField.text", "123", "OK 123 1");
        row("Return keeps the prefilled value", field, "Return", "textField.text", "123", "OK 123 1");
        row("Escape in the field cancels", field, "Esc", "textField.text", "123", "CANCELAR");
        row("typing replaces the prefilled value", field, "9 Return", "textField.text", "9", "OK 9 1");
        row("Tab keeps the prompt: digits and Return answer", field, "Tab 4 3 2 1 Return", "textField.text",
            "4321", "OK 4321 1");
        row("Escape after Tab in the field cancels", field, "Tab Esc", "textField.text", "123", "CANCELAR");
        const QString three = list + "controller.addItemList('a'); controller.addItemList('b');"
                                     " controller.addItemList('c')";
        row("three options: no scroll bar, the first current", three, "",
            "list.ScrollBar.vertical.visible,"
            " list.currentIndex",
            "false|0");
        row("1 selects the first row", three, "2 1", "list.currentIndex", "0");
        row("3 selects the third row", three, "3", "list.currentIndex", "2");
        row("0 leaves no row, Enter sends -1", three, "2 0 Enter", "list.currentIndex", "-1", "OK -1 2");
        row("9 changes nothing", three, "2 9", "list.currentIndex", "1");
        row("a digit past the last row changes nothing", three, "2 4 8", "list.currentIndex", "1");
        row("Down moves to the next row", three, "1 Down", "list.currentIndex", "1");
        row("Down at the last row stays", three, "3 Down", "list.currentIndex", "2");
        row("Up moves to the previous row", three, "3 Up", "list.currentIndex", "1");
        row("Up at the first row stays", three, "1 Up", "list.currentIndex", "0");
        row("Enter sends the row", three, "2 Enter", "list.currentIndex", "1", "OK 1 2");
        row("Return sends the row", three, "3 Return", "list.currentIndex", "2", "OK 2 2");
        row("Escape in the list cancels", three, "Esc", "list.currentIndex", "0", "CANCELAR");
        row("Tab keeps the list: a digit and Return answer", three, "Tab 2 Return", "list.currentIndex", "1",
            "OK 1 2");
        row("Escape after Tab in the list cancels", three, "Tab Esc", "list.currentIndex", "0", "CANCELAR");

        // Buttons and the mouse; the keys stay with the field or the list.
        row("OK with the field shown sends its text with 1",
            "controller.disableTextField(false); controller.textfiledChanged('4321')", "click:button",
            "textField.activeFocus", "true", "OK 4321 1");
        row("OK with the field shown and empty sends the empty text", "", "click:button", "", "", "OK  1");
        row("OK with field and list hidden sends the list index with 2",
            "controller.disableTextField(true); controller.disableListView(true); list.currentIndex = 1",
            "click:button", "", "", "OK 1 2");
        row("VOLTAR", list, "click:button1", "rec.activeFocus", "true", "VOLTAR");
        row("CANCELAR", list, "click:button2", "rec.activeFocus", "true", "CANCELAR");
        row("clicking a row selects without confirming",
            "controller.disableTextField(true); controller.disableListView(false)",
            "click:list.itemAtIndex(1)", "list.currentIndex", "1", "debug click: 1");

        // The tray: activating it shows a hidden window only; "Sair" asks before quitting.
        const QString tray = "monitor.activated(SystemTrayIcon.Trigger)";
        row("tray shows a hidden window", "controller.showWindow(false);" + tray, "", "window.visible",
            "true", "show 0, show 1");
        row("tray hides a shown window", tray, "", "window.visible", "false", "show 0");
        row("tray hides a minimised window", "window.showMinimized();" + tray, "", "window.visible", "false",
            "show 0");
        const QString sair = "controller.showWindow(false); menu.items[0].triggered()";
        row("Sair shows the window with the question", sair, "",
            "window.visible, popup.opened, textInfo.text", "true|true|Deseja encerrar?", "show 0, show 1");
        row("Não closes without quitting", sair, "click:nao", "window.visible, popup.visible", "true|false",
            "show 0, show 1");
        row("Escape closes without quitting", sair, "Esc", "window.visible, popup.visible", "true|false",
            "show 0, show 1");
        row("Sim hides and quits", sair, "click:sim", "window.visible", "false",
            "show 0, show 1, show 0, quit");
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
        QTest::newRow("without an amount") << ""
                                           << "";
    }
    // What the previous sale left, the tray does not wipe; the next operation does, first of all,
    // and brings the window to the front.
    void newOperationStartsOnAFreshScreen() {
        QFETCH(QString, valor);
        QFETCH(QString, band);
        run("controller.firstTextChanged('R$ 123.456,78'); controller.textChanged('TRANSACAO APROVADA');"
            "controller.showMessageError('Selecione uma opção!'); controller.addItemList('Crédito');"
            "controller.disableListView(false); controller.disableTextField(false);"
            "controller.textfiledChanged('4321'); controller.showWindow(false);"
            "monitor.activated(SystemTrayIcon.Trigger)");
        QCOMPARE(values("window.visible, element1.text, element2.text, textField.text"),
                 QString("true|TRANSACAO APROVADA|Selecione uma opção!|4321"));
        run("controller.showWindow(false)");
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
        run(QString("time.interval = %1; controller.showMessageError('primeiro')").arg(interval));
        QElapsedTimer clock;
        clock.start();
        QTest::qWait(interval * 4 / 10);
        run("controller.showMessageError('segundo')");
        const qint64 second = clock.elapsed();
        QCOMPARE(values("rectangle2.visible, element2.text"), QString("true|segundo"));
        QTRY_COMPARE(values("rectangle2.visible, element2.text"), QString("false|"));
        // A timer restarted by the second error would hide the box only at second + interval.
        const qint64 hiddenAt = clock.elapsed();
        QVERIFY2(hiddenAt >= interval * 9 / 10 && hiddenAt < second + interval * 9 / 10,
                 qPrintable(QString::number(hiddenAt)));
    }

    // The screens as the controllers draw them: everything hidden, then what the screen shows.
    void rendering_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("picture");
        const QString blank =
            "controller.textChanged(''); controller.clearItemsList(); controller.disableTextField(true);"
            "controller.disableButtonVoltar(true); controller.disableProgressBar(true);";
        const QString menu =
            blank + "controller.firstTextChanged('R$ 5,00\\nLISTA DE OPERAÇÕES');"
                    "controller.textChanged('Selecione'); controller.addItemList('Pagamento débito');"
                    "controller.addItemList('Pagamento crédito'); controller.disableListView(false);";
        QTest::newRow("Pagora menu") << menu << "window-menu.png";
        QTest::newRow("text prompt with a prefilled value")
            << blank + "controller.firstTextChanged('R$ 5,00\\nNUMERO DO DOCUMENTO FISCAL');"
                       "controller.disableTextField(false); controller.textfiledChanged('123')"
            << "window-prefilled.png";
        QTest::newRow("twelve options")
            << blank + "controller.firstTextChanged('Venda Crédito\\n Valor: R$ 123,45');"
                       "controller.textChanged('Selecione a forma de pagamento');"
                       "['A vista', 'Parcelado pelo estabelecimento em até 12 vezes sem juros no cartão de "
                       "crédito da "
                       "bandeira', 'Parcelado pela administradora', 'Pré-datado', 'Crediário', 'Voucher "
                       "refeição',"
                       " 'Voucher alimentação', 'Frota', 'Private label', 'Saque', 'Recarga de celular',"
                       " 'Pagamento de conta'].forEach(function(o) { controller.addItemList(o) });"
                       "controller.disableListView(false)"
            << "window-long-list.png";
        QTest::newRow("four-line band")
            << blank +
                   "controller.firstTextChanged('R$ 5,00\\nAPROXIME, INSIRA OU PASSE O CARTAO NA LEITORA E "
                   "SIGA "
                   "AS INSTRUCOES QUE APARECEM NO VISOR DO PINPAD\\nCARTAO DE CREDITO\\nAGUARDE A SENHA');"
                   "controller.disableProgressBar(false)"
            << "window-long-band.png";
        QTest::newRow("error box")
            << menu + "list.currentIndex = -1; controller.showMessageError('Selecione uma opção!')"
            << "window-error.png";
    }
    // Checks the main colours where they must show, and saves the picture into the folder named
    // by Q7_WINDOW_PICTURES when that is set (how docs/ is refreshed).
    void rendering() {
        QFETCH(QString, script);
        QFETCH(QString, picture);
        run(script);
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
        // White window, blue band beside its label, white panel, blue buttons.
        QCOMPARE(at({5, 5}) + at({20, 180}) + at({40, 480}) + at(inside("button")) + at(inside("button2")),
                 QString("#ffffff#235493#ffffff#235493#235493"));
        const QString folder = qEnvironmentVariable("Q7_WINDOW_PICTURES");
        if (!folder.isEmpty())
            QVERIFY(image.save(QDir(folder).filePath(picture)));
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
