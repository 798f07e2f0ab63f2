#pragma once
// A worker's part of an export: one variant built by the CAD core in this process, its
// files written under temporary names and linked into place.
#include "export/export_job.h"

namespace krepiks::exporting {

// Builds job's variant when a file or its volume is wanted and writes each file of it not
// already in dir. tempPrefix starts the temporary names, so that the run can find them.
VariantResult RunVariantJob(const VariantJob& job, const QString& dir, const QString& tempPrefix);

// The name a temporary file of the run with this prefix gets for the final name.
QString TemporaryName(const QString& tempPrefix, const QString& finalName);

} // namespace krepiks::exporting
