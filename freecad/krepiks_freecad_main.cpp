// krepiks-freecad: "SldWorks.Application" served by FreeCAD. Started with no arguments (or
// -Embedding, as the automation runtime starts local servers) it answers on the session bus
// as krepiks-cad does and makes each part in FreeCAD as a PartDesign body: headless through
// freecadcmd, or in FreeCAD's window once the application is made visible on a display.
// With --replay TRACE --export FILE it rebuilds the part of a recorded call trace in a
// headless FreeCAD and saves it as .FCStd or STEP.
#include "automation/bus/local_server.h"
#include "automation/trace.h"
#include "cad/cad_server.h"
#include "cad/replay.h"
#include "freecad/freecad_link.h"
#include "freecad/freecad_probe.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace {

using krepiks::cad::CadSession;
using krepiks::freecad::FreeCadLink;

constexpr const char* Usage =
    "usage: krepiks-freecad [-Embedding]\n"
    "       krepiks-freecad --replay TRACE --export FILE.FCStd|FILE.step\n"
    "  Without arguments, serves SldWorks.Application on the session bus through FreeCAD.\n"
    "  --replay replays a call trace written through KREPIKS_AUTOMATION_TRACE in a\n"
    "  headless FreeCAD and saves the part it built.\n";

int UsageError(const char* why) {
    std::fprintf(stderr, "krepiks-freecad: %s\n%s", why, Usage);
    return 2;
}

// One link per application made, for as long as the program runs.
std::map<const CadSession*, std::unique_ptr<FreeCadLink>>& Links() {
    static std::map<const CadSession*, std::unique_ptr<FreeCadLink>> links;
    return links;
}

void FollowEveryApplication() {
    krepiks::cad::SetSessionStartHook([](const std::shared_ptr<CadSession>& session) {
        Links()[session.get()] = std::make_unique<FreeCadLink>(session);
    });
}

FreeCadLink* LinkOf(const CadSession* session) {
    const auto found = Links().find(session);
    return found == Links().end() ? nullptr : found->second.get();
}

int Serve(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string error;
    // Without FreeCAD there is no server: the client's creation fails as with any server
    // that cannot start.
    if (!FreeCadLink::Available(&error)) {
        std::fprintf(stderr, "krepiks-freecad: %s\n", error.c_str());
        automation::bus::ReportStartFailure(error);
        return 1;
    }
    FollowEveryApplication();
    krepiks::cad::RegisterCadServer();
    automation::bus::LocalServer server(krepiks::cad::CadProgId);
    server.onBusLost([] { QCoreApplication::quit(); });
    automation::bus::QuitOnTermination();
    if (!server.start(&error)) {
        std::fprintf(stderr, "krepiks-freecad: %s\n", error.c_str());
        automation::bus::ReportStartFailure(error);
        return 1;
    }
    const krepiks::freecad::FreeCadProbe probe(QDBusConnection::sessionBus(), [] {
        const auto session = krepiks::cad::RunningCadSession();
        FreeCadLink* link = session ? LinkOf(session.get()) : nullptr;
        const auto doc = session ? session->activeDocument() : nullptr;
        if (!link || !doc)
            return std::string();
        const std::string text = link->describe(*doc);
        return text.empty() ? text : "pid " + std::to_string(link->process().pid()) + "\n" + text;
    });
    // The program ends with its application: Quit, FreeCAD's window closed by the user, or
    // FreeCAD gone. The bus name goes first, so the next creation starts a fresh program.
    bool seen = false;
    const auto endWithApplication = [&] {
        if (const auto session = krepiks::cad::RunningCadSession()) {
            seen = true;
            FreeCadLink* link = LinkOf(session.get());
            if (link && link->process().hungUp()) {
                link->process().release();
                session->quit();
            }
        }
        if (seen && !krepiks::cad::RunningCadSession()) {
            seen = false;
            server.withdraw();
            QCoreApplication::quit();
        }
    };
    server.afterCall(endWithApplication);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, endWithApplication);
    watch.start(200);
    const int code = app.exec();
    Links().clear(); // a headless FreeCAD ends with its pipes; a window stays the user's
    return code;
}

int Replay(const std::string& trace, const std::string& exportPath) {
    // The replay's own calls must not be appended to a trace, least of all the one read.
    unsetenv("KREPIKS_AUTOMATION_TRACE");
    automation::trace::Reload();
    std::string error;
    if (!FreeCadLink::Available(&error)) {
        std::fprintf(stderr, "krepiks-freecad: %s\n", error.c_str());
        return 1;
    }
    FollowEveryApplication();
    const krepiks::cad::ReplayResult replay = krepiks::cad::ReplayTraceFile(trace);
    if (!replay.ok) {
        std::fprintf(stderr, "krepiks-freecad: cannot replay '%s': %s\n", trace.c_str(),
                     replay.message.c_str());
        return 1;
    }
    const auto doc = replay.lastDocument();
    FreeCadLink* link = nullptr;
    for (const auto& session : replay.sessions)
        for (const auto& d : session->documents())
            if (d == doc)
                link = LinkOf(session.get());
    if (!doc || doc->body().IsNull() || !link) {
        std::fprintf(stderr, "krepiks-freecad: the trace '%s' builds no part to export\n",
                     trace.c_str());
        return 1;
    }
    if (!link->save(*doc, exportPath, &error)) {
        std::fprintf(stderr, "krepiks-freecad: cannot save '%s': %s\n", exportPath.c_str(),
                     error.c_str());
        return 1;
    }
    const std::string described = link->describe(*doc);
    const size_t volume = described.rfind("volume\t");
    std::printf("krepiks-freecad: replayed %zu calls; %s (%.9g mm^3 in FreeCAD) saved to %s\n",
                replay.calls, doc->title().c_str(),
                volume == std::string::npos ? 0.0 : std::atof(described.c_str() + volume + 7),
                exportPath.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // A FreeCAD that ended shows as a failed write on its pipe, not as the end of this program.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc == 1 || (argc == 2 && std::string(argv[1]) == "-Embedding"))
        return Serve(argc, argv);
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
    return Replay(trace, exportPath);
}
