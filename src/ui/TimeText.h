// A time in seconds as minutes and two-digit seconds ("m:ss"): whole seconds,
// truncated, minutes unbounded (75.9 gives "1:15", 600 gives "10:00").
// Negative values, NaN and infinities show "0:00"; values beyond what a
// 64-bit count of seconds holds are capped, never undefined.
#pragma once

#include <QString>

namespace ql {

QString timeText(double seconds);

} // namespace ql
