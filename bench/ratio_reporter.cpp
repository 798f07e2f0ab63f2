#include "ratio_reporter.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace krepiks::bench {

namespace {

constexpr const char* Roles[] = {"program", "floor", "engine", "paired"};

std::map<std::string, double>& Targets() {
    static std::map<std::string, double> targets;
    return targets;
}

std::map<std::string, std::string>& References() {
    static std::map<std::string, std::string> references;
    return references;
}

// The value at fraction q of sorted values, between neighbours.
double Quantile(std::vector<double> values, double q) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double at = q * static_cast<double>(values.size() - 1);
    const auto below = static_cast<size_t>(at);
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (at - static_cast<double>(below));
}

double Counter(const benchmark::BenchmarkReporter::Run& run, const char* name) {
    const auto it = run.counters.find(name);
    return it == run.counters.end() ? 0 : it->second.value;
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

std::string TargetText(const std::string& key, double ratio) {
    const auto t = Targets().find(key);
    if (t == Targets().end())
        return {};
    char text[48];
    std::snprintf(text, sizeof text, "<= %.1fx %s", t->second,
                  ratio <= t->second ? "met" : "MISSED");
    return text;
}

} // namespace

void SetTarget(const std::string& key, double ratio) {
    Targets()[key] = ratio;
}

void SetReference(const std::string& key, const std::string& reference) {
    References()[key] = reference;
}

bool Pairs::run(benchmark::State& state, const TimedRun& program, const TimedRun& reference) {
    double programSeconds = 0, referenceSeconds = 0;
    std::string error;
    const bool referenceFirst = program_.size() % 2 == 1;
    const bool ok = referenceFirst
                        ? reference(&referenceSeconds, &error) && program(&programSeconds, &error)
                        : program(&programSeconds, &error) && reference(&referenceSeconds, &error);
    if (!ok) {
        state.SkipWithError(error.c_str());
        return false;
    }
    state.SetIterationTime(programSeconds);
    program_.push_back(programSeconds);
    reference_.push_back(referenceSeconds);
    return true;
}

void Pairs::report(benchmark::State& state) const {
    std::vector<double> ratios;
    for (size_t i = 0; i < program_.size(); ++i)
        if (reference_[i] > 0)
            ratios.push_back(program_[i] / reference_[i]);
    state.counters["program_s"] = Quantile(program_, 0.5);
    state.counters["reference_s"] = Quantile(reference_, 0.5);
    state.counters["ratio"] = Quantile(ratios, 0.5);
    state.counters["ratio_low"] = Quantile(ratios, 0.25);
    state.counters["ratio_high"] = Quantile(ratios, 0.75);
    state.counters["pairs"] = static_cast<double>(ratios.size());
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
#ifdef KREPIKS_BENCHMARK_SKIPPED_RUNS
        if (run.skipped) {
            figure.error = run.skip_message;
#else
        if (run.error_occurred) {
            figure.error = run.error_message;
#endif
        } else {
            figure.seconds =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            figure.calls = Counter(run, "calls");
            if (role == "paired") {
                figure.seconds = Counter(run, "program_s");
                figure.referenceSeconds = Counter(run, "reference_s");
                figure.ratio = Counter(run, "ratio");
                figure.ratioLow = Counter(run, "ratio_low");
                figure.ratioHigh = Counter(run, "ratio_high");
                figure.pairs = static_cast<int>(Counter(run, "pairs"));
            }
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
    // The column names, once, before the first row.
    const auto header = [&out]() -> std::string {
        if (!out.empty())
            return {};
        char text[200];
        std::snprintf(text, sizeof text, "%-28s %-10s %16s %16s %9s  %-16s %s\n", "case", "against",
                      "program", "reference", "ratio", "spread (pairs)", "target");
        return text;
    };
    for (const std::string& key : order_) {
        const auto& roles = figures_.at(key);
        if (const auto paired = roles.find("paired"); paired != roles.end()) {
            out += header();
            const Figure& p = paired->second;
            const auto named = References().find(key);
            const std::string against = named == References().end() ? "floor" : named->second;
            if (!p.error.empty()) {
                std::snprintf(line, sizeof line, "%-28s %-10s failed: %s\n", key.c_str(),
                              against.c_str(), p.error.c_str());
                out += line;
                continue;
            }
            char spread[48];
            std::snprintf(spread, sizeof spread, "%.2f-%.2f (%d)", p.ratioLow, p.ratioHigh,
                          p.pairs);
            std::snprintf(line, sizeof line, "%-28s %-10s %16s %16s %8.2fx  %-16s %s\n",
                          key.c_str(), against.c_str(), Duration(p.seconds).c_str(),
                          Duration(p.referenceSeconds).c_str(), p.ratio, spread,
                          TargetText(key, p.ratio).c_str());
            out += line;
        }
        const auto program = roles.find("program");
        if (program == roles.end())
            continue;
        for (const char* against : {"floor", "engine"}) {
            const auto reference = roles.find(against);
            if (reference == roles.end())
                continue;
            out += header();
            const Figure& p = program->second;
            const Figure& r = reference->second;
            if (!p.error.empty() || !r.error.empty()) {
                std::snprintf(line, sizeof line, "%-28s %-10s failed: %s\n", key.c_str(), against,
                              (!p.error.empty() ? p.error : r.error).c_str());
                out += line;
                continue;
            }
            const bool perCall = p.calls > 0 && r.calls > 0;
            const double ps = perCall ? p.seconds / p.calls : p.seconds;
            const double rs = perCall ? r.seconds / r.calls : r.seconds;
            const double ratio = rs > 0 ? ps / rs : 0;
            const std::string target =
                std::string(against) == "floor" ? TargetText(key, ratio) : std::string();
            const std::string unit = perCall ? "/call" : "";
            std::snprintf(line, sizeof line, "%-28s %-10s %16s %16s %8.2fx  %-16s %s\n",
                          key.c_str(), against, (Duration(ps) + unit).c_str(),
                          (Duration(rs) + unit).c_str(), ratio, "single run", target.c_str());
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
