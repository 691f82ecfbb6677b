// Bounds for settings that are kept as stored but used within a range.
//
// A stored "smartMode" or "playRate" may hold anything a hand-edited or
// older settings file gives; the value stays in the settings untouched, and
// every use goes through these.
#pragma once

#include <QtGlobal>

namespace ql {

// The smart lists are numbered 0 (all tracks) to 6 (hi-res).
inline constexpr int kLastSmartList = 6;

// The smart list a stored mode selects, as the pop-up shows it: above the
// last list, the last; below the first, the first (all tracks).
int smartListIndex(qint64 smartMode);

// The speed the player is given: 0.5 … 2.0; a non-finite value plays at 1.0.
double playbackSpeed(double playRate);

} // namespace ql
