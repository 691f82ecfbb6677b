// The stable random order of the visible list in shuffle mode.
//
// Pure unit. Randomness comes in as a generator, so tests can seed it; every
// random order is a uniform permutation (Fisher-Yates). Ids are track ids;
// every step is linear in the number of ids (hash sets, no per-id searches).
//
// A filter pass over a large catalog keeps its order without building any
// set at all: the catalog's id -> row table (IdRows) is made once when the
// catalog changes, and a pass marks its rows in an array it keeps between
// passes (RowMarks), each pass under a stamp of its own, so nothing has to be
// cleared either.
#pragma once

#include "app/Records.h"
#include "app/TrackList.h"

#include <QtGlobal>

#include <vector>

class QRandomGenerator;

namespace ql {

using TrackIds = std::vector<qint64>;

// The ids of the tracks, in list order.
TrackIds trackIds(const TrackList& tracks);

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
void shuffleRows(std::vector<std::size_t>& rows, QRandomGenerator& rng);

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

// The row of each id of one catalog: a flat open-addressed table, made once
// per catalog (on the catalog worker), read by every pass over it.
class IdRows {
public:
    IdRows() = default;
    explicit IdRows(const std::vector<Track>& rows);
    // Every id of the catalog appears once; only then is rowOf() defined.
    bool distinct() const { return m_distinct; }
    // The number of rows the table was made from.
    std::size_t rows() const { return m_rows; }
    // The row holding `id`, or -1 when no row does.
    std::ptrdiff_t rowOf(qint64 id) const;
    // The id of row `row` (row < rows()), read from one compact array rather
    // than from the tracks spread over the heap.
    qint64 idOf(std::size_t row) const { return m_ids[row]; }

private:
    struct Slot {
        qint64 id = 0;
        quint32 row = kEmpty;
    };
    static constexpr quint32 kEmpty = ~quint32(0);
    std::size_t slotOf(qint64 id) const;

    std::vector<Slot> m_slots;
    std::vector<qint64> m_ids; // by row
    std::size_t m_rows = 0;
    bool m_distinct = true;
};

// One mark per catalog row, kept between passes. Each pass takes a fresh
// stamp: a row marked with an older stamp counts as unmarked.
struct RowMarks {
    std::vector<quint32> mark;
    quint32 stamp = 0;
    // Two fresh values for a pass over `rows` rows: the stamp s returned and
    // s + 1.
    quint32 next(std::size_t rows);
};

// keptOrder over rows of a catalog with distinct ids: `matched` are the
// listed rows (catalog order), `ordered` the stored order. Gives the rows in
// the kept order, the same order (for the same generator state) keptOrder
// gives for their ids.
std::vector<RowId> keptRows(const TrackIds& ordered, const std::vector<std::size_t>& matched,
                            const std::vector<Track>& rows, const IdRows& index, RowMarks& marks,
                            QRandomGenerator& rng);

} // namespace ql
