// The stable random order of the visible list in shuffle mode.
//
// Pure unit. Randomness comes in as a generator, so tests can seed it; every
// random order is a uniform permutation (Fisher-Yates). Ids are track ids;
// every step is linear in the number of ids (hash sets, no per-id searches).
#pragma once

#include "app/Records.h"

#include <QtGlobal>

#include <vector>

class QRandomGenerator;

namespace ql {

using TrackIds = std::vector<qint64>;

// The ids of the tracks, in list order.
TrackIds trackIds(const std::vector<Track>& tracks);

// The ids in a uniformly random order.
void shuffleIds(TrackIds& ids, QRandomGenerator& rng);

// A catalog row and its track's id.
struct RowId {
    std::size_t row;
    qint64 id;
};

// Rows in a random order, by the same steps as shuffleIds: the same
// generator state permutes a list of rows exactly as it would their ids.
void shuffleRows(std::vector<RowId>& rows, QRandomGenerator& rng);

// The ids once each, first occurrence kept, in their order.
TrackIds uniqueIds(const TrackIds& ids);

// Keeps an existing order for a changed list: the ids of `ordered` that are
// still in `listed` keep their relative places (a repeated id only at its
// first place); the ids of `listed` (catalog order) not in it follow at the
// end, once each, in a random order among themselves.
TrackIds keptOrder(const TrackIds& ordered, const TrackIds& listed, QRandomGenerator& rng);

// A new random order of the ids of `listed` (once each). With two or more
// distinct ids it never equals `shown` (the order on screen before), element
// by element, so pressing shuffle always changes what the user sees.
TrackIds newOrder(const TrackIds& listed, const TrackIds& shown, QRandomGenerator& rng);

} // namespace ql
