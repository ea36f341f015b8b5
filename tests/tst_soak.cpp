// 1,000 sales back to back through the whole service in-process (configuration, monitor,
// controller, window and the replacement libraries), the products taking turns in blocks
// of 100 with a fresh service each: no request lost or answered twice, every answer for
// its own request, no temporary file left behind, and neither memory nor file descriptors
// growing.
#include "TefPosClient.h"
#include "TestFiles.h"
#include "app/ServiceWiring.h"
#include "base/Pause.h"
#include "controllers/Base_Controller.h"
#include "exchange/MonitoraDiretorio.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <unistd.h>

// The address and thread sanitizers keep freed memory aside and add shadow memory of their
// own: resident memory says nothing about the service under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define Q7_SANITIZED_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define Q7_SANITIZED_MEMORY 1
#endif
#endif

namespace {

constexpr int kSales = 1000;
constexpr int kBlock = 100;
// Product 1 first and last, so the two memory readings see the same kind of service. The
// first reading waits for the second round: the first use of each product fills one-off caches
// (a step of a megabyte or so, the same after 1000 sales as after 2500), which is no leak.
constexpr int kFirstReading = 4 * kBlock;
constexpr int kProducts[] = {1, 2, 0};
constexpr int kSaleTimeoutMs = 30000;
constexpr qint64 kMaxGrowthBytes = 2 * 1024 * 1024;

// The service logs some forty lines per sale, and the offscreen platform warns at every
// raise of the window; while the sales run, only what may point at a fault is shown.
bool g_quiet = false;
QtMessageHandler g_previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (g_quiet && (type == QtDebugMsg || type == QtInfoMsg ||
                    message == QLatin1String("This plugin does not support raise()")))
        return;
    g_previousHandler(type, context, message);
}

qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

int openDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
        .size();
}

// A thread that has just ended closes its event-dispatcher descriptors a moment after wait()
// returns, later still on a loaded machine: the fewest seen over a tenth of a second.
int steadyDescriptors() {
    int fewest = openDescriptors();
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(20);
        fewest = qMin(fewest, openDescriptors());
    }
    return fewest;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Short enough for CI, long enough that no pause rounds down to a spinning loop.
        Pause::setScale(0.004);
        QGuiApplication::setQuitOnLastWindowClosed(false);
        g_previousHandler = qInstallMessageHandler(quietHandler);
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("logs"))));
        // The log files are part of what runs a thousand times.
        qputenv("Q7_LOG_PATH", m_dir.filePath(QStringLiteral("logs")).toLocal8Bit());
        qunsetenv("Q7_LOG");
        qunsetenv("Q7_SIM_SCENARIO");
        qunsetenv("Q7_SIM_CALLS");
        m_client.requestDir = m_dir.filePath(QStringLiteral("req"));
        m_client.responseDir = m_dir.filePath(QStringLiteral("resp"));
    }

    void cleanupTestCase() {
        stopService();
        qInstallMessageHandler(g_previousHandler);
        qunsetenv("Q7_LOG_PATH");
    }

    void thousandSales() {
        QElapsedTimer clock;
        clock.start();
        int number = 0;
        for (int block = 0; number < kSales; ++block) {
            const int product = kProducts[block % 3];
            startService(product);
            if (QTest::currentTestFailed())
                return;
            for (int i = 0; i < kBlock && number < kSales; ++i) {
                ++number;
                sale(product, number);
                if (QTest::currentTestFailed())
                    return;
                if (number == kBlock || number == kFirstReading) {
                    QVERIFY(m_wiring->controller()->wait(kSaleTimeoutMs));
                    if (number == kBlock)
                        m_descriptors = steadyDescriptors();
                    else
                        m_residentAtFirst = residentBytes();
                }
            }
            if (number == kSales)
                m_residentAtLast = residentBytes();
            // Taken with every block's service running, as at the 100th sale.
            QVERIFY(m_wiring->controller()->wait(kSaleTimeoutMs));
            QCOMPARE(steadyDescriptors(), m_descriptors);
            settleAndCheckNothingMore();
            stopService();
        }
        const double seconds = clock.elapsed() / 1000.0;
        g_quiet = false;
        qInfo("%d sales in %.1f s (%.1f ms each); resident memory %.2f MiB at sale %d, %.2f MiB at sale %d; "
              "%d open file descriptors throughout",
              kSales, seconds, seconds * 1000 / kSales, m_residentAtFirst / 1048576.0, kFirstReading,
              m_residentAtLast / 1048576.0, kSales, m_descriptors);
    }

    void residentMemoryGrowth() {
        QVERIFY2(m_residentAtFirst > 0 && m_residentAtLast > 0, "thousandSales did not run to its end");
#ifdef Q7_SANITIZED_MEMORY
        QSKIP("Under the address or thread sanitizer, resident memory is mostly the sanitizer's own: "
              "the growth criterion holds for the plain build only");
#endif
        const qint64 growth = m_residentAtLast - m_residentAtFirst;
        QVERIFY2(growth < kMaxGrowthBytes,
                 qPrintable(QStringLiteral("resident memory grew by %1 KiB between sale %2 and sale %3")
                                .arg(growth / 1024)
                                .arg(kFirstReading)
                                .arg(kSales)));
    }

