// The benchmark's summary: one line for every case, each stage's time over
// the memset of the same frame bytes and the plain form's time over the
// library's, all taken from the same run. With repetitions the medians are
// used; the times are CPU times, which a busy machine disturbs less than
// wall-clock times.
#ifndef KELVO_BENCH_RATIOTABLE_H
#define KELVO_BENCH_RATIOTABLE_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace Qor::Bench {

class RatioTable {
public:
    // Benchmarks are named "stage/case" or "stage.plain/case"; the decoder
    // into pixels runs as "pixels.KERNEL/case" for each of `kernels`.
    explicit RatioTable(std::vector<std::string> kernels) : kernels(std::move(kernels)) {}
    void addCase(const std::string& name, int64_t frameBytes, int64_t runs);
    // Keeps the time of a run named `benchmark`; later runs of the same name replace it.
    void record(const std::string& benchmark, double seconds);
    // A Markdown table, a stage that did not run shown as a dash.
    void print(std::ostream& out) const;

private:
    struct Case {
        std::string name;
        int64_t frameBytes;
        int64_t runs;
    };
    std::vector<std::string> kernels;
    std::vector<Case> cases;
    std::map<std::string, double> seconds;
};

// The console reporter, feeding each median (or each single run) to the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    explicit RatioReporter(RatioTable& table) : table(table) {}
    void ReportRuns(const std::vector<Run>& reports) override;

private:
    RatioTable& table;
};

} // namespace Qor::Bench

#endif
