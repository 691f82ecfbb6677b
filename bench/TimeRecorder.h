// A console reporter that also keeps each benchmark's mean real time, so a
// program can print its figures as ratios to their baselines at the end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace ql::bench {

class TimeRecorder : public benchmark::ConsoleReporter {
public:
    // Mean real time per iteration, in the benchmark's unit, by name.
    std::map<std::string, double> ms;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                ms[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace ql::bench
