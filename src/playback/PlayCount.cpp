#include "playback/PlayCount.h"

#include <algorithm>
#include <cmath>

namespace ql {

double playCountThreshold(double duration) {
    const double d = std::isfinite(duration) && duration > 0 ? duration : 0.0;
    return std::min(30.0, std::max(5.0, d * 0.5));
}

bool advancePlayCount(double& playedSecs, bool& counted, double duration) {
    if (counted)
        return false;
    playedSecs += kCountTickSeconds;
    if (playedSecs < playCountThreshold(duration))
        return false;
    counted = true;
    return true;
}

void recordPlay(QHash<QString, PlayStat>& stats, const QString& path, double now) {
    PlayStat& stat = stats[path]; // a first count starts from PlayStat()
    stat.plays += 1;
    stat.last = now;
}

} // namespace ql
