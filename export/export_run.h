#pragma once
// krepiks-catalogue export: every variant of the catalogue as files of a parts library.
#include <QStringList>

namespace krepiks::exporting {

// Runs the command with its arguments (DIR [--only ISP…] [--formats LIST] [--jobs N]).
// Exit codes: 0 every file written or there already, 2 some variants failed, 1 nothing could
// be done, 130 stopped by a signal.
int RunExport(const QStringList& arguments);

} // namespace krepiks::exporting
