// The sonic feature vector of a track and the distance between two vectors:
// the one measure of how alike two tracks sound. The guest DJ and the Sonic
// Adventure rank tracks by it. Pure unit; any thread.
//
// A vector holds four components in a fixed order, each clamped to [0, 1]
// and then weighted: tempo (70 … 160 bpm, weight 1.0), loudness (−50 … −10 dB,
// 1.2), dynamics (0 … 12 dB, 0.8) and zero-crossing rate (0 … 0.125 per
// sample, 1.0). The year takes no part. So a vector lies in the box
// [0, 1] × [0, 1.2] × [0, 0.8] × [0, 1], and no two lie further apart than
// √4.08.
#pragma once

#include "app/Records.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace ql {

// max(0, min(1, x)), the minimum taken first: a value that is not a number
// gives 1, the upper bound.
double clamp01(double x);

// The four weighted components of the features.
std::vector<double> vec(const Sonic& sonic);

// The Euclidean distance, pairing the two lists position by position up to
// the shorter one's length (two empty lists: 0).
double sonicDistance(const std::vector<double>& a, const std::vector<double>& b);

// The paths a background scan analyses, in order: the current track's (when
// there is one), then each catalog row's in catalog order, every path at most
// once, leaving out those that have an entry in the index, failed ones too.
QStringList sonicWorkList(const std::optional<Track>& current, const std::vector<Track>& rows,
                          const QHash<QString, Sonic>& index);

} // namespace ql
