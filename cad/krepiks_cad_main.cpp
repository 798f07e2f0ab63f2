// krepiks-cad: the CAD application. Started with no arguments (or -Embedding, as the
// automation runtime starts local servers) it serves "SldWorks.Application" on the session
// bus, one window per visible application, and ends with its application. With
// --replay TRACE --export FILE.step it rebuilds the part of a recorded call trace, without
// any window, and saves it as STEP.
#include "automation/bus/local_server.h"
#include "automation/trace.h"
#include "cad/cad_server.h"
#include "cad/cad_window.h"
#include "cad/replay.h"
#include "cad/shown_probe.h"

#include <QApplication>
#include <QDBusConnection>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* Usage =
    "usage: krepiks-cad [-Embedding]\n"
    "       krepiks-cad --replay TRACE --export FILE.step\n"
    "  Without arguments, serves SldWorks.Application on the session bus.\n"
    "  --replay replays a call trace written through\n"
    "  KREPIKS_AUTOMATION_TRACE and saves the part it built as STEP.\n";

int UsageError(const char* why) {
    std::fprintf(stderr, "krepiks-cad: %s\n%s", why, Usage);
    return 2;
}

// The 3D view draws into an X11 window. In a Wayland session Qt would take its Wayland
// platform, where the view cannot be made; the XWayland that such desktops run for X11
// programs shows it. A platform the user named stays.
void AskForXWayland() {
    const bool wayland =
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
    if (wayland && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

int Serve(int argc, char** argv, std::chrono::steady_clock::time_point started) {
    AskForXWayland();
    QApplication app(argc, argv);
    krepiks::cad::RegisterCadServer();
    krepiks::cad::InstallCadWindows();
    automation::bus::LocalServer server(krepiks::cad::CadProgId);
    server.onBusLost([] { QCoreApplication::quit(); });
    automation::bus::QuitOnTermination();
    std::string error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "krepiks-cad: %s\n", error.c_str());
        automation::bus::ReportStartFailure(error);
        return 1;
    }
    const krepiks::cad::ShownProbe probe(QDBusConnection::sessionBus(), started,
                                         std::chrono::steady_clock::now());
    // The program ends with its application (Quit, or the user closing its window). The bus
    // name goes first, so the next creation starts a fresh program instead of reaching this one.
    bool seen = false;
    const auto endWithApplication = [&] {
        if (krepiks::cad::RunningCadSession()) {
            seen = true;
        } else if (seen) {
            seen = false;
            server.withdraw();
            QCoreApplication::quit();
        }
    };
    server.afterCall([&] {
        endWithApplication();
        // A client that has let go of all but the application has finished its build.
        if (server.handleCount() <= server.clientCount())
            if (const auto session = krepiks::cad::RunningCadSession())
                if (krepiks::cad::SessionView* view = session->view())
                    view->clientsDone();
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, endWithApplication);
    watch.start(200);
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    if (argc == 1 || (argc == 2 && std::string(argv[1]) == "-Embedding"))
        return Serve(argc, argv, started);
    std::string trace, exportPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if ((arg == "--replay" || arg == "--export") && i + 1 < argc) {
            (arg == "--replay" ? trace : exportPath) = argv[++i];
            continue;
        }
        return UsageError(("unexpected argument '" + arg + "'").c_str());
    }
    if (trace.empty() || exportPath.empty())
        return UsageError("both --replay and --export are needed");

    // The replay's own calls must not be appended to a trace, least of all the one read.
    unsetenv("KREPIKS_AUTOMATION_TRACE");
    automation::trace::Reload();

    const krepiks::cad::ReplayResult replay = krepiks::cad::ReplayTraceFile(trace);
    if (!replay.ok) {
        std::fprintf(stderr, "krepiks-cad: cannot replay '%s': %s\n", trace.c_str(),
                     replay.message.c_str());
        return 1;
    }
    const auto doc = replay.lastDocument();
    if (!doc || doc->body().IsNull()) {
        std::fprintf(stderr, "krepiks-cad: the trace '%s' builds no part to export\n",
                     trace.c_str());
        return 1;
    }
    std::string error;
    if (!doc->saveStep(exportPath, &error)) {
        std::fprintf(stderr, "krepiks-cad: %s\n", error.c_str());
        return 1;
    }
    std::printf("krepiks-cad: replayed %zu calls; %s (%.6g %s^3) saved to %s\n", replay.calls,
                doc->title().c_str(), doc->volume(), doc->partTemplate().unit.c_str(),
                exportPath.c_str());
    return 0;
}
