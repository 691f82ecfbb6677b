// Guards against: (fixture) recordings of tones read differently by each sink test.
// What sounds in a stereo recording, 10 ms at a time: runs of one tone (its
// frequency to the nearest 100 Hz, from channel 0's sign changes) and of
// silence (below -34 dBFS RMS). Header only; links ql_test_support.
#pragma once

#include "TestAudio.h"

#include <QString>
#include <QStringList>

#include <cmath>
#include <vector>

namespace ql::test {

struct ToneRun {
    int hz = 0; // 0: silence
    double from = 0, seconds = 0;
    double end() const { return from + seconds; }
};

inline std::vector<ToneRun> toneRuns(const std::vector<double>& v, int rate) {
    const auto block = std::size_t(rate / 100);
    std::vector<ToneRun> runs;
    for (std::size_t at = 0; (at + block) * 2 <= v.size(); at += block) {
        double sum = 0;
        for (std::size_t i = at; i < at + block; ++i)
            sum += v[2 * i] * v[2 * i];
        const bool loud = std::sqrt(sum / double(block)) > 0.02;
        const int hz =
            loud ? int(std::lround(signChanges(v, 2, at, at + block) * 50 / 100.0)) * 100 : 0;
        if (runs.empty() || runs.back().hz != hz)
            runs.push_back({hz, double(at) / rate, 0});
        runs.back().seconds += double(block) / rate;
    }
    return runs;
}

// The runs of 50 ms or more, for a failure's message.
inline QString describeRuns(const std::vector<ToneRun>& runs) {
    QStringList parts;
    for (const ToneRun& r : runs)
        if (r.seconds >= 0.05)
            parts
                << QStringLiteral("%1 Hz from %2 s for %3 s").arg(r.hz).arg(r.from).arg(r.seconds);
    return parts.join(QStringLiteral("; "));
}

} // namespace ql::test
