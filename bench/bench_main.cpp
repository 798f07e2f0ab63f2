// krepiks-bench: the program's figures, each beside the floor it is measured against.
#include "bench_server.h"
#include "bench_support.h"
#include "ratio_reporter.h"
#include "shell/application.h"

#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
    // Started by a benchmark as the CAD program of the bus cases.
    if (const std::string kind = krepiks::bench::ServerKind(argc, argv); !kind.empty())
        return krepiks::bench::RunBenchServer(kind, argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    krepiks::KrepiksApplication app(argc, argv);
    krepiks::bench::QuietEffects effects;
    krepiks::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    krepiks::bench::StopPrivateBus();
    benchmark::Shutdown();
    return 0;
}
