// Start-up until the design window has painted, against a bare window shown and painted by
// the same harness. The splash window's first timer tick (100 ms after it is made) is what
// hands over to the design window, so it is part of the program's figure.
#include "bench_support.h"
#include "design/unit4.h"
#include "ratio_reporter.h"
#include "shell/application.h"
#include "shell/unit1.h"

#include <QCoreApplication>
#include <QDir>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <memory>

namespace krepiks::bench {

namespace {

void FlushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

void ProgramStartup(benchmark::State& state) {
    const QString previous = QDir::currentPath();
    QDir::setCurrent(SampleCatalogueFolder());
    double splashMs = 0;
    bool splashSeen = true;
    for (auto _ : state) {
        const auto start = Clock::now();
        CreateForms();
        PaintWatch splashPainted(Form1);
        PaintWatch designPainted(Form4);
        Form1->show();
        splashSeen = splashSeen && splashPainted.wait();
        splashMs += SecondsSince(start) * 1e3;
        const bool shown =
            ProcessUntil([&] { return designPainted.painted() && Form4->isVisible(); });
        state.SetIterationTime(SecondsSince(start));
        DestroyForms();
        FlushDeletes();
        if (!shown) {
            state.SkipWithError("the design window was never shown");
            break;
        }
    }
    QDir::setCurrent(previous);
    state.counters["splash_ms"] = benchmark::Counter(splashMs, benchmark::Counter::kAvgIterations);
    if (!splashSeen)
        state.SkipWithError("the splash window was never painted");
}

void BareWindow(benchmark::State& state) {
    for (auto _ : state) {
        const auto start = Clock::now();
        auto window = std::make_unique<QWidget>();
        window->resize(706, 620);
        PaintWatch painted(window.get());
        window->show();
        const bool shown = painted.wait();
        state.SetIterationTime(SecondsSince(start));
        window.reset();
        FlushDeletes();
        if (!shown) {
            state.SkipWithError("the bare window was never painted");
            break;
        }
    }
}

void Register() {
    benchmark::RegisterBenchmark("startup/program", ProgramStartup)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark("startup/floor", BareWindow)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
