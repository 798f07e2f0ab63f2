// The PDF drawing of a variant against the in-process build of the same variant, the build
// being the first thing the drawing does.
#include "bench_support.h"
#include "drawing/bolt_drawing.h"
#include "drawing/part_build.h"
#include "drawing/sheet_writers.h"
#include "ratio_reporter.h"

#include <QBuffer>
#include <benchmark/benchmark.h>

namespace krepiks::bench {

namespace {

void DrawingAgainstInProcessBuild(benchmark::State& state) {
    drawing::DrawingRequest request;
    request.bolt = SampleBolt();
    request.material = "Сталь 35 ГОСТ 1050-2013";
    const auto pdf = [&](double* seconds, std::string* error) {
        const auto start = Clock::now();
        const drawing::BoltDrawing made = drawing::MakeBoltDrawing(request);
        if (!made.error.empty()) {
            *error = made.error;
            return false;
        }
        QBuffer file;
        file.open(QIODevice::WriteOnly);
        *error = drawing::WritePdf(made.sheet, file, "Болт");
        *seconds = SecondsSince(start);
        return error->empty();
    };
    const auto build = [&](double* seconds, std::string* error) {
        const auto start = Clock::now();
        const drawing::BuiltPart part = drawing::BuildPart(request.bolt);
        *seconds = SecondsSince(start);
        *error = part.refusal;
        return !part.solid.IsNull();
    };
    Pairs pairs;
    for (auto _ : state)
        if (!pairs.run(state, pdf, build))
            break;
    pairs.report(state);
}

void Register() {
    benchmark::RegisterBenchmark("drawing/paired", DrawingAgainstInProcessBuild)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(20);
    SetTarget("drawing", 3);
    SetReference("drawing", "in_process");
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
