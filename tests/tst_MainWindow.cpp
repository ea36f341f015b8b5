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
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QtTest>
#include <memory>

// (JavaScript expression in the window's scope, expected value as text)
using Checks = QVector<QPair<QString, QString>>;
Q_DECLARE_METATYPE(Checks)

// Loads the real window with a test controller, offscreen. Signals are emitted and state is
// read through JavaScript in the window's own scope, so rows name elements by their ids.
class tst_MainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void assets();
    void trayIconTypeIsRegistered();
    void initialState_data();
    void initialState();
    void signalReactions_data();
    void signalReactions();
    void signalsFromTheControllerThreadArriveInOrder();
    void errorBoxHidesAfterTheFirstErrorOfABurst();
    void textFieldKeys_data();
    void textFieldKeys();
    void optionListKeys_data();
    void optionListKeys();
    void buttons_data();
    void buttons();
    void clickingARowSelectsWithoutConfirming();
    void trayIconActivation_data();
    void trayIconActivation();
    void quitQuestion_data();
    void quitQuestion();
    void closeButtonOnlyHides();
    void bringWindowToFrontFindsTheWindow();
    void rendering_data();
    void rendering();

private:
    QVariant eval(const QString &expression);
    void run(const QStringList &script);
    QQuickItem *item(const char *objectName);
    void click(QQuickItem *target);

    std::unique_ptr<TestController> controller;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow *window = nullptr;
};

void tst_MainWindow::initTestCase() {
    QGuiApplication::setQuitOnLastWindowClosed(false);
    registerWindowTypes();
}

void tst_MainWindow::init() {
    controller = std::make_unique<TestController>();
    engine = std::make_unique<QQmlApplicationEngine>();
    QList<QQmlError> warnings;
    connect(engine.get(), &QQmlEngine::warnings, this,
            [&warnings](const QList<QQmlError> &list) { warnings += list; });
    engine->rootContext()->setContextProperty(QStringLiteral("controller"), controller.get());
    engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    QCOMPARE(engine->rootObjects().size(), 1);
    window = qobject_cast<QQuickWindow *>(engine->rootObjects().first());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTRY_COMPARE(eval(QStringLiteral("orvixFont.status === FontLoader.Ready")).toBool(), true);
    for (const QQmlError &warning : qAsConst(warnings))
        qWarning() << warning;
    QVERIFY2(warnings.isEmpty(), "the window loads without QML warnings");
    disconnect(engine.get(), &QQmlEngine::warnings, this, nullptr);
}

void tst_MainWindow::cleanup() {
    window = nullptr;
    engine.reset();
    controller.reset();
    // The window's scene graph goes away with deferred deletes; run them before the next test.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QVariant tst_MainWindow::eval(const QString &expression) {
    QQmlExpression expr(qmlContext(window), window, expression);
    const QVariant value = expr.evaluate();
    if (expr.hasError())
        qWarning() << expression << expr.error();
    return value;
}

void tst_MainWindow::run(const QStringList &script) {
    for (const QString &statement : script) {
        QQmlExpression expr(qmlContext(window), window, statement);
        expr.evaluate();
        if (expr.hasError())
            QFAIL(qPrintable(statement + QLatin1String(": ") + expr.error().toString()));
    }
}

QQuickItem *tst_MainWindow::item(const char *objectName) {
    return window->findChild<QQuickItem *>(QLatin1String(objectName));
}

