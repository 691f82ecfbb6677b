#include "app/SettingLimits.h"

#include <algorithm>
#include <cmath>

namespace ql {

int smartListIndex(qint64 smartMode) {
    return int(std::clamp<qint64>(smartMode, 0, kLastSmartList));
}

double playbackSpeed(double playRate) {
    if (!std::isfinite(playRate))
        return 1.0;
    return std::clamp(playRate, 0.5, 2.0);
}

} // namespace ql
