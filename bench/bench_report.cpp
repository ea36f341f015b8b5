// Runs every performance measurement of the service in one go and prints one Markdown
// table: the exchange's latency (monitor_latency), the reader and writers (bench_protocolo),
// and, side by side with a bare Qt Quick window, the real service process's start-up time,
// idle CPU time and idle resident memory.
//
// Usage: bench_report --bin DIR --bench DIR [--idle-seconds 60] [--rounds 9] [--requests 20]
//                     [--exchanges 5] [--confirmations 10]
//   DIR of --bin: the service, its simulator libraries and bare_window (config_tef.json is
//   written there); DIR of --bench: monitor_latency and bench_protocolo. --exchanges: how many
//   times product 0 answers an ATV and then a CRT, as TEF Dial clients send them.
//   --confirmations: how many times product 2 answers a CNF or an NCN (in turn) and then the
//   ATV those clients send before their next command.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void fail(const QString &message) {
    std::fprintf(stderr, "bench_report: %s\n", qPrintable(message));
    std::exit(1);
}

void progress(const QString &message) {
    std::fprintf(stderr, "== %s\n", qPrintable(message));
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Waits for `ms` while the event loop runs, so children's output keeps being drained.
void idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// One child process that announces readiness with a marker on its standard error output.
class Child {
public:
    // Ready once every marker has appeared on the standard error output.
    Child(const QString &program, const QStringList &markers, const QProcessEnvironment &environment) {
        for (const QString &marker : markers)
            m_markers.push_back({marker.toUtf8(), -1});
        m_process.setProgram(program);
        m_process.setProcessEnvironment(environment);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
            if (ready()) {
                m_process.readAllStandardError(); // discarded once ready
                return;
            }
            m_output += m_process.readAllStandardError();
            for (auto &marker : m_markers)
                if (marker.second < 0 && m_output.contains(marker.first))
                    marker.second = m_clock.nsecsElapsed() / 1e6;
            if (ready()) {
                m_output.clear();
                if (m_wake)
                    m_wake->quit();
            }
        });
        QObject::connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), [this] {
            if (m_wake)
                m_wake->quit();
        });
    }
    ~Child() { stop(); }

    // Milliseconds from start to the first marker.
    double start(int timeoutMs = 60000) {
        m_clock.start();
        m_process.start();
        QEventLoop loop;
        m_wake = &loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        if (!ready() && m_process.state() != QProcess::NotRunning)
            loop.exec();
        m_wake = nullptr;
        for (const auto &marker : m_markers)
            if (marker.second < 0)
                fail(QStringLiteral("%1 did not say \"%2\" (another instance running? output: %3)")
                         .arg(m_process.program(), QString::fromUtf8(marker.first),
                              QString::fromLocal8Bit(m_output.right(2000))));
        return m_markers.front().second;
    }

    // Milliseconds from start to the last marker.
    double lastMarkerMs() const { return m_markers.back().second; }

    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    QString statPath(const char *name) const {
        return QStringLiteral("/proc/%1/%2").arg(m_process.processId()).arg(QLatin1String(name));
    }

    qint64 residentBytes() const {
        QFile statm(statPath("statm"));
        if (!statm.open(QIODevice::ReadOnly))
            fail(QStringLiteral("cannot read ") + statm.fileName());
        return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
    }

    // utime + stime, in seconds.
    double cpuSeconds() const {
        QFile stat(statPath("stat"));
        if (!stat.open(QIODevice::ReadOnly))
            fail(QStringLiteral("cannot read ") + stat.fileName());
        const QByteArray text = stat.readAll();
        // The command name may hold blanks; the fields counted here come after its ")".
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // Fields 14 and 15 of the whole line are the 12th and 13th after the name.
        return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
               static_cast<double>(sysconf(_SC_CLK_TCK));
    }

private:
    bool ready() const {
        return std::all_of(m_markers.begin(), m_markers.end(),
                           [](const auto &marker) { return marker.second >= 0; });
    }

    QProcess m_process;
    std::vector<std::pair<QByteArray, double>> m_markers; // text, milliseconds to it (-1: not yet)
    QByteArray m_output;
    QElapsedTimer m_clock;
    QEventLoop *m_wake = nullptr;
};