void tst_MainWindow::click(QQuickItem *target) {
    QVERIFY(target);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

void tst_MainWindow::assets() {
    QCOMPARE(QImage(QStringLiteral(":/Assets/orvix-pay.JPG")).size(), QSize(324, 276));
    QCOMPARE(QImage(QStringLiteral(":/Assets/orvixIconMonitor.png")).size(), QSize(315, 273));
    QCOMPARE(eval(QStringLiteral("image.status === Image.Ready")).toBool(), true);
    QCOMPARE(eval(QStringLiteral("orvixFont.name")).toString(), QStringLiteral("Montserrat"));
}

void tst_MainWindow::trayIconTypeIsRegistered() {
    QQmlComponent component(engine.get());
    component.setData("import QSystemTrayIcon 1.0\nQSystemTrayIcon {}", QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QVERIFY(qobject_cast<QSystemTrayIcon *>(object.get()));
}

void tst_MainWindow::initialState_data() {
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const char *expression, const char *expected) {
        QTest::newRow(name) << QString::fromUtf8(expression) << QString::fromUtf8(expected);
    };
    row("shown at 720 x 550", "window.visible + ' ' + window.width + 'x' + window.height", "true 720x550");
    row("texts", "window.title + '|' + element.text + '|' + element1.text",
        "Orvix Pay - Pagora|Valor\nCartão|TEF em processamento....");
    row("error box hidden", "rectangle2.visible + ' ' + element2.text", "false ERRO");
    row("error timer: 3 s, single shot, stopped", "time.interval + ' ' + time.repeat + ' ' + time.running",
        "3000 false false");
    row("text field shown and empty", "textField.visible + ' [' + textField.text + ']'", "true []");
    row("option list hidden with two rows",
        "rec.visible + ' ' + listmodel.get(0).name + '|' + listmodel.get(1).name", "false VALOR 01|VALOR 01");
    row("buttons and busy bar shown",
        "[button, button1, button2, progressBar].every(function(i) { return i.visible }) && "
        "progressBar.indeterminate",
        "true");
    row("tray icon",
        "monitor.visible + '|' + monitor.tooltip + '|' + monitor.iconSource + '|' + menu.items[0].text",
        "true|Orvix Pagora\nServiço passivo de TEF|qrc:/Assets/orvixIconMonitor.png|Sair");
    // Laid out right to left: OK ends 10 px from the window's edge, then VOLTAR, then CANCELAR.
    row("buttons right to left",
        "[button, button1, button2].map(function(b) { return b.mapToItem(null, b.width, 0).x }).join(' ')",
        "710 600 490");
    row("band, panel and busy bar placed",
        "[rectangle.mapToItem(null, 0, 0).y, rectangle1.mapToItem(null, 0, 0).y,"
        " progressBar.mapToItem(null, 0, progressBar.height).y].join(' ')",
        "129 236 550");
}

void tst_MainWindow::initialState() {
    QFETCH(QString, expression);
    QFETCH(QString, expected);
    QCOMPARE(eval(expression).toString(), expected);
}

void tst_MainWindow::signalReactions_data() {
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<Checks>("checks");

    QTest::newRow("textChanged sets the message")
        << QStringList{"controller.textChanged('Insira ou passe o cartão')"}
        << Checks{{"element1.text", "Insira ou passe o cartão"}};
    QTest::newRow("firstTextChanged sets the band label")
        << QStringList{"controller.firstTextChanged('Crédito\\nValor: R$ 1,00')"}
        << Checks{{"element.text", "Crédito\nValor: R$ 1,00"}, {"element1.text", "TEF em processamento...."}};
    QTest::newRow("textfiledChanged fills the field")
        << QStringList{"controller.textfiledChanged('1234')"} << Checks{{"textField.text", "1234"}};

    const char *const buttons[][2] = {{"disableButtonOK", "button"},
                                      {"disableButtonVoltar", "button1"},
                                      {"disableButtonCancelar", "button2"}};
    for (const auto &b : buttons) {
        const QString signal = QLatin1String(b[0]);
        const QString id = QLatin1String(b[1]);
        QTest::newRow(qPrintable(signal + " true hides"))
            << QStringList{"controller." + signal + "(true)"}
            << Checks{{id + ".visible", "false"},
                      {"[button.visible, button1.visible, button2.visible].filter(Boolean).length", "2"}};
        QTest::newRow(qPrintable(signal + " false shows again"))
            << QStringList{"controller." + signal + "(true)", "controller." + signal + "(false)"}
            << Checks{{id + ".visible", "true"}};
    }

    QTest::newRow("disableTextField true hides, unfocuses and clears")
        << QStringList{"controller.disableTextField(false)", "controller.textfiledChanged('abc')",
                       "controller.disableTextField(true)"}
        << Checks{{"textField.visible", "false"}, {"textField.focus", "false"}, {"textField.text", ""}};
    QTest::newRow("disableTextField false shows, focuses and clears")
        << QStringList{"controller.disableTextField(true)", "controller.textfiledChanged('abc')",
                       "controller.disableTextField(false)"}
        << Checks{{"textField.visible", "true"}, {"textField.activeFocus", "true"}, {"textField.text", ""}};
    QTest::newRow("text after disableTextField false stays")
        << QStringList{"controller.disableTextField(false)", "controller.textfiledChanged('42')"}
        << Checks{{"textField.visible", "true"}, {"textField.text", "42"}};

    QTest::newRow("disableListView false shows and focuses the list")
        << QStringList{"controller.disableListView(false)"}
        << Checks{{"rec.visible", "true"}, {"rec.activeFocus", "true"}};
    QTest::newRow("disableListView true hides it again")
        << QStringList{"controller.disableListView(false)", "controller.disableListView(true)"}
        << Checks{{"rec.visible", "false"}, {"rec.focus", "false"}};

    QTest::newRow("disableProgressBar true hides the busy bar")
        << QStringList{"controller.disableProgressBar(true)"} << Checks{{"progressBar.visible", "false"}};
    QTest::newRow("disableProgressBar false shows it again")
        << QStringList{"controller.disableProgressBar(true)", "controller.disableProgressBar(false)"}
        << Checks{{"progressBar.visible", "true"}};

    QTest::newRow("addItemList numbers on after the two initial rows")
        << QStringList{"controller.addItemList('a')"}
        << Checks{{"list.count", "3"}, {"listmodel.get(2).name", " 3 - a"}};
    QTest::newRow("addItemList after clearItemsList numbers from 1")
        << QStringList{"controller.clearItemsList()", "controller.addItemList('a')",
                       "controller.addItemList('b')", "controller.addItemList('c')"}
        << Checks{{"list.count", "3"},
                  {"[0, 1, 2].map(function(i) { return listmodel.get(i).name }).join('|')",
                   " 1 - a| 2 - b| 3 - c"}};
    QTest::newRow("clearItemsList empties the list")
        << QStringList{"controller.clearItemsList()"} << Checks{{"list.count", "0"}};

    QTest::newRow("showMessageError shows the box and starts the timer")
        << QStringList{"controller.showMessageError('Preencha um valor!')"}
        << Checks{{"rectangle2.visible", "true"},
                  {"element2.text", "Preencha um valor!"},
                  {"time.running", "true"}};

    QTest::newRow("showWindow false hides")
        << QStringList{"controller.showWindow(false)"} << Checks{{"window.visible", "false"}};
    QTest::newRow("showWindow true shows a hidden window")
        << QStringList{"controller.showWindow(false)", "controller.showWindow(true)"}
        << Checks{{"window.visible", "true"}};

    QTest::newRow("responseProcessTEF leaves the window alone")
        << QStringList{"controller.responseProcessTEF('{}')"}
        << Checks{{"window.visible", "true"}, {"element1.text", "TEF em processamento...."}};
}

void tst_MainWindow::signalReactions() {
    QFETCH(QStringList, script);
    QFETCH(Checks, checks);
    run(script);
    for (const auto &check : checks)
        QTRY_COMPARE(eval(check.first).toString(), check.second);
    QVERIFY(controller->calls.isEmpty());
}

void tst_MainWindow::signalsFromTheControllerThreadArriveInOrder() {
    controller->operation = [](TestController &c) {
        emit c.clearItemsList();
        emit c.addItemList(QStringLiteral("Crédito"));
        emit c.addItemList(QStringLiteral("Débito"));
        emit c.disableTextField(true);
        emit c.textChanged(QStringLiteral("primeiro"));
        emit c.textChanged(QStringLiteral("segundo"));
        emit c.disableListView(false);
    };
    controller->start();
    QVERIFY(controller->wait(10000));
    QTRY_COMPARE(eval(QStringLiteral("element1.text")).toString(), QStringLiteral("segundo"));
    QCOMPARE(eval(QStringLiteral("listmodel.get(1).name")).toString(), QStringLiteral(" 2 - Débito"));
    QCOMPARE(eval(QStringLiteral("textField.visible")).toBool(), false);
    QCOMPARE(eval(QStringLiteral("rec.visible && rec.activeFocus")).toBool(), true);
}

void tst_MainWindow::errorBoxHidesAfterTheFirstErrorOfABurst() {
    // Shrunk from 3000 ms; the timer is the window's own.
    const int interval = 1000;
    run({QStringLiteral("time.interval = %1").arg(interval)});
    QElapsedTimer clock;
    run({QStringLiteral("controller.showMessageError('primeiro')")});
    clock.start();
    QTest::qWait(interval * 4 / 10);
    run({QStringLiteral("controller.showMessageError('segundo')")});
    const qint64 second = clock.elapsed();
    QCOMPARE(eval(QStringLiteral("element2.text")).toString(), QStringLiteral("segundo"));
    QCOMPARE(eval(QStringLiteral("rectangle2.visible")).toBool(), true);

    QTRY_COMPARE(eval(QStringLiteral("rectangle2.visible")).toBool(), false);
    const qint64 hiddenAt = clock.elapsed();
    QCOMPARE(eval(QStringLiteral("element2.text")).toString(), QString());
    // A timer restarted by the second error would hide the box only at second + interval.
    QVERIFY2(hiddenAt >= interval * 9 / 10, qPrintable(QString::number(hiddenAt)));
    QVERIFY2(hiddenAt < second + interval * 9 / 10, qPrintable(QString::number(hiddenAt)));
}

void tst_MainWindow::textFieldKeys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("text");

    QTest::newRow("Enter confirms the text") << int(Qt::Key_Enter) << QStringList{"OK 1234 1"} << "1234";
    QTest::newRow("Return confirms the text") << int(Qt::Key_Return) << QStringList{"OK 1234 1"} << "1234";
    QTest::newRow("Escape cancels") << int(Qt::Key_Escape) << QStringList{"CANCELAR"} << "1234";
    QTest::newRow("a digit is typed") << int(Qt::Key_5) << QStringList{} << "12345";
}

