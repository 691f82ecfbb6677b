// Play counting: a track counts as played once it has been listened to for
// half its length, but at least 5 s and at most 30 s. Listening time grows by
// one tick (0.5 s) per tick while the player plays, so it is wall-clock
// listening: seeking adds nothing, pausing stops it, speed does not change it.
//
// Pure unit: values in, values out; the clock is a parameter.
#pragma once

#include "app/Records.h"

#include <QHash>
#include <QString>

namespace ql {

inline constexpr double kCountTickSeconds = 0.5;

// min(30, max(5, duration / 2)) seconds; a duration that is not a positive
// finite number counts as 0 (so 5 s).
double playCountThreshold(double duration);

// One tick of listening while playing. Adds a tick to `playedSecs` unless the
// track is already counted; returns true on the tick that reaches the
// threshold, after setting `counted`. Returns false on every other call.
bool advancePlayCount(double& playedSecs, bool& counted, double duration);

// Records a counted play of `path` at `now` (seconds since 1970): one more
// play, last play now. A path without a record starts from zero.
void recordPlay(QHash<QString, PlayStat>& stats, const QString& path, double now);

} // namespace ql
