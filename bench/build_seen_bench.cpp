// The build as a user meets it: the design window shown, the click on its build button, and
// krepiks-cad (a program of its own, with its window shown) building the part until its
// window has painted it. Cold starts the CAD program within the click; warm finds it running.
// The floor is the same solid made by direct kernel calls.
#include "automation/bus/local_client.h"
#include "automation/bus/protocol.h"
#include "bench_server.h"
#include "bench_support.h"
#include "cad/shown_probe.h"
#include "design/unit4.h"
#include "model/solidworks.h"
#include "ratio_reporter.h"
#include "shell/application.h"
#include "shell/unit1.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QPushButton>
#include <benchmark/benchmark.h>
#include <signal.h>

namespace krepiks::bench {

namespace {

// The moments krepiks-cad reports once its window shows the part; steady clock.
struct Shown {
    Clock::time_point started, named, painted;
    std::chrono::nanoseconds templateLoad{0};
    qint64 pid = 0;
};

Clock::time_point At(qint64 ns) {
    return Clock::time_point(std::chrono::nanoseconds(ns));
}

QString CadBusName() {
    return automation::bus::BusNameForProgId(SolidWorksProgId);
}

// Waits until the CAD window has painted everything the build did.
bool WaitShown(Shown* out, std::string* error) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        CadBusName(), QString::fromLatin1(cad::ShownProbePath),
        QString::fromLatin1(cad::ShownProbeInterface), QStringLiteral("Shown"));
    // A bound for a stalled run, not a timing the figure depends on.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 30000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != QLatin1String("xxxxx")) {
        *error = "the CAD window did not show the part: " + reply.errorMessage().toStdString();
        return false;
    }
    const QList<QVariant> a = reply.arguments();
    out->started = At(a[0].toLongLong());
    out->named = At(a[1].toLongLong());
    out->painted = At(a[2].toLongLong());
    out->templateLoad = std::chrono::nanoseconds(a[3].toLongLong());
    out->pid = a[4].toLongLong();
    return true;
}

// The design window shown, with the sample bolt chosen; false when it does not get there.
bool ShowDesignWindow(std::string* error) {
    QDir::setCurrent(SampleCatalogueFolder());
    CreateForms();
    Form1->show();
    // The list is filled once the design window is first activated.
    if (!ProcessUntil([] { return Form4->isVisible() && Form4->ComboBox1->count() > 0; }, 60000)) {
        *error = "the design window was never shown";
        return false;
    }
    QComboBox* list = Form4->ComboBox1;
    const int entry = list->findText(QString::fromStdString(SampleBolt().isp));
    list->setCurrentIndex(entry);
    emit list->activated(entry);
    if (entry < 0 || !Form4->Button2->isEnabled()) {
        *error = "the sample bolt cannot be chosen";
        return false;
    }
    return true;
}

// Ends the CAD program as the user does (the design window's close button) and waits until
// the process has gone, so that the next cold build starts it afresh.
bool EndCadProgram(qint64 pid) {
    Form4->Button3->click();
    ReleaseSolidWorks();
    return ProcessUntil([pid] { return pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0; },
                        30000);
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void BuildSeen(benchmark::State& state, bool cold) {
    std::string error;
    QuietEffects effects;
    if (!StartPrivateBus(&error) || !ShowDesignWindow(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    automation::bus::RegisterLocalServer(SolidWorksProgId, KREPIKS_CAD_PROGRAM);
    Shown shown;
    double start = 0, name = 0, load = 0, build = 0, paint = 0;
    if (!cold) {
        // The program runs, with the part of an earlier build in its window.
        Form4->Button2->click();
        if (!WaitShown(&shown, &error))
            state.SkipWithError(error.c_str());
    }
    // Each build against one run of the kernel floor, in turns.
    const auto seen = [&](double* seconds, std::string* why) {
        const auto click = Clock::now();
        Form4->Button2->click();
        const auto built = Clock::now();
        if (!WaitShown(&shown, why))
            return false;
        *seconds = std::chrono::duration<double>(shown.painted - click).count();
        paint += Ms(shown.painted - built);
        if (!cold)
            build += Ms(built - click);
        if (cold) {
            start += Ms(shown.started - click);
            name += Ms(shown.named - shown.started);
            load += Ms(shown.templateLoad);
            build += Ms(built - shown.named - shown.templateLoad);
            if (!EndCadProgram(shown.pid)) {
                *why = "the CAD program did not end";
                return false;
            }
        }
        if (effects.boxes > 0) {
            *why = "the build met a box: " + effects.lastText.toStdString();
            return false;
        }
        return true;
    };
    const auto kernel = KernelBolt();
    Pairs pairs;
    for (auto _ : state)
        if (!error.empty() || !pairs.run(state, seen, kernel))
            break;
    pairs.report(state);
    if (!cold)
        EndCadProgram(shown.pid);
    DestroyForms();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    automation::UnregisterClassObject(SolidWorksProgId);
    using benchmark::Counter;
    if (cold) {
        state.counters["process_start_ms"] = Counter(start, Counter::kAvgIterations);
        state.counters["bus_name_ms"] = Counter(name, Counter::kAvgIterations);
        state.counters["template_load_ms"] = Counter(load, Counter::kAvgIterations);
    }
    state.counters["build_ms"] = Counter(build, Counter::kAvgIterations);
    state.counters["first_paint_ms"] = Counter(paint, Counter::kAvgIterations);
}

void Register() {
    benchmark::RegisterBenchmark("build_seen/cold/paired",
                                 [](benchmark::State& state) { BuildSeen(state, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(5);
    benchmark::RegisterBenchmark("build_seen/warm/paired",
                                 [](benchmark::State& state) { BuildSeen(state, false); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(20);
    SetTarget("build_seen/warm", 2.0);
}

[[maybe_unused]] const bool Registered = (Register(), true);

} // namespace

} // namespace krepiks::bench