void tst_MainWindow::textFieldKeys() {
    QFETCH(int, key);
    QFETCH(QStringList, calls);
    QFETCH(QString, text);
    run({"controller.disableTextField(false)", "controller.textfiledChanged('1234')"});
    QTRY_VERIFY(item("textField")->hasActiveFocus());
    QTest::keyClick(window, Qt::Key(key));
    QCOMPARE(controller->calls, calls);
    QCOMPARE(eval(QStringLiteral("textField.text")).toString(), text);
}

void tst_MainWindow::optionListKeys_data() {
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("currentIndex");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("1 selects the first row") << QList<int>{Qt::Key_1} << 0 << QStringList{};
    QTest::newRow("3 selects the third row") << QList<int>{Qt::Key_3} << 2 << QStringList{};
    QTest::newRow("0 leaves no row, Enter sends -1")
        << QList<int>{Qt::Key_2, Qt::Key_0, Qt::Key_Enter} << -1 << QStringList{"OK -1 2"};
    QTest::newRow("9 changes nothing") << QList<int>{Qt::Key_2, Qt::Key_9} << 1 << QStringList{};
    QTest::newRow("a digit past the last row changes nothing")
        << QList<int>{Qt::Key_2, Qt::Key_4, Qt::Key_8} << 1 << QStringList{};
    QTest::newRow("Down moves to the next row") << QList<int>{Qt::Key_1, Qt::Key_Down} << 1 << QStringList{};
    QTest::newRow("Down at the last row stays") << QList<int>{Qt::Key_3, Qt::Key_Down} << 2 << QStringList{};
    QTest::newRow("Up moves to the previous row") << QList<int>{Qt::Key_3, Qt::Key_Up} << 1 << QStringList{};
    QTest::newRow("Up at the first row stays") << QList<int>{Qt::Key_1, Qt::Key_Up} << 0 << QStringList{};
    QTest::newRow("Enter sends the row")
        << QList<int>{Qt::Key_2, Qt::Key_Enter} << 1 << QStringList{"OK 1 2"};
    QTest::newRow("Return sends the row")
        << QList<int>{Qt::Key_3, Qt::Key_Return} << 2 << QStringList{"OK 2 2"};
    QTest::newRow("Escape cancels") << QList<int>{Qt::Key_Escape} << 0 << QStringList{"CANCELAR"};
}

