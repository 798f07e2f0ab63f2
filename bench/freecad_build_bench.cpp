// One complete build of the program against krepiks-freecad, until FreeCAD holds the body,
// against the same body made by one direct Python script in a FreeCAD of the same kind.
#include "automation/bus/local_client.h"
#include "automation/bus/protocol.h"
#include "bench_server.h"
#include "bench_support.h"
#include "freecad/freecad_process.h"
#include "model/ole_call.h"
#include "model/solidworks.h"
#include "ratio_reporter.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <thread>

namespace krepiks::bench {

namespace {

using freecad::PyNumber;

// The body's volume FreeCAD reports for the served application's active document; 0 when
// it reports none.
double FreeCadVolume() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        automation::bus::BusNameForProgId(SolidWorksProgId), QStringLiteral("/org/krepiks/FreeCad"),
        QStringLiteral("org.krepiks.FreeCad"), QStringLiteral("Describe"));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 60000);
    const std::string text = reply.arguments().value(0).toString().toStdString();
    const size_t at = text.rfind("volume\t");
    return at == std::string::npos ? 0 : std::atof(text.c_str() + at + 7);
}

// The same bolt as one script: the shank sketch on the XY plane turned about its axis edge,
// the hexagon on the end face padded outwards, the chamfer triangle on the XZ plane grooved
// about the x axis, and one recompute.
std::string DirectScript(const TBolt& bolt) {
    TBolt derived = bolt;
    DeriveProfile(derived);
    std::string points = "[";
    for (int i = 0; i < 8; ++i)
        points += "(" + PyNumber(derived.Points[i].x * 1000) + "," +
                  PyNumber(derived.Points[i].y * 1000) + "),";
    points += "]";
    const std::string k = PyNumber(bolt.K), r = PyNumber(bolt.e / 2);
    return "import FreeCAD as App, Part, math\n"
           "d = App.newDocument('Floor')\n"
           "b = d.addObject('PartDesign::Body', 'Body')\n"
           "def sk(x, y, n, pts):\n"
           "    s = b.newObject('Sketcher::SketchObject', 'Sketch')\n"
           "    s.MapMode = 'Deactivated'\n"
           "    s.Placement = App.Placement(App.Matrix(x[0], y[0], n[0], 0, x[1], y[1], n[1], 0,"
           " x[2], y[2], n[2], 0, 0, 0, 0, 1))\n"
           "    for i in range(len(pts)):\n"
           "        a, c = pts[i], pts[(i + 1) % len(pts)]\n"
           "        s.addGeometry(Part.LineSegment(App.Vector(a[0], a[1], 0),"
           " App.Vector(c[0], c[1], 0)))\n"
           "    return s\n"
           "s1 = sk((1, 0, 0), (0, 1, 0), (0, 0, 1), " +
           points +
           ")\n"
           "r = b.newObject('PartDesign::Revolution', 'Revolution')\n"
           "r.Profile = s1; r.ReferenceAxis = (s1, ['Edge8']); r.Angle = 360\n"
           "s2 = sk((0, 1, 0), (0, 0, -1), (-1, 0, 0), [(" +
           r + " * math.cos(k * math.pi / 3), " + r +
           " * math.sin(k * math.pi / 3)) for k in range(6)])\n"
           "p = b.newObject('PartDesign::Pad', 'Pad')\n"
           "p.Profile = s2; p.Length = " +
           k +
           "\n"
           "a = b.newObject('PartDesign::Line', 'DatumLine')\n"
           "a.MapMode = 'Deactivated'\n"
           "a.Placement = App.Placement(App.Vector(0, 0, 0), App.Rotation(App.Vector(0, 0, 1),"
           " App.Vector(1, 0, 0)))\n"
           "s3 = sk((1, 0, 0), (0, 0, -1), (0, 1, 0), [(-" +
           k + ", " + r + "), (-2, " + r + "), (-" + k +
           ", 3)])\n"
           "g = b.newObject('PartDesign::Groove', 'Groove')\n"
           "g.Profile = s3; g.ReferenceAxis = (a, ['']); g.Angle = 360\n"
           "d.recompute()\n"
           "_floor_volume = b.Shape.Volume\n"
           "App.closeDocument(d.Name)\n";
}

void StartFreeCadServer() {
    unsetenv("DISPLAY"); // headless: the figure is FreeCAD's work, not its window's
    unsetenv("WAYLAND_DISPLAY");
    automation::bus::RegisterLocalServer(SolidWorksProgId, KREPIKS_FREECAD_PROGRAM);
}

void CheckVolume(benchmark::State& state, double volume, double expected) {
    state.counters["volume_mm3"] = volume;
    if (std::abs(volume - expected) > 1e-6 * expected)
        state.SkipWithError(("FreeCAD's body is not the floor's: " + std::to_string(volume) +
                             " against " + std::to_string(expected) + " mm3")
                                .c_str());
}

