// A Google Benchmark reporter that prints the usual table, then each measured
// pass next to its baseline or peer of the same run as a ratio, then each
// goal (milliseconds) as met or missed. Shared by the benchmark programs.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ql::bench {

// Prints the usual table, then each measured pass as a ratio to its baseline.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (!r.error_occurred)
                m_ms[r.run_name.function_name] =
                    r.GetAdjustedRealTime() * multiplierToMs(r.time_unit);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-44s %10s %10s %10s\n", "pass (ms per pass)", "ours", "baseline",
                    "ours/base");
        for (const auto& [ours, base] : m_pairs) {
            if (!m_ms.count(ours) || !m_ms.count(base))
                continue;
            std::printf("%-44s %10.3f %10.3f %10.3g\n", ours.c_str(), m_ms[ours], m_ms[base],
                        m_ms[ours] / m_ms[base]);
        }
        for (const auto& [name, goal] : m_goals) {
            if (m_ms.count(name))
                std::printf("goal %-39s %10.3f ms <= %g ms: %s\n", name.c_str(), m_ms[name], goal,
                            m_ms[name] <= goal ? "met" : "MISSED");
        }
    }
    void pair(const std::string& ours, const std::string& base) {
        m_pairs.emplace_back(ours, base);
    }
    void goal(const std::string& name, double ms) { m_goals.emplace_back(name, ms); }

private:
    static double multiplierToMs(benchmark::TimeUnit u) {
        switch (u) {
        case benchmark::kNanosecond:
            return 1e-6;
        case benchmark::kMicrosecond:
            return 1e-3;
        case benchmark::kMillisecond:
            return 1.0;
        case benchmark::kSecond:
            return 1e3;
        }
        return 1.0;
    }
    std::map<std::string, double> m_ms;
    std::vector<std::pair<std::string, std::string>> m_pairs;
    std::vector<std::pair<std::string, double>> m_goals;
};

} // namespace ql::bench