private:
    void startService(int product) {
        const QByteArray config =
            QStringLiteral("{\"path_in\": \"%1\", \"path_out\": \"%2\", \"file_req\": \"IntPos.001\", "
                           "\"file_resp\": \"IntPos.Sts\", \"produto_tef\": %3}")
                .arg(m_client.requestDir, m_client.responseDir)
                .arg(product)
                .toUtf8();
        QFile file(m_dir.filePath(QStringLiteral("config_tef.json")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(config), qint64(config.size()));
        file.close();

        g_quiet = true;
        m_started = m_responses = m_finished = 0;
        m_engine = std::make_unique<QQmlApplicationEngine>();
        ServiceWiring::Options options{m_dir.path(), QStringLiteral(Q7_BIN_DIR), nullptr};
        m_wiring = std::make_unique<ServiceWiring>(product, *m_engine, options);
        Base_Controller *controller = m_wiring->controller();
        QVERIFY(controller);

        // Counted in this thread, after the monitor's own slots for the same signals.
        connect(controller, &QThread::started, this, [this] { ++m_started; });
        connect(controller, &Base_Controller::responseProcessTEF, this, [this] { ++m_responses; });
        connect(controller, &QThread::finished, this, [this] {
            ++m_finished;
            if (m_wake)
                m_wake->quit();
        });
        // The operator, answering through the handlers as the window does: the first row of the
        // Pagora menu (debit) on even sales, the second (credit) on odd ones, then the rest of
        // the library's questions.
        connect(controller, &Base_Controller::disableListView, this, [this, controller](bool hidden) {
            if (!hidden)
                controller->onClickButtonOK(QString::number(m_number % 2), 2);
        });
        connect(controller, &Base_Controller::disableTextField, this, [controller](bool hidden) {
            if (!hidden)
                controller->onClickButtonOK(QStringLiteral("0119"), 1);
        });
    }

    void stopService() {
        m_wiring.reset();
        m_engine.reset();
        MonitoraDiretorio::destroyInstance();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void sale(int product, int number) {
        m_number = number;
        const QString id = QString::number(number);
        const TefPosClient::Fields fields{{QStringLiteral("000-000"), QStringLiteral("CRT")},
                                          {QStringLiteral("001-000"), id},
                                          {QStringLiteral("002-000"), QStringLiteral("98393")},
                                          {QStringLiteral("003-000"), QString::number(100 + number)},
                                          {QStringLiteral("004-000"), QStringLiteral("0")},
                                          {QStringLiteral("999-999"), QStringLiteral("0")}};
        // Written aside and renamed into place, as sales applications do.
        const QString temporary = m_client.requestDir + QStringLiteral("/IntPos.tmp");
        const QString request = m_client.requestDir + QStringLiteral("/IntPos.001");
        {
            QFile file(temporary);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QVERIFY(file.write(m_client.encode(fields)) > 0);
        }
        QVERIFY(QFile::rename(temporary, request));

        // Done when the controller has finished: its answer went to the monitor before that.
        const int inBlock = m_started + 1;
        QTimer deadline;
        deadline.setSingleShot(true);
        QEventLoop loop;
        connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        m_wake = &loop;
        deadline.start(kSaleTimeoutMs);
        while (m_finished < inBlock && deadline.isActive())
            loop.exec();
        m_wake = nullptr;
        QVERIFY2(m_finished >= inBlock,
                 qPrintable(QStringLiteral("request %1 (product %2) never answered").arg(id).arg(product)));
        QCOMPARE(m_started, inBlock);
        QCOMPARE(m_responses, inBlock);

        QVERIFY(!QFile::exists(request));
        const QString statusPath = m_client.responseDir + QStringLiteral("/IntPos.Sts");
        QCOMPARE(readFile(statusPath),
                 QStringLiteral("000-000 = CRT\r\n001-000 = %1\r\n999-999 = 0\r\n").arg(id).toUtf8());
        const QString responsePath = m_client.responseDir + QStringLiteral("/IntPos.001");
        const TefPosClient::Fields response = TefPosClient::parse(QString::fromUtf8(readFile(responsePath)));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("001-000")), id);
        QCOMPARE(TefPosClient::value(response, QStringLiteral("000-000")), QStringLiteral("CRT"));
        QCOMPARE(TefPosClient::value(response, QStringLiteral("009-000")), QStringLiteral("0"));
        QVERIFY(!QFile::exists(m_client.responseDir + QStringLiteral("/arquivo_tef.tmp")));
        // The sales application takes both files, so a second answer would show up on its own.
        QVERIFY(QFile::remove(statusPath));
        QVERIFY(QFile::remove(responsePath));
    }

    // A late second answer to any request of the block would arrive within the pauses of
    // one more sale.
    void settleAndCheckNothingMore() {
        QTest::qWait(Pause::scaled(5000));
        QCOMPARE(m_responses, m_started);
        QCOMPARE(m_finished, m_started);
        QCOMPARE(QDir(m_client.responseDir).entryList(QDir::Files), QStringList());
        QCOMPARE(QDir(m_client.requestDir).entryList(QDir::Files), QStringList());
    }

    QTemporaryDir m_dir;
    TefPosClient m_client;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    std::unique_ptr<ServiceWiring> m_wiring;
    QEventLoop *m_wake = nullptr;
    int m_number = 0;
    int m_started = 0;
    int m_responses = 0;
    int m_finished = 0;
    qint64 m_residentAtFirst = -1;
    qint64 m_residentAtLast = -1;
    int m_descriptors = -1;
};

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