// The floor's body, which the program's must match; set by the floor, which runs first.
double floorVolume = 0;

void DirectScriptFloor(benchmark::State& state) {
    freecad::FreeCadProcess freecad;
    std::string error;
    if (!freecad.start(false, &error) || !freecad.settle(true).ok) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string run = "exec(" + freecad::PyText(DirectScript(SampleBolt())) + ", globals())";
    // The first run loads PartDesign and Sketcher; the program's warm builds find them loaded.
    freecad.request(run);
    double volume = 0;
    for (auto _ : state) {
        const auto answer = freecad.request(run);
        if (!answer.ok) {
            state.SkipWithError(answer.text.c_str());
            break;
        }
        state.PauseTiming();
        volume = std::atof(freecad.request("_floor_volume").text.c_str());
        state.ResumeTiming();
    }
    state.counters["volume_mm3"] = volume;
    floorVolume = volume;
}

// Warm builds against krepiks-freecad (FreeCAD running), in turns with the floor's script in
// a headless FreeCAD of its own; each build's body is checked to be the floor's.
void FreeCadWarm(benchmark::State& state) {
    std::string error;
    if (!StartPrivateBus(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    freecad::FreeCadProcess floor;
    if (!floor.start(false, &error) || !floor.settle(true).ok) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string script =
        "exec(" + freecad::PyText(DirectScript(SampleBolt())) + ", globals())";
    // The first run loads PartDesign and Sketcher; the program's warm builds find them loaded.
    floor.request(script);
    const double expected = std::atof(floor.request("_floor_volume").text.c_str());
    floorVolume = expected;
    const auto direct = [&](double* seconds, std::string* why) {
        const auto start = Clock::now();
        const auto answer = floor.request(script);
        *seconds = SecondsSince(start);
        if (!answer.ok)
            *why = answer.text;
        return answer.ok;
    };
    StartFreeCadServer();
    TBolt bolt = SampleBolt();
    double volume = 0;
    const auto build = [&](double* seconds, std::string* why) {
        const auto start = Clock::now();
        BuildModel(bolt);
        *seconds = SecondsSince(start);
        volume = FreeCadVolume();
        if (std::abs(volume - expected) > 1e-6 * expected) {
            *why = "FreeCAD's body is not the floor's: " + std::to_string(volume) + " against " +
                   std::to_string(expected) + " mm3";
            return false;
        }
        return true;
    };
    Pairs pairs;
    try {
        BuildModel(bolt); // starts krepiks-freecad and FreeCAD
        FreeCadVolume();
        for (auto _ : state)
            if (!pairs.run(state, build, direct))
                break;
        OleVariant(SolidWorksApp).send(u"Quit");
    } catch (const std::exception& failure) {
        state.SkipWithError(failure.what());
    }
    pairs.report(state);
    state.counters["volume_mm3"] = volume;
    ReleaseSolidWorks();
    automation::UnregisterClassObject(SolidWorksProgId);
}

// Cold: krepiks-freecad and FreeCAD start within the build; it ends when FreeCAD holds the
// body (the calls themselves return sooner, not waiting for FreeCAD to load).
void FreeCadCold(benchmark::State& state) {
    std::string error;
    if (!StartPrivateBus(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    StartFreeCadServer();
    TBolt bolt = SampleBolt();
    double volume = 0, callsMs = 0;
    try {
        for (auto _ : state) {
            const auto start = Clock::now();
            BuildModel(bolt);
            callsMs += SecondsSince(start) * 1000;
            volume = FreeCadVolume();
            state.SetIterationTime(SecondsSince(start));
            OleVariant(SolidWorksApp).send(u"Quit");
            ReleaseSolidWorks();
            // The next build must find no program running: wait until this one left the bus.
            const auto name = automation::bus::BusNameForProgId(SolidWorksProgId);
            while (QDBusConnection::sessionBus().interface()->isServiceRegistered(name))
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    } catch (const std::exception& failure) {
        state.SkipWithError(failure.what());
    }
    ReleaseSolidWorks();
    automation::UnregisterClassObject(SolidWorksProgId);
    state.counters["calls_ms"] = callsMs / std::max<double>(1, state.iterations());
    CheckVolume(state, volume, floorVolume);
}

void Register() {
    benchmark::RegisterBenchmark("freecad_build/warm/paired", FreeCadWarm)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(15);
    benchmark::RegisterBenchmark("freecad_build/cold/floor", DirectScriptFloor)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("freecad_build/cold/program", FreeCadCold)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
    SetTarget("freecad_build/warm", 2.0);
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
