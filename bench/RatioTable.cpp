#include "bench/RatioTable.h"

#include <cstdio>

namespace Qor::Bench {

void RatioTable::addCase(const std::string& name, int64_t frameBytes, int64_t runs)
{
    cases.push_back({name, frameBytes, runs});
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
    auto ratio = [](double time, double memset) {
        char text[32] = "-";
        if (time > 0 && memset > 0)
            std::snprintf(text, sizeof text, "%.2f", time / memset);
        return std::string(text);
    };
    out << "\n| case | px/run | memset µs | produce µs | produce | plain | speedup |";
    for (const std::string& kernel : kernels)
        out << " " << kernel << " |";
    out << " apart | apart plain |\n|---|---:|---:|---:|---:|---:|---:|";
    for (size_t k = 0; k < kernels.size(); ++k)
        out << "---:|";
    out << "---:|---:|\n";
    char text[64];
    for (const Case& c : cases) {
        const double memset = find("memset/" + c.name);
        const double produce = find("produce/" + c.name);
        const double plain = find("produce.plain/" + c.name);
        std::snprintf(text, sizeof text, "%.1f", double(c.frameBytes / 4) / double(c.runs > 0 ? c.runs : 1));
        out << "| " << c.name << " | " << text << " | ";
        std::snprintf(text, sizeof text, "%.1f | %.1f", memset * 1e6, produce * 1e6);
        out << text << " | " << ratio(produce, memset) << " | " << ratio(plain, memset) << " | "
            << ratio(plain, produce) << " |";
        for (const std::string& kernel : kernels)
            out << " " << ratio(find("pixels." + kernel + "/" + c.name), memset) << " |";
        out << " " << ratio(find("apart/" + c.name), memset) << " | "
            << ratio(find("apart.plain/" + c.name), memset) << " |\n";
    }
    out << "\nEach stage's time over the memset of the same frame bytes into the same warm buffer; speedup: plain\n"
           "frame production's time over the library's. produce µs and memset µs: their CPU times per frame.\n"
           "produce: a packet through the port to a delivered frame; plain: the same in the\n"
           "plain forms; each kernel: the packet drawn into the frame by that kernel alone; apart: the indexed\n"
           "decoder, then the blit; px/run: pixels per run drawn.\n";
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
