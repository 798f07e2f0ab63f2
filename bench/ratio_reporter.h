#pragma once
// Console output as usual, then a table that sets each program figure beside its floor.
//
// A case is a benchmark named "<case>/program[/<arg>]" with its floor "<case>/floor[/<arg>]";
// a case may also have "<case>/engine[/<arg>]", the engine alone doing exactly the program's
// own work, to show how much of the gap to the floor is the engine's. The table shows the
// times, their ratios and, where a case has one, its target against the floor. A counter
// "calls" on both turns the times into times per call.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace krepiks::bench {

// The ratio to the floor that a case should stay within, by its key "<case>[/<arg>]".
void SetTarget(const std::string& key, double ratio);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

    struct Figure {
        double seconds = 0; // per iteration
        double calls = 0;   // per iteration, 0 when not counted
        std::string error;
    };

    // The ratio table as text; empty when no pair completed.
    std::string table() const;

private:
    // By key, then by role: "program", "floor", "engine".
    std::map<std::string, std::map<std::string, Figure>> figures_;
    std::vector<std::string> order_;
};

} // namespace krepiks::bench
