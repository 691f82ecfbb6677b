#include "listening/SonicVector.h"

#include <QSet>

#include <cmath>

namespace ql {

namespace {
// One component: the feature scaled so that its useful range is 0 … 1,
// clamped, then weighted.
struct Scale {
    double offset;
    double span;
    double weight;
};
constexpr Scale kTempo{-70, 90, 1.0};
constexpr Scale kLoudness{50, 40, 1.2};
constexpr Scale kDynamics{0, 12, 0.8};
constexpr Scale kCrossings{0, 0.125, 1.0};

double component(double value, const Scale& s) {
    return clamp01((value + s.offset) / s.span) * s.weight;
}
} // namespace

double clamp01(double x) {
    // Written out rather than std::clamp: the comparisons decide where a NaN
    // ends up, and it must end up at the top.
    const double capped = x < 1 ? x : 1.0;
    return capped >= 0 ? capped : 0.0;
}

std::vector<double> vec(const Sonic& sonic) {
    return {component(sonic.bpm, kTempo), component(sonic.db, kLoudness),
            component(sonic.dyn, kDynamics), component(sonic.zcr, kCrossings)};
}

double sonicDistance(const std::vector<double>& a, const std::vector<double>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    return std::sqrt(sum);
}

QStringList sonicWorkList(const std::optional<Track>& current, const std::vector<Track>& rows,
                          const QHash<QString, Sonic>& index) {
    QStringList work;
    QSet<QString> kept;
    const auto consider = [&](const QString& path) {
        if (!index.contains(path) && !kept.contains(path)) {
            kept.insert(path);
            work << path;
        }
    };
    if (current)
        consider(current->path);
    for (const Track& t : rows)
        consider(t.path);
    return work;
}

} // namespace ql
