#include "listening/AdventurePath.h"

#include "listening/RadioPicks.h"
#include "listening/SonicVector.h"

#include <QRandomGenerator>

#include <algorithm>

namespace ql {

namespace {
constexpr double kSameArtist = 0.12;
constexpr double kJitterTop = 0.04;
} // namespace

std::vector<std::size_t> adventurePool(const std::vector<SoundRow>& rows, qint64 startId,
                                       qint64 goalId) {
    std::vector<std::size_t> pool;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].id != startId && rows[i].id != goalId && rows[i].vec)
            pool.push_back(i);
    return pool;
}

double adventureCost(const SoundRow& row, const SoundRow& previous, const std::vector<double>& aim,
                     double jitter) {
    double cost = sonicDistance(*row.vec, aim) + jitter;
    if (row.hasArtist && row.artist == previous.artist)
        cost += kSameArtist;
    return cost;
}

std::vector<qint64> adventurePath(const std::vector<SoundRow>& rows,
                                  const std::vector<std::size_t>& pool, const SoundRow& start,
                                  const std::vector<double>& a, const std::vector<double>& b,
                                  QRandomGenerator& random) {
    const std::size_t steps = std::min(kAdventureSteps, pool.size());
    std::vector<bool> chosen(pool.size(), false);
    std::vector<qint64> path;
    const SoundRow* previous = &start;
    const auto cost = [&](std::size_t k, const std::vector<double>& aim) {
        return adventureCost(rows[pool[k]], *previous, aim,
                             halfOpenDraw(random.generate64(), kJitterTop));
    };
    for (std::size_t i = 1; i <= steps; ++i) {
        const std::vector<double> aim = soundBetween(a, b, double(i) / double(steps + 1));
        std::optional<std::size_t> best;
        for (std::size_t k = 0; k < pool.size(); ++k) {
            if (chosen[k])
                continue;
            // Nothing is remembered between comparisons: the provisional
            // best is costed again, with a fresh draw, every time.
            if (!best) {
                best = k;
                continue;
            }
            const double mine = cost(k, aim);
            if (mine < cost(*best, aim))
                best = k;
        }
        if (!best)
            break;
        chosen[*best] = true;
        previous = &rows[pool[*best]];
        path.push_back(previous->id);
    }
    return path;
}

} // namespace ql