void tst_MainWindow::optionListKeys() {
    QFETCH(QList<int>, keys);
    QFETCH(int, currentIndex);
    QFETCH(QStringList, calls);
    run({"controller.clearItemsList()", "controller.addItemList('a')", "controller.addItemList('b')",
         "controller.addItemList('c')", "controller.disableTextField(true)",
         "controller.disableListView(false)"});
    QTRY_VERIFY(item("rec")->hasActiveFocus());
    QCOMPARE(eval(QStringLiteral("list.currentIndex")).toInt(), 0);
    for (int key : keys)
        QTest::keyClick(window, Qt::Key(key));
    QCOMPARE(eval(QStringLiteral("list.currentIndex")).toInt(), currentIndex);
    QCOMPARE(controller->calls, calls);
}

void tst_MainWindow::buttons_data() {
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("OK with the field shown sends its text with 1")
        << QStringList{"controller.textfiledChanged('4321')"} << "button" << QStringList{"OK 4321 1"};
    QTest::newRow("OK with the field shown and empty sends the empty text")
        << QStringList{} << "button" << QStringList{"OK  1"};
    QTest::newRow("OK with field and list hidden sends the list index with 2")
        << QStringList{"controller.textfiledChanged('4321')", "controller.disableTextField(true)",
                       "controller.disableListView(true)", "list.currentIndex = 1"}
        << "button" << QStringList{"OK 1 2"};
    QTest::newRow("OK with the field hidden and no row sends -1 with 2")
        << QStringList{"controller.disableTextField(true)", "controller.disableListView(false)",
                       "list.currentIndex = -1"}
        << "button" << QStringList{"OK -1 2"};
    QTest::newRow("VOLTAR") << QStringList{} << "button1" << QStringList{"VOLTAR"};
    QTest::newRow("CANCELAR") << QStringList{} << "button2" << QStringList{"CANCELAR"};
}

