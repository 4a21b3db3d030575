#include "bench/RatioTable.h"

#include <cstdio>

namespace Qor::Bench {

void RatioTable::addCase(const std::string& name, int64_t frameBytes, double shortRunShare)
{
    cases.push_back({name, frameBytes, shortRunShare});
}

void RatioTable::record(const std::string& benchmark, double value)
{
    seconds[benchmark] = value;
}

void RatioTable::print(std::ostream& out) const
{
    auto find = [this](const std::string& name) {
        const auto found = seconds.find(name);
        return found == seconds.end() ? 0.0 : found->second;
    };
    char line[256];
    std::snprintf(line, sizeof line, "\n%-18s %-8s %10s %8s %9s %10s %9s %8s\n", "case", "stage", "time ms",
        "GB/s", "x memset", "plain ms", "x memset", "speedup");
    out << line;
    for (const Case& c : cases) {
        const double memset = find("memset/" + c.name);
        for (const char* stage : {"produce", "decode", "blit", "memset"}) {
            const double fast = find(std::string(stage) + "/" + c.name);
            if (fast <= 0)
                continue;
            const double rate = double(c.frameBytes) / fast / 1e9;
            const double overMemset = memset > 0 ? fast / memset : 0;
            const double plain = find(std::string(stage) + ".plain/" + c.name);
            if (plain > 0) {
                std::snprintf(line, sizeof line, "%-18s %-8s %10.4f %8.2f %9.2f %10.4f %9.2f %8.2f\n",
                    c.name.c_str(), stage, fast * 1e3, rate, overMemset, plain * 1e3,
                    memset > 0 ? plain / memset : 0, plain / fast);
            } else {
                std::snprintf(line, sizeof line, "%-18s %-8s %10.4f %8.2f %9.2f\n", c.name.c_str(), stage,
                    fast * 1e3, rate, overMemset);
            }
            out << line;
        }
    }
    out << "\nx memset: time over the memset of the same frame bytes; speedup: plain time over library time.\n";
    for (const Case& c : cases) {
        std::snprintf(line, sizeof line, "%s: %.0f%% of the pixels in runs of 1 to 3\n", c.name.c_str(),
            c.shortRunShare * 100);
        out << line;
    }
}

void RatioReporter::ReportRuns(const std::vector<Run>& reports)
{
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
        if (run.error_occurred)
            continue;
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
        if (median || single)
            table.record(run.run_name.function_name,
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit));
    }
}

} // namespace Qor::Bench
