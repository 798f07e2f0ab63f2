// krepiks-cad: the CAD stand-in on its own. --replay TRACE --export FILE.step rebuilds the
// part of a recorded call trace, without any window, and saves it as STEP.
#include "platform/automation/trace.h"
#include "platform/cad/replay.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* Usage = "usage: krepiks-cad --replay TRACE --export FILE.step\n"
                              "  Replays a call trace written through KREPIKS_AUTOMATION_TRACE\n"
                              "  and saves the part it built as STEP.\n";

int UsageError(const char* why) {
    std::fprintf(stderr, "krepiks-cad: %s\n%s", why, Usage);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
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