void tst_MainWindow::buttons() {
    QFETCH(QStringList, script);
    QFETCH(QString, button);
    QFETCH(QStringList, calls);
    run(script);
    click(item(qPrintable(button)));
    QCOMPARE(controller->calls, calls);
}

void tst_MainWindow::clickingARowSelectsWithoutConfirming() {
    run({"controller.disableTextField(true)", "controller.disableListView(false)"});
    QQuickItem *rec = item("rec");
    QCOMPARE(eval(QStringLiteral("list.currentIndex")).toInt(), 0);
    QTest::ignoreMessage(QtDebugMsg, "click: 1");
    const QPoint secondRow = rec->mapToScene(QPointF(40, 45)).toPoint();
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, secondRow);
    QCOMPARE(eval(QStringLiteral("list.currentIndex")).toInt(), 1);
    QVERIFY(controller->calls.isEmpty());
}

void tst_MainWindow::trayIconActivation_data() {
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<bool>("visible");

    QTest::newRow("hidden window is shown") << QStringList{"controller.showWindow(false)"} << true;
    QTest::newRow("shown window is hidden") << QStringList{} << false;
    QTest::newRow("minimised window is hidden") << QStringList{"window.showMinimized()"} << false;
}

void tst_MainWindow::trayIconActivation() {
    QFETCH(QStringList, script);
    QFETCH(bool, visible);
    run(script);
    QSignalSpy showWindow(controller.get(), &Base_Controller::showWindow);
    run({"monitor.activated(SystemTrayIcon.Trigger)"});
    QCOMPARE(showWindow.count(), 1);
    QCOMPARE(showWindow.at(0).at(0).toBool(), visible);
    QCOMPARE(window->isVisible(), visible);
}

void tst_MainWindow::quitQuestion_data() {
    QTest::addColumn<QString>("answer"); // the button's object name, or "Escape"
    QTest::newRow("Não closes without quitting") << "nao";
    QTest::newRow("Escape closes without quitting") << "Escape";
    QTest::newRow("Sim hides and quits") << "sim";
}

