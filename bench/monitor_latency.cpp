// Latency of the file exchange through the real monitor, with the real pauses:
//  - status: request file renamed into place -> status file present, minus the fixed
//    60 ms + 1 s pauses;
//  - response: controller's response signal -> response file renamed into place.
// Usage: monitor_latency [requests=20]
#include "exchange/MonitoraDiretorio.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

QElapsedTimer g_clock;

class Controller : public QThread {
    Q_OBJECT
public:
    std::atomic<qint64> emittedNs{0};
public slots:
    void setJsonConfigs(QString) {}
signals:
    void responseProcessTEF(QString dados);

protected:
    void run() override {
        emittedNs = g_clock.nsecsElapsed();
        emit responseProcessTEF(QStringLiteral("{\"header\":\"CRT\",\"id\":1,\"resultado\":0}"));
    }
};

// Waits on its own thread until `path` exists; returns the time it appeared.
qint64 waitForFile(const QString &path) {
    while (!QFileInfo::exists(path))
        QThread::usleep(100);
    return g_clock.nsecsElapsed();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile95(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(v.size() * 0.95))];
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    QTemporaryDir dir;
    const QString req = dir.filePath(QStringLiteral("req"));
    const QString resp = dir.filePath(QStringLiteral("resp"));
    QFile config(dir.filePath(QStringLiteral("config_tef.json")));
    config.open(QIODevice::WriteOnly);
    config.write(QStringLiteral("{\"path_in\":\"%1\",\"path_out\":\"%2\",\"file_req\":\"IntPos.001\","
                                "\"file_resp\":\"IntPos.Sts\",\"produto_tef\":1}")
                     .arg(req, resp)
                     .toUtf8());
    config.close();

    MonitoraDiretorio *monitor = MonitoraDiretorio::instance(dir.path());
    Controller controller;
    QObject::connect(monitor, &MonitoraDiretorio::confJson, &controller, &Controller::setJsonConfigs);
    QObject::connect(monitor, SIGNAL(startTefProcess()), &controller, SLOT(start()));
    QObject::connect(&controller, &Controller::responseProcessTEF, monitor,
                     &MonitoraDiretorio::processResponse);
    QObject::connect(&controller, SIGNAL(finished()), monitor, SLOT(signal_to_add_addObservadorDiretorio()));
    monitor->addObservadorDiretorio();
    g_clock.start();

    std::vector<double> statusMs, responseMs;
    int done = 0;
    std::function<void()> next = [&] {
        if (done == count) {
            app.quit();
            return;
        }
        QFile::remove(resp + QStringLiteral("/IntPos.Sts"));
        QFile::remove(resp + QStringLiteral("/IntPos.001"));
        QFile tmp(req + QStringLiteral("/IntPos.tmp"));
        tmp.open(QIODevice::WriteOnly);
        tmp.write(QStringLiteral("000-000 = CRT\n001-000 = %1\n003-000 = 1000\n999-999 = 0\n")
                      .arg(done + 1)
                      .toUtf8());
        tmp.close();

        auto stamps = std::make_shared<std::pair<qint64, qint64>>();
        QThread *poller = QThread::create([stamps, resp] {
            stamps->first = waitForFile(resp + QStringLiteral("/IntPos.Sts"));
            stamps->second = waitForFile(resp + QStringLiteral("/IntPos.001"));
        });
        poller->start();
        const qint64 t0 = g_clock.nsecsElapsed();
        QFile::rename(req + QStringLiteral("/IntPos.tmp"), req + QStringLiteral("/IntPos.001"));
        QObject::connect(poller, &QThread::finished, &app, [&, poller, t0, stamps] {
            statusMs.push_back((stamps->first - t0) / 1e6 - 1060.0);
            responseMs.push_back((stamps->second - controller.emittedNs) / 1e6);
            poller->deleteLater();
            ++done;
            // Let the monitor resume watching before the next request.
            QTimer::singleShot(50, &app, next);
        });
    };
    QTimer::singleShot(0, &app, next);
    app.exec();
    controller.wait();

    std::printf("requests: %d\n", count);
    std::printf("status file overhead beyond the 1.06 s of pauses: median %.2f ms, p95 %.2f ms\n",
                median(statusMs), percentile95(statusMs));
    std::printf("response file after the controller's signal:      median %.2f ms, p95 %.2f ms\n",
                median(responseMs), percentile95(responseMs));
    MonitoraDiretorio::destroyInstance();
    return 0;
}

#include "monitor_latency.moc"
