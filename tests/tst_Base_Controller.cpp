#include "MessageCapture.h"
#include "TestController.h"

#include <QMetaMethod>
#include <QQuickWindow>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

class tst_Base_Controller : public QObject {
    Q_OBJECT

private slots:
    void metaObjectOrder();
    void constructionAndDestructionAreLogged();
    void runCallsProcessTefInTheThread();
    void formatCurrency_data();
    void formatCurrency();
    void operatorWait_data();
    void operatorWait();
    void bringWindowToFront();
};

void tst_Base_Controller::metaObjectOrder() {
    const QMetaObject &meta = Base_Controller::staticMetaObject;
    QCOMPARE(meta.className(), "Base_Controller");
    QCOMPARE(meta.superClass(), &QThread::staticMetaObject);

    static const char *const kinds[] = {"method", "signal", "slot", "constructor"};
    QStringList actual;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod m = meta.method(i);
        QStringList params;
        for (int p = 0; p < m.parameterCount(); ++p)
            params << QString::fromLatin1(m.parameterTypes().at(p) + ' ' + m.parameterNames().at(p));
        actual << QStringLiteral("%1 %2 %3(%4)")
                      .arg(QLatin1String(kinds[m.methodType()]), QLatin1String(m.typeName()),
                           QLatin1String(m.name()), params.join(QLatin1String(", ")));
    }
    const QStringList expected{
        "signal void showMessageError(QString err)",
        "signal void textChanged(QString valor)",
        "signal void firstTextChanged(QString valor)",
        "signal void textfiledChanged(QString valor)",
        "signal void showWindow(bool show)",
        "signal void disableButtonOK(bool enable)",
        "signal void disableButtonVoltar(bool enable)",
        "signal void disableButtonCancelar(bool enable)",
        "signal void disableTextField(bool enable)",
        "signal void disableListView(bool enable)",
        "signal void disableProgressBar(bool enable)",
        "signal void addItemList(QString item)",
        "signal void clearItemsList()",
        "signal void responseProcessTEF(QString dados)",
        "slot QJsonObject getJsonConfigs()",
        "slot void setJsonConfigs(QString value)",
        "method void onClickButtonOK(QString valorOfTextField, int estado)",
        "method void onClickButtonVoltar()",
        "method void onClickButtonCancelar()",
    };
    QCOMPARE(actual, expected);
    // The signal index is what queued connections and the window use.
    QCOMPARE(meta.indexOfSignal("responseProcessTEF(QString)") - meta.methodOffset(), 13);
}

void tst_Base_Controller::constructionAndDestructionAreLogged() {
    MessageCapture capture;
    MessageCapture::clear();
    delete new TestController;
    QCOMPARE(MessageCapture::lines(),
             QStringList({"info [Base_Controller] Construído", "info [Base_Controller] Destruído"}));
}

void tst_Base_Controller::runCallsProcessTefInTheThread() {
    TestController controller;
    QThread *ranIn = nullptr;
    controller.operation = [&ranIn](TestController &c) {
        ranIn = QThread::currentThread();
        emit c.responseProcessTEF(QStringLiteral("{}"));
    };
    QSignalSpy response(&controller, &Base_Controller::responseProcessTEF);
    QSignalSpy finished(&controller, &QThread::finished);
    controller.start();
    // Waiting on the thread orders what it wrote before what is read here; polling a spy
    // that the thread itself appends to would not.
    QVERIFY(controller.wait(5000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(ranIn, &controller);
    QCOMPARE(response.count(), 1);
    QCOMPARE(response.at(0).at(0).toString(), QStringLiteral("{}"));
}

void tst_Base_Controller::formatCurrency_data() {
    QTest::addColumn<QString>("valor");
    QTest::addColumn<QString>("texto");

    // Qt writes the Brazilian currency with a no-break space after the symbol.
    QTest::newRow("cents") << "1234" << QStringLiteral("R$\u00a012,34");
    QTest::newRow("separators removed first") << "1.234,56" << QStringLiteral("R$\u00a01.234,56");
    QTest::newRow("one digit padded to three") << "7" << QStringLiteral("R$\u00a00,07");
    QTest::newRow("two digits padded to three") << "50" << QStringLiteral("R$\u00a00,50");
    QTest::newRow("empty") << "" << QStringLiteral("R$\u00a00,00");
    QTest::newRow("short non-numeric") << "ab" << QStringLiteral("R$\u00a00,00");
    QTest::newRow("long non-numeric") << "abcd" << QStringLiteral("R$\u00a00,00");
    QTest::newRow("thousands grouped") << "123456789" << QStringLiteral("R$\u00a01.234.567,89");
}

void tst_Base_Controller::formatCurrency() {
    QFETCH(QString, valor);
    QFETCH(QString, texto);
    QCOMPARE(TestController::formatCurrency(valor), texto);
}

enum class Release { AfterWaitStarts, BeforeWaitStarts, NeverArmed };
Q_DECLARE_METATYPE(Release)

void tst_Base_Controller::operatorWait_data() {
    QTest::addColumn<Release>("release");
    QTest::newRow("released while the thread waits") << Release::AfterWaitStarts;
    QTest::newRow("released before the thread waits") << Release::BeforeWaitStarts;
    QTest::newRow("not armed: no wait") << Release::NeverArmed;
}

void tst_Base_Controller::operatorWait() {
    QFETCH(Release, release);
    TestController controller;
    QSemaphore armed;
    QSemaphore mayWait;
    controller.operation = [&](TestController &c) {
        if (release != Release::NeverArmed)
            c.armOperatorWait();
        armed.release();
        mayWait.acquire();
        c.waitForOperator();
    };
    controller.start();
    armed.acquire();
    if (release == Release::BeforeWaitStarts)
        controller.releaseOperatorWait();
    mayWait.release();
    if (release == Release::AfterWaitStarts) {
        QVERIFY2(!controller.wait(300), "the thread went on without the operator");
        controller.releaseOperatorWait();
    }
    QVERIFY(controller.wait(10000));
}

void tst_Base_Controller::bringWindowToFront() {
    MessageCapture capture;
    TestController controller;
    const auto callFromControllerThread = [&controller] {
        MessageCapture::clear();
        controller.operation = [](TestController &c) {
            c.bringWindowToFront();
        };
        controller.start();
        QVERIFY(controller.wait(10000));
    };
    const QStringList notFound{"debug [Base_Controller] g_HWND is null",
                               "critical [Base_Controller] Erro ao ativar janela no front: 1400"};

    callFromControllerThread();
    QTRY_COMPARE(MessageCapture::lines(), notFound);

    auto window = std::make_unique<QQuickWindow>();
    window->resize(100, 100);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    callFromControllerThread();
    // Nothing happened in the controller thread: the window is only touched once the GUI
    // thread handles the queued call.
    QVERIFY(MessageCapture::lines().isEmpty());
    QVERIFY(!window->flags().testFlag(Qt::WindowStaysOnTopHint));
    QTRY_COMPARE(MessageCapture::lines(), QStringList{"info [Base_Controller] Janela travada no front"});
    QVERIFY(window->flags().testFlag(Qt::WindowStaysOnTopHint));
    QTRY_COMPARE(QGuiApplication::focusWindow(), window.get());

    // The window found before is gone: no stale pointer is used.
    window.reset();
    callFromControllerThread();
    QTRY_COMPARE(MessageCapture::lines(), notFound);
}

QTEST_MAIN(tst_Base_Controller)
#include "tst_Base_Controller.moc"
