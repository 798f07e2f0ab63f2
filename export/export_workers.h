#pragma once
// Worker processes for an export: OpenCASCADE is not shared across threads here, so each
// worker is a process of its own, forked from the run, that takes the next variant as soon
// as it has finished one.
#include "export/export_job.h"

#include <functional>

namespace krepiks::exporting {

using JobWork = std::function<VariantResult(const VariantJob& job)>;
using JobDone = std::function<void(std::size_t job, const VariantResult& result)>;

// Runs work for each of the jobs numbered in pending on up to workers processes and calls
// done in this process as each ends, in the order they end. A worker that dies fails its
// variant, and another takes its place. SIGINT, SIGTERM and SIGHUP stop every worker at once
// and make it return false; true once every job has ended.
bool RunInWorkers(const std::vector<VariantJob>& jobs, const std::vector<std::size_t>& pending,
                  int workers, const JobWork& work, const JobDone& done);

} // namespace krepiks::exporting
