#include "base/Log.h"
#include "exchange/ProtocoloSitef.h"

#include <QFile>
#include <QtGlobal>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

// ns per call of the reader on a typical sale request and of each writer on a complete
// sale response. Diagnostics are swallowed so the figures hold the work, not the terminal.
namespace {

QString dataFile(const char *name) {
    QFile file(QStringLiteral(Q7_BENCH_DATA "/") + QString::fromUtf8(name));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    return QString::fromUtf8(file.readAll());
}

void silence(QtMsgType, const QMessageLogContext &, const QString &) {}

void parseRequest(benchmark::State &state) {
    const ProtocoloSitef protocolo;
    const QString request = dataFile("venda_crt.001");
    for (auto _ : state)
        benchmark::DoNotOptimize(protocolo.parseRequest(request));
}

using Builder = QString (ProtocoloSitef::*)(const QString &) const;

void buildResponse(benchmark::State &state, Builder build, const char *document) {
    const ProtocoloSitef protocolo;
    const QString json = dataFile(document);
    for (auto _ : state)
        benchmark::DoNotOptimize((protocolo.*build)(json));
}

// The masking and escaping of one log line, a part of the Pagora writer's figure.
void logSafe(benchmark::State &state) {
    const QString text = dataFile("sitef_venda.json");
    for (auto _ : state)
        benchmark::DoNotOptimize(Log::safe(text));
}

} // namespace

BENCHMARK(parseRequest);
BENCHMARK_CAPTURE(buildResponse, buildBridgeResponse, &ProtocoloSitef::buildBridgeResponse,
                  "bridge_venda.json");
BENCHMARK_CAPTURE(buildResponse, buildTefResponse, &ProtocoloSitef::buildTefResponse, "tef_venda.json");
BENCHMARK_CAPTURE(buildResponse, buildSitefResponse, &ProtocoloSitef::buildSitefResponse, "sitef_venda.json");
BENCHMARK(logSafe);

int main(int argc, char **argv) {
    qInstallMessageHandler(silence);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
