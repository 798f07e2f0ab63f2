// One complete build of the program against the CAD stand-in, against the same solid made
// by direct kernel calls in one function.
#include "bench_server.h"
#include "bench_support.h"
#include "cad/cad_server.h"
#include "model/ole_call.h"
#include "model/solidworks.h"
#include "ratio_reporter.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <GProp_GProps.hxx>
#include <TopoDS_Shape.hxx>
#include <benchmark/benchmark.h>
#include <cmath>
#include <gp.hxx>
#include <numbers>
#include <string>

namespace krepiks::bench {

namespace {

// The bolt in millimetres, the part template's unit: the shank turned about x, the head
// hexagon on the end face at x = 0 grown to x = -K, the chamfer triangle on the top plane
// turned about x and cut away.
TopoDS_Shape DirectBolt(const TBolt& bolt) {
    TBolt derived = bolt;
    DeriveProfile(derived);
    BRepBuilderAPI_MakePolygon shank;
    for (int i = 0; i < 8; ++i)
        shank.Add(gp_Pnt(derived.Points[i].x * 1000, derived.Points[i].y * 1000, 0));
    shank.Close();
    const TopoDS_Shape body =
        BRepPrimAPI_MakeRevol(BRepBuilderAPI_MakeFace(shank.Wire(), Standard_True).Face(), gp::OX())
            .Shape();

    // The end face's sketch has its x along model y and its y along model -z.
    BRepBuilderAPI_MakePolygon hexagon;
    const double corner = bolt.e / 2;
    for (int k = 0; k < 6; ++k) {
        const double angle = k * std::numbers::pi / 3;
        hexagon.Add(gp_Pnt(0, corner * std::cos(angle), -corner * std::sin(angle)));
    }
    hexagon.Close();
    const TopoDS_Shape head =
        BRepPrimAPI_MakePrism(BRepBuilderAPI_MakeFace(hexagon.Wire(), Standard_True).Face(),
                              gp_Vec(-bolt.K, 0, 0))
            .Shape();
    const TopoDS_Shape headed = BRepAlgoAPI_Fuse(body, head).Shape();

    // The top plane's sketch: x along model x, y along model -z.
    BRepBuilderAPI_MakePolygon triangle(gp_Pnt(-bolt.K, 0, -corner), gp_Pnt(-2, 0, -corner),
                                        gp_Pnt(-bolt.K, 0, -3), Standard_True);
    const TopoDS_Shape chamfer =
        BRepPrimAPI_MakeRevol(BRepBuilderAPI_MakeFace(triangle.Wire(), Standard_True).Face(),
                              gp::OX())
            .Shape();
    return BRepAlgoAPI_Cut(headed, chamfer).Shape();
}

double Volume(const TopoDS_Shape& shape) {
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props, 1e-12, Standard_True);
    return props.Mass();
}

} // namespace

void KernelFloor(benchmark::State& state) {
    const TBolt bolt = SampleBolt();
    double volume = 0;
    for (auto _ : state) {
        TopoDS_Shape solid = DirectBolt(bolt);
        benchmark::DoNotOptimize(solid);
        state.PauseTiming();
        volume = Volume(solid);
        state.ResumeTiming();
    }
    state.counters["volume_mm3"] = volume;
}

std::function<bool(double*, std::string*)> KernelBolt() {
    return [bolt = SampleBolt()](double* seconds, std::string*) {
        const auto start = Clock::now();
        TopoDS_Shape solid = DirectBolt(bolt);
        benchmark::DoNotOptimize(solid);
        *seconds = SecondsSince(start);
        return true;
    };
}

std::function<bool(double*, std::string*)> KernelBolts(std::vector<TBolt> bolts) {
    return [bolts = std::move(bolts)](double* seconds, std::string*) {
        const auto start = Clock::now();
        for (const TBolt& bolt : bolts) {
            TopoDS_Shape solid = DirectBolt(bolt);
            benchmark::DoNotOptimize(solid);
        }
        *seconds = SecondsSince(start);
        return true;
    };
}

namespace {

// One build against the stand-in in this process, each in an application of its own (as
// after Close), checked to make the floor's solid.
bool InProcessBuild(TBolt& bolt, double expected, double* seconds, std::string* error) {
    cad::RegisterCadServer();
    const auto start = Clock::now();
    try {
        BuildModel(bolt);
    } catch (const std::exception& failure) {
        *error = failure.what();
    }
    *seconds = SecondsSince(start);
    const auto session = cad::RunningCadSession();
    const auto document = session ? session->activeDocument() : nullptr;
    const double volume = document ? document->volume() : 0;
    const std::size_t features = document ? document->features().size() : 0;
    if (session)
        session->quit();
    ReleaseSolidWorks();
    cad::UnregisterCadServer();
    if (!error->empty())
        return false;
    if (features != 7 || std::abs(volume - expected) > 1e-6 * expected) {
        *error = "the stand-in's solid is not the floor's: " + std::to_string(volume) +
                 " against " + std::to_string(expected) + " mm3";
        return false;
    }
    return true;
}

void InProcessAgainstKernel(benchmark::State& state) {
    TBolt bolt = SampleBolt();
    const double expected = Volume(DirectBolt(bolt));
    const auto build = [&](double* seconds, std::string* error) {
        return InProcessBuild(bolt, expected, seconds, error);
    };
    const auto kernel = KernelBolt();
    Pairs pairs;
    for (auto _ : state)
        if (!pairs.run(state, build, kernel))
            break;
    pairs.report(state);
}

// The same build against the stand-in served by a program of its own over the bus, in turns
// with the build in process. Its solid is the one checked in process: the bus carries the
// same calls.
void OverTheBusAgainstInProcess(benchmark::State& state) {
    std::string error;
    if (!StartPrivateBus(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    TBolt bolt = SampleBolt();
    const double expected = Volume(DirectBolt(bolt));
    const auto inProcess = [&](double* seconds, std::string* why) {
        return InProcessBuild(bolt, expected, seconds, why);
    };
    const auto overTheBus = [&](double* seconds, std::string* why) {
        RegisterBenchServer("cad");
        try {
            const auto start = Clock::now();
            BuildModel(bolt);
            *seconds = SecondsSince(start);
        } catch (const std::exception& failure) {
            *why = failure.what();
        }
        UnregisterBenchServer();
        return why->empty();
    };
    Pairs pairs;
    double first = 0;
    if (!overTheBus(&first, &error)) { // starts the server
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state)
        if (!pairs.run(state, overTheBus, inProcess))
            break;
    pairs.report(state);
    // The server program ends with its application.
    RegisterBenchServer("cad");
    try {
        BuildModel(bolt);
        OleVariant(SolidWorksApp).send(u"Quit");
    } catch (const std::exception&) {
    }
    UnregisterBenchServer();
}

void Register() {
    benchmark::RegisterBenchmark("cad_build/in_process/paired", InProcessAgainstKernel)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(20);
    benchmark::RegisterBenchmark("cad_build/over_the_bus/paired", OverTheBusAgainstInProcess)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(20);
    SetTarget("cad_build/in_process", 1.5);
    SetTarget("cad_build/over_the_bus", 1.3);
    SetReference("cad_build/over_the_bus", "in_process");
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
