// The Sonic Adventure's path: tracks whose sonic vectors step evenly from the
// start's sound to the goal's.
//
// Pure unit over SoundRow (listening/DjPicks.h) and the caller's random
// source. The pool is every analysed row other than start and goal, in
// catalog order. With steps = min(10, pool size), step i aims at the point
// a + (b − a) × i / (steps + 1) and takes the unchosen pool row of least cost:
//   distance to the aim
//   + 0.12 when its artist is the previous track's (both normalised equal and
//     its own artist not empty)
//   + a uniform draw from [0, 0.04)
// by one pass in pool order that keeps the first row and replaces it by a
// strictly cheaper one, both costs computed afresh (each with its own draw)
// at every comparison. So at equal distance a different artist always wins,
// and distances 0.04 or more apart always rank by distance.
#pragma once

#include "listening/DjPicks.h"

namespace ql {

inline constexpr std::size_t kAdventureSteps = 10;
inline constexpr std::size_t kAdventureMinPool = 5;

// Indices into `rows` of the pool, in catalog order.
std::vector<std::size_t> adventurePool(const std::vector<SoundRow>& rows, qint64 startId,
                                       qint64 goalId);

// The cost of `row` for the aim after `previous`, with the given draw.
double adventureCost(const SoundRow& row, const SoundRow& previous, const std::vector<double>& aim,
                     double jitter);

// The ids of the intermediate tracks, min(10, pool size) of them, in path
// order; a and b are the vectors of start and goal. The caller checks the
// pool is large enough.
std::vector<qint64> adventurePath(const std::vector<SoundRow>& rows,
                                  const std::vector<std::size_t>& pool, const SoundRow& start,
                                  const std::vector<double>& a, const std::vector<double>& b,
                                  QRandomGenerator& random);

} // namespace ql