// "Sair" in the tray menu shows the hidden window with the question.
void tst_MainWindow::quitQuestion() {
    QFETCH(QString, answer);
    run({"controller.showWindow(false)"});
    QSignalSpy quit(engine.get(), &QQmlEngine::quit);
    QSignalSpy showWindow(controller.get(), &Base_Controller::showWindow);
    run({"menu.items[0].triggered()"});
    QCOMPARE(showWindow.count(), 1);
    QCOMPARE(showWindow.at(0).at(0).toBool(), true);
    QVERIFY(window->isVisible());
    QTRY_COMPARE(eval(QStringLiteral("popup.opened")).toBool(), true);
    QCOMPARE(eval(QStringLiteral("textInfo.text")).toString(), QStringLiteral("Deseja encerrar?"));

    if (answer == QLatin1String("Escape"))
        QTest::keyClick(window, Qt::Key_Escape);
    else
        click(window->findChild<QQuickItem *>(answer));
    if (answer == QLatin1String("sim")) {
        QCOMPARE(showWindow.count(), 2);
        QCOMPARE(showWindow.at(1).at(0).toBool(), false);
        QVERIFY(!window->isVisible());
        QTRY_COMPARE(quit.count(), 1);
    } else {
        QTRY_COMPARE(eval(QStringLiteral("popup.visible")).toBool(), false);
        QVERIFY(window->isVisible());
        QCOMPARE(quit.count(), 0);
        QCOMPARE(showWindow.count(), 1);
    }
    QVERIFY(controller->calls.isEmpty());
}

void tst_MainWindow::closeButtonOnlyHides() {
    QSignalSpy quit(engine.get(), &QQmlEngine::quit);
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QCOMPARE(engine->rootObjects().size(), 1);
    QCOMPARE(quit.count(), 0);
    run({"controller.showWindow(true)"});
    QVERIFY(window->isVisible());
}

void tst_MainWindow::bringWindowToFrontFindsTheWindow() {
    MessageCapture capture;
    MessageCapture::clear();
    run({"controller.showWindow(false)"});
    controller->operation = [](TestController &c) {
        c.bringWindowToFront();
        emit c.showWindow(true);
    };
    controller->start();
    QVERIFY(controller->wait(10000));
    QTRY_COMPARE(MessageCapture::lines(), QStringList{"info [Base_Controller] Janela travada no front"});
    QVERIFY(window->flags().testFlag(Qt::WindowStaysOnTopHint));
    QTRY_VERIFY(window->isVisible());
    QTRY_COMPARE(QGuiApplication::focusWindow(), window);
}

void tst_MainWindow::rendering_data() {
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QString>("picture");

    QTest::newRow("initial") << QStringList{} << "window-initial.png";
    QTest::newRow("options")
        << QStringList{"controller.firstTextChanged('Venda Crédito\\n Valor: R$ 123,45')",
                       "controller.textChanged('Selecione a forma de pagamento')",
                       "controller.clearItemsList()",
                       "controller.addItemList('A vista')",
                       "controller.addItemList('Parcelado pelo estabelecimento')",
                       "controller.addItemList('Parcelado pela administradora')",
                       "controller.disableTextField(true)",
                       "controller.disableButtonVoltar(true)",
                       "controller.disableListView(false)",
                       "controller.disableProgressBar(false)"}
        << "window-options.png";
}

// Checks the main colours where they must show, and saves the picture into the folder named
// by Q7_WINDOW_PICTURES when that is set (how docs/ is refreshed).
void tst_MainWindow::rendering() {
    QFETCH(QStringList, script);
    QFETCH(QString, picture);
    run(script);
    QTRY_COMPARE(eval(QStringLiteral("image.status === Image.Ready")).toBool(), true);
    QTest::qWait(100);
    // QQuickWindow::grabWindow() gives a null image with the software scene graph on the
    // offscreen platform; the screen grab reads the frame the window last showed.
    const QImage image = window->screen()->grabWindow(window->winId()).toImage();
    QCOMPARE(image.size(), QSize(720, 550));

    const auto pixel = [&image](const QPointF &at) {
        return image.pixelColor(at.toPoint()).name();
    };
    const auto inside = [&](const char *name) {
        return item(name)->mapToScene(QPointF(4, 4));
    };
    QCOMPARE(pixel({5, 5}), QStringLiteral("#ffffff"));
    QCOMPARE(pixel({20, 180}), QStringLiteral("#235493")); // blue band beside its label
    QCOMPARE(pixel({40, 480}), QStringLiteral("#ffffff")); // white panel
    QCOMPARE(pixel(inside("button")), QStringLiteral("#235493"));
    QCOMPARE(pixel(inside("button2")), QStringLiteral("#235493"));

    const QString folder = qEnvironmentVariable("Q7_WINDOW_PICTURES");
    if (!folder.isEmpty())
        QVERIFY(image.save(QDir(folder).filePath(picture)));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
