#include "MessageCapture.h"
#include "TestController.h"

#include <QQuickWindow>
#include <QtTest>

class tst_Base_Controller : public QObject {
    Q_OBJECT

private slots:
    void formatCurrency_data() {
        QTest::addColumn<QString>("valor");
        QTest::addColumn<QString>("texto"); // Qt writes a no-break space after the symbol
        QTest::newRow("separators removed first") << "1.234,56" << QStringLiteral("R$\u00a01.234,56");
        QTest::newRow("short: padded to three digits") << "7" << QStringLiteral("R$\u00a00,07");
        QTest::newRow("empty") << "" << QStringLiteral("R$\u00a00,00");
        QTest::newRow("not a number") << "abcd" << QStringLiteral("R$\u00a00,00");
    }
    void formatCurrency() {
        QFETCH(QString, valor);
        QFETCH(QString, texto);
        QCOMPARE(TestController::formatCurrency(valor), texto);
    }

    void bringWindowToFront() {
        MessageCapture capture;
        auto controller = std::make_unique<TestController>();
        QCOMPARE(MessageCapture::lines(), QStringList{"info [Base_Controller] Construído"});
        controller->operation = [](TestController &c) {
            c.bringWindowToFront();
        };
        const auto callFromControllerThread = [&controller] {
            MessageCapture::clear();
            controller->start();
            return controller->wait(10000);
        };
        const QStringList notFound{"debug [Base_Controller] g_HWND is null",
                                   "critical [Base_Controller] Erro ao ativar janela no front: 1400"};
        QVERIFY(callFromControllerThread());
        QTRY_COMPARE(MessageCapture::lines(), notFound);

        auto window = std::make_unique<QQuickWindow>();
        window->resize(100, 100);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(callFromControllerThread());
        // The window is touched only once the GUI thread handles the queued call.
        QVERIFY(MessageCapture::lines().isEmpty());
        QVERIFY(!window->flags().testFlag(Qt::WindowStaysOnTopHint));
        QTRY_COMPARE(MessageCapture::lines(), QStringList{"info [Base_Controller] Janela travada no front"});
        QVERIFY(window->flags().testFlag(Qt::WindowStaysOnTopHint));
        QTRY_COMPARE(QGuiApplication::focusWindow(), window.get());

        // The window found before is gone: no stale pointer is used.
        window.reset();
        QVERIFY(callFromControllerThread());
        QTRY_COMPARE(MessageCapture::lines(), notFound);
        controller.reset();
        QCOMPARE(MessageCapture::lines().last(), "info [Base_Controller] Destruído");
    }
};

QTEST_MAIN(tst_Base_Controller)
#include "tst_Base_Controller.moc"
