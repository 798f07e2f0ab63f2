#include "ratio_reporter.h"

#include <cstdio>
#include <iostream>

namespace krepiks::bench {

namespace {

constexpr const char* Roles[] = {"program", "floor", "engine"};

std::map<std::string, double>& Targets() {
    static std::map<std::string, double> targets;
    return targets;
}

// "case/floor" with argument "1000" -> key "case/1000", role "floor".
bool SplitName(const benchmark::BenchmarkReporter::Run& run, std::string& key, std::string& role) {
    const std::string& name = run.run_name.function_name;
    for (const char* candidate : Roles) {
        const std::string marker = std::string("/") + candidate;
        if (name.size() <= marker.size() ||
            name.compare(name.size() - marker.size(), marker.size(), marker) != 0)
            continue;
        key = name.substr(0, name.size() - marker.size());
        if (!run.run_name.args.empty())
            key += "/" + run.run_name.args;
        role = candidate;
        return true;
    }
    return false;
}

std::string Duration(double seconds) {
    char text[32];
    if (seconds >= 1)
        std::snprintf(text, sizeof text, "%.3f s", seconds);
    else if (seconds >= 1e-3)
        std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
    else if (seconds >= 1e-6)
        std::snprintf(text, sizeof text, "%.3f us", seconds * 1e6);
    else
        std::snprintf(text, sizeof text, "%.1f ns", seconds * 1e9);
    return text;
}

} // namespace

void SetTarget(const std::string& key, double ratio) {
    Targets()[key] = ratio;
}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        // With repetitions the mean stands for the case; single runs stand for themselves.
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean")
            continue;
        std::string key, role;
        if (!SplitName(run, key, role))
            continue;
        Figure figure;
        if (run.error_occurred) {
            figure.error = run.error_message;
        } else {
            figure.seconds =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (const auto calls = run.counters.find("calls"); calls != run.counters.end())
                figure.calls = calls->second.value;
        }
        if (!figures_.count(key))
            order_.push_back(key);
        // An aggregate comes after the repetitions it sums up and replaces them.
        figures_[key][role] = figure;
    }
}

std::string RatioReporter::table() const {
    std::string out;
    char line[320];
    for (const std::string& key : order_) {
        const auto& roles = figures_.at(key);
        const auto program = roles.find("program");
        if (program == roles.end())
            continue;
        for (const char* against : {"floor", "engine"}) {
            const auto reference = roles.find(against);
            if (reference == roles.end())
                continue;
            if (out.empty()) {
                std::snprintf(line, sizeof line, "%-28s %-7s %16s %16s %9s  %s\n", "case",
                              "against", "program", "reference", "ratio", "target");
                out += line;
            }
            const Figure& p = program->second;
            const Figure& r = reference->second;
            if (!p.error.empty() || !r.error.empty()) {
                std::snprintf(line, sizeof line, "%-28s %-7s failed: %s\n", key.c_str(), against,
                              (!p.error.empty() ? p.error : r.error).c_str());
                out += line;
                continue;
            }
            const bool perCall = p.calls > 0 && r.calls > 0;
            const double ps = perCall ? p.seconds / p.calls : p.seconds;
            const double rs = perCall ? r.seconds / r.calls : r.seconds;
            const double ratio = rs > 0 ? ps / rs : 0;
            std::string target;
            const auto t = Targets().find(key);
            if (t != Targets().end() && std::string(against) == "floor") {
                char text[48];
                std::snprintf(text, sizeof text, "<= %.1fx %s", t->second,
                              ratio <= t->second ? "met" : "MISSED");
                target = text;
            }
            const std::string unit = perCall ? "/call" : "";
            std::snprintf(line, sizeof line, "%-28s %-7s %16s %16s %8.2fx  %s\n", key.c_str(),
                          against, (Duration(ps) + unit).c_str(), (Duration(rs) + unit).c_str(),
                          ratio, target.c_str());
            out += line;
        }
    }
    return out;
}

void RatioReporter::Finalize() {
    ConsoleReporter::Finalize();
    const std::string text = table();
    if (text.empty())
        return;
    GetOutputStream() << "\nProgram against floor (real time)\n" << text << std::flush;
}

} // namespace krepiks::bench
