// The CAD program's own start, as a build that finds it not running waits for it: from the
// process being started until it owns its bus name. The floor is a bare Qt application
// linked against the same libraries, started the same way, claiming a name of its own.
#include "automation/bus/protocol.h"
#include "bench_server.h"
#include "bench_support.h"
#include "model/solidworks.h"
#include "ratio_reporter.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <benchmark/benchmark.h>

namespace krepiks::bench {

namespace {

void StartUntilNamed(benchmark::State& state, const QString& program, const QStringList& args,
                     const QString& name) {
    std::string error;
    if (!StartPrivateBus(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    for (auto _ : state) {
        QProcess process;
        const auto start = Clock::now();
        process.start(program, args);
        // Asked as fast as the bus answers; bounded for a program that never gets there.
        bool named = false;
        while (!named && process.state() != QProcess::NotRunning && SecondsSince(start) < 30)
            named = bus->isServiceRegistered(name);
        state.SetIterationTime(SecondsSince(start));
        process.kill();
        process.waitForFinished(10000);
        // The next start must not find this one's name.
        const auto ended = Clock::now();
        while (bus->isServiceRegistered(name) && SecondsSince(ended) < 10) {
        }
        if (!named) {
            state.SkipWithError(("never claimed " + name.toStdString()).c_str());
            break;
        }
    }
}

void Register() {
    benchmark::RegisterBenchmark("cad_start/program",
                                 [](benchmark::State& state) {
                                     StartUntilNamed(
                                         state, QStringLiteral(KREPIKS_CAD_PROGRAM),
                                         {QStringLiteral("-Embedding")},
                                         automation::bus::BusNameForProgId(SolidWorksProgId));
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(10);
    benchmark::RegisterBenchmark("cad_start/floor",
                                 [](benchmark::State& state) {
                                     StartUntilNamed(state, QStringLiteral(KREPIKS_BARE_QT_APP),
                                                     {QStringLiteral("org.krepiks.BareQtApp")},
                                                     QStringLiteral("org.krepiks.BareQtApp"));
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(10);
    SetTarget("cad_start", 1.5);
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
