#pragma once
// Console output as usual, then a table that sets each program figure beside its floor.
//
// A case is a benchmark named "<case>/program[/<arg>]" with its floor "<case>/floor[/<arg>]";
// a case may also have "<case>/engine[/<arg>]", the engine alone doing exactly the program's
// own work, to show how much of the gap to the floor is the engine's. The table shows the
// times, their ratios and, where a case has one, its target against the floor. A counter
// "calls" on both turns the times into times per call.
//
// A case measured in pairs is one benchmark "<case>/paired[/<arg>]" (see Pairs): its row
// gives the medians of both sides and the median of the pairs' ratios with their spread.
// Figures taken minutes apart on a shared machine differ by more than the gaps they show;
// a program and its floor timed in turns meet the same load.
#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace krepiks::bench {

// The ratio to the floor that a case should stay within, by its key "<case>[/<arg>]".
void SetTarget(const std::string& key, double ratio);
// What a paired case's program is measured against, when not the floor (e.g. "in_process").
void SetReference(const std::string& key, const std::string& reference);

// One timed run: its time in seconds, or false with why it failed.
using TimedRun = std::function<bool(double* seconds, std::string* error)>;

// The program and its reference, run once each per iteration, the one going first taking
// turns. The iteration's (manual) time is the program's.
class Pairs {
public:
    // False, with the state skipped, when either failed.
    bool run(benchmark::State& state, const TimedRun& program, const TimedRun& reference);
    // Counters for the reporter: program_s and reference_s (medians), ratio (the median of
    // the pairs' ratios), ratio_low and ratio_high (their quartiles), pairs.
    void report(benchmark::State& state) const;

private:
    std::vector<double> program_, reference_;
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

    struct Figure {
        double seconds = 0; // per iteration
        double calls = 0;   // per iteration, 0 when not counted
        std::string error;
        // A paired case: the reference's median and the pairs' ratios.
        double referenceSeconds = 0, ratio = 0, ratioLow = 0, ratioHigh = 0;
        int pairs = 0;
    };

    // The ratio table as text; empty when no pair completed.
    std::string table() const;

private:
    // By key, then by role: "program", "floor", "engine", "paired".
    std::map<std::string, std::map<std::string, Figure>> figures_;
    std::vector<std::string> order_;
};

} // namespace krepiks::bench