QByteArray run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        fail(program + QStringLiteral(" failed"));
    return process.readAllStandardOutput();
}

struct Row {
    QString figure;
    QString service;
    QString reference;
    QString ratio;
    QString target;
    std::optional<bool> met;
};

QString ms(double value) {
    return QString::number(value, 'f', 2) + QStringLiteral(" ms");
}

QString mib(qint64 bytes) {
    return QString::number(bytes / 1048576.0, 'f', 1) + QStringLiteral(" MiB");
}

QString ns(double value) {
    return QString::number(qRound64(value)) + QStringLiteral(" ns");
}

// Writes a request as sales applications do: a temporary file renamed into place.
void writeRequest(const QString &directory, const QString &code, int id) {
    QFile temp(directory + QStringLiteral("/IntPos.tmp"));
    if (!temp.open(QIODevice::WriteOnly) ||
        temp.write(
            QStringLiteral("000-000 = %1\r\n001-000 = %2\r\n999-999 = 0\r\n").arg(code).arg(id).toUtf8()) < 0)
        fail(QStringLiteral("cannot write ") + temp.fileName());
    temp.close();
    if (!QFile::rename(temp.fileName(), directory + QStringLiteral("/IntPos.001")))
        fail(QStringLiteral("cannot rename ") + temp.fileName());
}

