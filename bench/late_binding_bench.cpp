// The program's own build against a server that does nothing: what the automation calls
// themselves cost, in this process and over the bus. The floor sends the very same calls early
// bound, straight to Invoke with the member numbers looked up once and the arguments already
// packed, so the ratio is what late binding (a name lookup per call, packing, the trace hook) adds
// to a call. Over the bus the floor is a bare round trip to the same server program; a late-bound
// call makes two (the name, then the call).
#include "automation/bus/protocol.h"
#include "bench_server.h"
#include "bench_support.h"
#include "model/bolt.h"
#include "model/ole_call.h"
#include "model/solidworks.h"
#include "null_server.h"
#include "ratio_reporter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <benchmark/benchmark.h>
#include <string>
#include <vector>

namespace krepiks::bench {

namespace {

using namespace automation;

void BuildProgram(benchmark::State& state) {
    ServedNull served;
    TBolt bolt = SampleBolt();
    long perBuild = 0;
    for (auto _ : state) {
        const long before = served.server().calls;
        BuildModel(bolt);
        perBuild = served.server().calls - before;
    }
    state.counters["calls"] = static_cast<double>(perBuild);
    if (perBuild != 350)
        state.SkipWithError(
            ("a build made " + std::to_string(perBuild) + " calls, not 350").c_str());
}

void BuildFloor(benchmark::State& state) {
    ServedNull served;
    TBolt bolt = SampleBolt();
    NullServer& server = served.server();
    // One build recorded: every call with its member number and packed arguments.
    server.recording = true;
    BuildModel(bolt);
    server.recording = false;
    std::vector<NullServer::Call> calls = server.recorded;
    // The build's own callout variable is gone; the replay passes one of its own.
    IDispatch* callout = nullptr;
    for (NullServer::Call& call : calls)
        for (Variant& arg : call.params.rgvarg)
            if (arg.vt() == (VT_BYREF | VT_DISPATCH))
                arg = Variant::byRefDispatch(&callout);
    for (auto _ : state) {
        for (NullServer::Call& call : calls) {
            Variant result;
            EXCEPINFO excepInfo;
            uint32_t argErr = 0;
            // The floor goes round the counting override, straight to the dispatch.
            server.DispatchObject::Invoke(call.dispid, 0, call.flags, &call.params, &result,
                                          &excepInfo, &argErr);
            benchmark::DoNotOptimize(result);
        }
    }
    state.counters["calls"] = static_cast<double>(calls.size());
    if (calls.size() != 350)
        state.SkipWithError("the recorded build is not 350 calls");
}

// Over the bus: the same build against the same server in a program of its own.
void BuildOverTheBus(benchmark::State& state) {
    std::string error;
    if (!StartPrivateBus(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    RegisterBenchServer("null");
    TBolt bolt = SampleBolt();
    long perBuild = 0;
    try {
        BuildModel(bolt); // starts the server
        const auto served = [] { return OleVariant(SolidWorksApp).get(u"Calls").value().intVal(); };
        const long before = served();
        long builds = 0;
        for (auto _ : state) {
            BuildModel(bolt);
            ++builds;
        }
        // Less the reading of the count that came first.
        perBuild = builds ? (served() - before - 1) / builds : 0;
        OleVariant(SolidWorksApp).send(u"Quit");
    } catch (const std::exception& failure) {
        state.SkipWithError(failure.what());
    }
    UnregisterBenchServer();
    state.counters["calls"] = static_cast<double>(perBuild);
    if (perBuild != 350 && !state.error_occurred())
        state.SkipWithError(
            ("a build made " + std::to_string(perBuild) + " calls, not 350").c_str());
}

// The floor over the bus: a bare round trip to the same server program, per call.
void PingOverTheBus(benchmark::State& state) {
    std::string error;
    if (!StartPrivateBus(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    RegisterBenchServer("null");
    constexpr int Calls = 350;
    try {
        TBolt bolt = SampleBolt();
        BuildModel(bolt); // starts the server
        QDBusConnection bus = QDBusConnection::sessionBus();
        const QDBusMessage ping = QDBusMessage::createMethodCall(
            bus::BusNameForProgId(SolidWorksProgId), QStringLiteral("/"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        for (auto _ : state) {
            for (int i = 0; i < Calls; ++i) {
                if (bus.call(ping).type() != QDBusMessage::ReplyMessage) {
                    state.SkipWithError("the server did not answer a ping");
                    break;
                }
            }
        }
        OleVariant(SolidWorksApp).send(u"Quit");
    } catch (const std::exception& failure) {
        state.SkipWithError(failure.what());
    }
    UnregisterBenchServer();
    state.counters["calls"] = Calls;
}

void Register() {
    benchmark::RegisterBenchmark("late_binding/in_process/program", BuildProgram)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("late_binding/in_process/floor", BuildFloor)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("late_binding/over_the_bus/program", BuildOverTheBus)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("late_binding/over_the_bus/floor", PingOverTheBus)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
