#pragma once
// What an export shows while it runs: on a terminal a bar with the count, the rate and the
// time left; otherwise one line per variant. Failures are named either way.
#include "export/export_job.h"

#include <QStringList>
#include <chrono>
#include <cstdio>

namespace krepiks::exporting {

class Progress {
public:
    Progress(std::size_t total, bool terminal, std::FILE* out = stdout);

    // A variant has ended; names are its files' names, in the job's order of formats.
    void ended(const VariantJob& job, const VariantResult& result, const QStringList& names);

    // Counts so far.
    std::size_t variantsDone() const { return done_; }
    std::size_t written() const { return written_; }
    std::size_t skipped() const { return skipped_; }
    std::size_t failedVariants() const { return failedVariants_; }
    double seconds() const;

    // Ends the bar's line, if one is shown.
    void close();

private:
    void drawBar();

    std::size_t total_;
    bool terminal_;
    std::FILE* out_;
    std::chrono::steady_clock::time_point start_;
    std::size_t done_ = 0, written_ = 0, skipped_ = 0, failedVariants_ = 0;
    bool barShown_ = false;
};

} // namespace krepiks::exporting
