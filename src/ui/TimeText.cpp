#include "ui/TimeText.h"

#include <cmath>

namespace ql {

QString timeText(double seconds) {
    // Below 2^63, so the conversion to a 64-bit integer is defined.
    constexpr double kMaxSeconds = 9.2e18;
    qint64 whole = 0;
    if (std::isfinite(seconds) && seconds > 0)
        whole = qint64(std::min(seconds, kMaxSeconds));
    return QString::number(whole / 60) + QLatin1Char(':') +
           QString::number(whole % 60).rightJustified(2, QLatin1Char('0'));
}

} // namespace ql
