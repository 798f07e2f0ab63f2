#pragma once
// Replays a recorded call trace (KREPIKS_AUTOMATION_TRACE) against fresh, windowless CAD
// applications, to rebuild the part a program made and look at it outside that program.
#include "automation/trace_reader.h"
#include "cad/cad_server.h"

#include <memory>
#include <string>
#include <vector>

namespace krepiks::cad {

struct ReplayResult {
    bool ok = false;
    std::string message;     // why the replay failed, naming the trace line
    std::size_t calls = 0;   // calls replayed on the CAD applications
    std::size_t skipped = 0; // calls on other programs' objects
    std::vector<std::shared_ptr<CadSession>> sessions;
    // The document opened last, if any.
    std::shared_ptr<PartDocument> lastDocument() const;
};

// Every traced call on an object of a CAD application is made again; a call that succeeded
// in the trace must succeed again with a result of the same type, and one that failed must
// fail again. Objects of other programs in the same trace are left out.
ReplayResult ReplayCalls(const std::vector<automation::trace::TracedCall>& calls);

// Reads the trace file first; an unreadable or malformed file fails the replay.
ReplayResult ReplayTraceFile(const std::string& path);

} // namespace krepiks::cad