// Milliseconds until the status file answers `code` `id`, polled every millisecond.
double waitForStatus(const QString &path, const QString &code, int id, const QElapsedTimer &clock) {
    const QByteArray head = QStringLiteral("000-000 = %1\r\n001-000 = %2\r\n").arg(code).arg(id).toUtf8();
    while (clock.elapsed() < 10000) {
        QFile status(path);
        if (status.open(QIODevice::ReadOnly)) {
            const QByteArray text = status.readAll();
            if (text.startsWith(head) && text.contains("999-999 = 0"))
                return clock.nsecsElapsed() / 1e6;
        }
        QThread::msleep(1);
    }
    fail(QStringLiteral("no status file for %1 %2").arg(code).arg(id));
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption binOption(QStringLiteral("bin"), QStringLiteral("Service directory."),
                                       QStringLiteral("dir"));
    const QCommandLineOption benchOption(QStringLiteral("bench"), QStringLiteral("Benchmark directory."),
                                         QStringLiteral("dir"));
    const QCommandLineOption idleOption(QStringLiteral("idle-seconds"), QStringLiteral("Idle period."),
                                        QStringLiteral("s"), QStringLiteral("60"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Start-ups of each."),
                                          QStringLiteral("n"), QStringLiteral("9"));
    const QCommandLineOption requestsOption(QStringLiteral("requests"),
                                            QStringLiteral("Requests for the latency."), QStringLiteral("n"),
                                            QStringLiteral("20"));
    const QCommandLineOption exchangesOption(QStringLiteral("exchanges"),
                                             QStringLiteral("ATV then CRT exchanges with product 0."),
                                             QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption confirmationsOption(
        QStringLiteral("confirmations"), QStringLiteral("CNF or NCN then ATV exchanges with product 2."),
        QStringLiteral("n"), QStringLiteral("10"));
    parser.addOptions({binOption, benchOption, idleOption, roundsOption, requestsOption, exchangesOption,
                       confirmationsOption});
    parser.process(app);
    const QString bin = parser.value(binOption);
    const QString bench = parser.value(benchOption);
    if (bin.isEmpty() || bench.isEmpty())
        parser.showHelp(2);
    const int idleSeconds = std::max(1, parser.value(idleOption).toInt());
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const int requests = std::max(1, parser.value(requestsOption).toInt());
    const int exchanges = std::max(1, parser.value(exchangesOption).toInt());
    const int confirmations = std::max(1, parser.value(confirmationsOption).toInt());

    std::vector<Row> rows;

    // Reader and writers first, while nothing else of ours runs.
    progress(QStringLiteral("bench_protocolo"));
    const QJsonArray benchmarks =
        QJsonDocument::fromJson(
            run(bench + QStringLiteral("/bench_protocolo"),
                {QStringLiteral("--benchmark_format=json"), QStringLiteral("--benchmark_repetitions=5"),
                 QStringLiteral("--benchmark_report_aggregates_only=true")}))
            .object()
            .value(QLatin1String("benchmarks"))
            .toArray();
    const auto nsPerCall = [&benchmarks](const QString &name) {
        for (const QJsonValue &value : benchmarks) {
            const QJsonObject b = value.toObject();
            if (b.value(QLatin1String("run_name")).toString() == name &&
                b.value(QLatin1String("aggregate_name")).toString() == QLatin1String("median")) {
                if (b.value(QLatin1String("time_unit")).toString() != QLatin1String("ns"))
                    fail(QStringLiteral("unexpected time unit for ") + name);
                return b.value(QLatin1String("real_time")).toDouble();
            }
        }
        fail(QStringLiteral("no median for ") + name);
    };

    // The exchange with its real pauses.
    progress(QStringLiteral("monitor_latency, %1 requests").arg(requests));
    const QString latency =
        QString::fromUtf8(run(bench + QStringLiteral("/monitor_latency"), {QString::number(requests)}));
    const QRegularExpression figures(QStringLiteral("median (-?[0-9.]+) ms, p95 (-?[0-9.]+) ms"));
    auto match = figures.globalMatch(latency);
    std::vector<std::pair<double, double>> latencies;
    while (match.hasNext()) {
        const QRegularExpressionMatch m = match.next();
        latencies.emplace_back(m.captured(1).toDouble(), m.captured(2).toDouble());
    }
    if (latencies.size() != 2)
        fail(QStringLiteral("unexpected monitor_latency output:\n") + latency);

    // The service as installed: offscreen, product 1, no log file, its own exchange folders.
    QTemporaryDir exchange;
    if (!exchange.isValid())
        fail(QStringLiteral("no temporary directory"));
    const auto configure = [&bin, &exchange](int product) {
        QFile config(bin + QStringLiteral("/config_tef.json"));
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            config.write(
                QStringLiteral("{\"file_req\": \"IntPos.001\", \"file_resp\": \"IntPos.Sts\", \"log\": 0, "
                               "\"path_in\": \"%1\", \"path_out\": \"%2\", \"produto_tef\": %3}\n")
                    .arg(exchange.filePath(QStringLiteral("req")), exchange.filePath(QStringLiteral("resp")))
                    .arg(product)
                    .toUtf8()) < 0)
            fail(QStringLiteral("cannot write ") + config.fileName());
    };
    configure(1);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
    for (const char *name : {"Q7_LOG", "Q7_LOG_PATH", "Q7_SIM_SCENARIO", "Q7_SIM_CALLS", "QT_LOGGING_RULES"})
        environment.remove(QString::fromLatin1(name));
    const QString serviceProgram = bin + QStringLiteral("/q7_pagora_passivo");
    const QString bareProgram = bin + QStringLiteral("/bare_window");
    // The service builds its window after it watches; the bare program's only marker is its window.
    const QStringList serviceMarkers{QStringLiteral("Monitoramento iniciando em"),
                                     QStringLiteral("[ServiceWiring] Janela criada")};
    const QStringList bareMarkers{QStringLiteral("objectCreated")};

    // Start-ups taken in turns, after one unmeasured start of each to warm the caches.
    progress(QStringLiteral("start-up, %1 rounds").arg(rounds));
    std::vector<double> serviceStart, bareStart, serviceWindow;
    for (int round = -1; round < rounds; ++round) {
        for (int which = 0; which < 2; ++which) {
            const bool service = (which + round) % 2 == 0; // who goes first alternates
            Child child(service ? serviceProgram : bareProgram, service ? serviceMarkers : bareMarkers,
                        environment);
            const double startMs = child.start();
            if (round >= 0)
                (service ? serviceStart : bareStart).push_back(startMs);
            if (round >= 0 && service)
                serviceWindow.push_back(child.lastMarkerMs());
            child.stop();
        }
    }

    // Both idle at the same time, so that neither sees a quieter machine than the other.
    progress(QStringLiteral("idle, %1 s").arg(idleSeconds));
    Child service(serviceProgram, serviceMarkers, environment);
    Child bare(bareProgram, bareMarkers, environment);
    service.start();
    bare.start();
    idle(3000); // lets what follows start-up (deferred deletes, first timers) pass
    const double serviceCpu0 = service.cpuSeconds();
    const double bareCpu0 = bare.cpuSeconds();
    QElapsedTimer idleClock;
    idleClock.start();
    idle(idleSeconds * 1000);
    const double elapsed = idleClock.nsecsElapsed() / 1e9;
    const double serviceCpuSeconds = service.cpuSeconds() - serviceCpu0;
    const double bareCpuSeconds = bare.cpuSeconds() - bareCpu0;
    const double serviceCpu = serviceCpuSeconds / elapsed * 100;
    const qint64 serviceRss = service.residentBytes();
    const qint64 bareRss = bare.residentBytes();
    service.stop();
    bare.stop();

    // Product 0 as TEF Dial clients use it: an ATV, and 50 ms after its status file the command,
    // whose status they await for 7 s. The CRT's status is timed from its request file on.
    progress(QStringLiteral("ATV then CRT, product 0, %1 exchanges").arg(exchanges));
    configure(0);
    const QString requestDir = exchange.filePath(QStringLiteral("req"));
    const QString statusFile = exchange.filePath(QStringLiteral("resp/IntPos.Sts"));
    std::vector<double> atvCrt;
    for (int round = 0; round < exchanges; ++round) {
        Child pagora(serviceProgram, serviceMarkers, environment);
        pagora.start();
        QElapsedTimer clock;
        clock.start();
        writeRequest(requestDir, QStringLiteral("ATV"), 2 * round + 1);
        waitForStatus(statusFile, QStringLiteral("ATV"), 2 * round + 1, clock);
        QThread::msleep(50);
        QFile::remove(statusFile);
        clock.start();
        writeRequest(requestDir, QStringLiteral("CRT"), 2 * round + 2);
        atvCrt.push_back(waitForStatus(statusFile, QStringLiteral("CRT"), 2 * round + 2, clock));
        pagora.stop(); // the sale waits in its menu; stopping cancels it
        QFile::remove(requestDir + QStringLiteral("/IntPos.001"));
    }

    // Product 2 after a confirmation or an undo: the ATV these clients send before their next
    // command comes as soon as the CNF's or NCN's status is there; it is timed from its request file.
    progress(QStringLiteral("CNF or NCN then ATV, product 2, %1 exchanges").arg(confirmations));
    configure(2);
    std::vector<double> settledAtv;
    {
        Child tef(serviceProgram, serviceMarkers, environment);
        tef.start();
        for (int round = 0; round < confirmations; ++round) {
            const QString settle = round % 2 ? QStringLiteral("NCN") : QStringLiteral("CNF");
            QElapsedTimer clock;
            clock.start();
            writeRequest(requestDir, settle, 2 * round + 1);
            waitForStatus(statusFile, settle, 2 * round + 1, clock);
            QFile::remove(statusFile);
            clock.start();
            writeRequest(requestDir, QStringLiteral("ATV"), 2 * round + 2);
            settledAtv.push_back(waitForStatus(statusFile, QStringLiteral("ATV"), 2 * round + 2, clock));
        }
    }

    // The kernel counts CPU time in clock ticks (10 ms here): the time used is shown too.
    const auto cpu = [elapsed](double seconds) {
        return QStringLiteral("%1 % (%2 ms)")
            .arg(QString::number(seconds / elapsed * 100, 'f', 3), QString::number(qRound(seconds * 1000)));
    };
    const auto ratio = [](double a, double b) {
        return QString::number(a / b, 'f', 2);
    };
    const double serviceStartMs = median(serviceStart);
    const double bareStartMs = median(bareStart);

    rows.push_back({QStringLiteral("Status file, overhead over the 1.06 s of pauses (median)"),
                    ms(latencies[0].first), QString(), QString(), QStringLiteral("< 10 ms"),
                    latencies[0].first < 10});
    rows.push_back({QStringLiteral("Status file, overhead over the 1.06 s of pauses (p95)"),
                    ms(latencies[0].second), QString(), QString(), QString(), std::nullopt});
    rows.push_back({QStringLiteral("Response file after the controller's signal (median / p95)"),
                    ms(latencies[1].first) + QStringLiteral(" / ") + ms(latencies[1].second), QString(),
                    QString(), QString(), std::nullopt});
    rows.push_back({QStringLiteral("CPU time in %1 s idle (share of one core)").arg(idleSeconds),
                    cpu(serviceCpuSeconds), cpu(bareCpuSeconds), QString(), QStringLiteral("< 0.1 %"),
                    serviceCpu < 0.1});
    rows.push_back({QStringLiteral("Resident memory, idle"), mib(serviceRss), mib(bareRss),
                    ratio(serviceRss, bareRss), QStringLiteral("< 1.3"),
                    static_cast<double>(serviceRss) / bareRss < 1.3});
    rows.push_back({QStringLiteral("Start-up to watching / window created (median of %1)").arg(rounds),
                    ms(serviceStartMs), ms(bareStartMs), ratio(serviceStartMs, bareStartMs),
                    QStringLiteral("< 1.3"), serviceStartMs / bareStartMs < 1.3});
    rows.push_back({QStringLiteral("Start-up to window built (median of %1)").arg(rounds),
                    ms(median(serviceWindow)), ms(bareStartMs), ratio(median(serviceWindow), bareStartMs),
                    QString(), std::nullopt});
    const double atvCrtMax = *std::max_element(atvCrt.begin(), atvCrt.end());
    rows.push_back(
        {QStringLiteral("Product 0: CRT status file after an ATV, CRT written 50 ms after the ATV's "
                        "status (median / max of %1)")
             .arg(exchanges),
         ms(median(atvCrt)) + QStringLiteral(" / ") + ms(atvCrtMax), QString(), QString(),
         QStringLiteral("< 1200 ms"), atvCrtMax < 1200});
    const double settledAtvMax = *std::max_element(settledAtv.begin(), settledAtv.end());
    rows.push_back({QStringLiteral("Product 2: ATV status file, ATV written as soon as a CNF's or NCN's "
                                   "status is there (median / max of %1)")
                        .arg(confirmations),
                    ms(median(settledAtv)) + QStringLiteral(" / ") + ms(settledAtvMax), QString(), QString(),
                    QStringLiteral("< 1200 ms"), settledAtvMax < 1200});
    const double parse = nsPerCall(QStringLiteral("parseRequest"));
    rows.push_back({QStringLiteral("parseRequest, 12-line sale request"), ns(parse), QString(), QString(),
                    QStringLiteral("< 5000 ns"), parse < 5000});
    for (const char *builder : {"buildBridgeResponse", "buildTefResponse", "buildSitefResponse"}) {
        const double value = nsPerCall(QStringLiteral("buildResponse/") + QLatin1String(builder));
        rows.push_back({QLatin1String(builder) + QStringLiteral(", full sale response"), ns(value), QString(),
                        QString(), QStringLiteral("< 30000 ns"), value < 30000});
    }
    rows.push_back({QStringLiteral("Log::safe, the full sale response that buildSitefResponse logs"),
                    ns(nsPerCall(QStringLiteral("logSafe"))),
                    QString(),
                    QString(),
                    QString(),
                    {}});

    std::printf("| Figure | Service | Bare Qt Quick window | Ratio | Target | Met |\n");
    std::printf("|---|---:|---:|---:|---|---|\n");
    for (const Row &row : rows) {
        const QString met =
            row.met ? (*row.met ? QStringLiteral("yes") : QStringLiteral("**no**")) : QString();
        const auto cell = [](const QString &text) {
            return (text.isEmpty() ? QStringLiteral("-") : text).toUtf8();
        };
        std::printf("| %s | %s | %s | %s | %s | %s |\n", cell(row.figure).constData(),
                    cell(row.service).constData(), cell(row.reference).constData(),
                    cell(row.ratio).constData(), cell(row.target).constData(), cell(met).constData());
    }
    return 0;
}
