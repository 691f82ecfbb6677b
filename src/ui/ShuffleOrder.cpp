#include "ui/ShuffleOrder.h"

#include <QRandomGenerator>

#include <array>
#include <limits>
#include <unordered_set>
#include <utility>

namespace ql {

TrackIds trackIds(const TrackList& tracks) {
    TrackIds ids;
    ids.reserve(tracks.size());
    for (const Track& t : tracks)
        ids.push_back(t.id);
    return ids;
}

namespace {

// Draws fetched a batch at a time: one call into the generator per batch
// instead of per element.
template <class Word, std::size_t N> class BatchDraw {
public:
    explicit BatchDraw(QRandomGenerator& rng) : m_rng(rng) {}
    Word operator()() {
        if (m_next == m_batch.size()) {
            m_rng.fillRange(m_batch.data(), qsizetype(m_batch.size()));
            m_next = 0;
        }
        return m_batch[m_next++];
    }

private:
    QRandomGenerator& m_rng;
    std::array<Word, N> m_batch{};
    std::size_t m_next = N;
};

template <class T> void fisherYates(std::vector<T>& list, QRandomGenerator& rng) {
    // Tracks, rows and ids never number 2^32: that list alone would fill
    // the memory of any machine the player runs on.
    Q_ASSERT(list.size() <= std::size_t(std::numeric_limits<quint32>::max()));
    // A place below i from one 32-bit draw, scaled by a multiplication
    // (Lemire): the few low values that would favour some places are drawn
    // again, so every place stays equally likely. Half the generator's work
    // of a 64-bit draw per element, and hardly ever a second draw.
    BatchDraw<quint32, 512> draw(rng);
    for (std::size_t i = list.size(); i > 1; --i) {
        const auto bound = quint32(i);
        quint64 m = quint64(draw()) * bound;
        if (quint32(m) < bound) {
            const quint32 unfair = quint32(-bound) % bound; // 2^32 mod bound
            while (quint32(m) < unfair)
                m = quint64(draw()) * bound;
        }
        std::swap(list[i - 1], list[std::size_t(m >> 32)]);
    }
}
} // namespace

void shuffleIds(TrackIds& ids, QRandomGenerator& rng) {
    fisherYates(ids, rng);
}

void shuffleRows(std::vector<RowId>& rows, QRandomGenerator& rng) {
    fisherYates(rows, rng);
}

void shuffleRows(std::vector<std::size_t>& rows, QRandomGenerator& rng) {
    fisherYates(rows, rng);
}

TrackIds uniqueIds(const TrackIds& ids) {
    TrackIds out;
    out.reserve(ids.size());
    std::unordered_set<qint64> seen;
    seen.reserve(ids.size());
    for (const qint64 id : ids) {
        if (seen.insert(id).second)
            out.push_back(id);
    }
    return out;
}

TrackIds keptOrder(const TrackIds& ordered, const TrackIds& listed, QRandomGenerator& rng) {
    const std::unordered_set<qint64> present(listed.begin(), listed.end());
    TrackIds out;
    out.reserve(listed.size());
    std::unordered_set<qint64> kept;
    kept.reserve(ordered.size());
    for (const qint64 id : ordered) {
        if (present.count(id) && kept.insert(id).second)
            out.push_back(id);
    }
    TrackIds joined;
    for (const qint64 id : listed) {
        if (kept.insert(id).second)
            joined.push_back(id);
    }
    shuffleIds(joined, rng);
    out.insert(out.end(), joined.begin(), joined.end());
    return out;
}

TrackIds newOrder(const TrackIds& listed, const TrackIds& shown, QRandomGenerator& rng) {
    // Distinct ids are what makes a different order always exist; a repeated
    // id would let the loop below run for ever on a list like {5, 5}.
    TrackIds ids = uniqueIds(listed);
    shuffleIds(ids, rng);
    if (ids.size() >= 2) {
        while (ids == shown)
            shuffleIds(ids, rng);
    }
    return ids;
}

IdRows::IdRows(const std::vector<Track>& rows) : m_rows(rows.size()) {
    // At most half full, so a search ends after a step or two.
    std::size_t size = 16;
    while (size < rows.size() * 2)
        size *= 2;
    m_slots.assign(size, Slot{});
    m_ids.reserve(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const qint64 id = rows[r].id;
        m_ids.push_back(id);
        std::size_t at = slotOf(id);
        while (m_slots[at].row != kEmpty && m_slots[at].id != id)
            at = (at + 1) & (m_slots.size() - 1);
        if (m_slots[at].row != kEmpty) {
            m_distinct = false; // the first row keeps the id
            continue;
        }
        m_slots[at] = Slot{id, quint32(r)};
    }
}

std::size_t IdRows::slotOf(qint64 id) const {
    // Fibonacci hashing: ids that differ in their low bits spread evenly.
    return std::size_t((quint64(id) * 0x9E3779B97F4A7C15ULL) >> 20) & (m_slots.size() - 1);
}

std::ptrdiff_t IdRows::rowOf(qint64 id) const {
    if (m_slots.empty())
        return -1;
    for (std::size_t at = slotOf(id);; at = (at + 1) & (m_slots.size() - 1)) {
        const Slot& s = m_slots[at];
        if (s.row == kEmpty)
            return -1;
        if (s.id == id)
            return std::ptrdiff_t(s.row);
    }
}

quint32 RowMarks::next(std::size_t rows) {
    if (mark.size() != rows || stamp >= ~quint32(0) - 2) {
        mark.assign(rows, 0);
        stamp = 0;
    }
    stamp += 2;
    return stamp - 1;
}

std::vector<RowId> keptRows(const TrackIds& ordered, const std::vector<std::size_t>& matched,
                            const std::vector<Track>& rows, const IdRows& index, RowMarks& marks,
                            QRandomGenerator& rng) {
    // A listed row is marked `listed`; once it has taken its place, `kept`.
    const quint32 listed = marks.next(rows.size());
    const quint32 kept = listed + 1;
    for (const std::size_t r : matched)
        marks.mark[r] = listed;
    std::vector<RowId> out;
    out.reserve(matched.size());
    for (const qint64 id : ordered) {
        const std::ptrdiff_t r = index.rowOf(id);
        if (r >= 0 && marks.mark[std::size_t(r)] == listed) {
            marks.mark[std::size_t(r)] = kept;
            out.push_back({std::size_t(r), id});
        }
    }
    std::vector<RowId> joined;
    for (const std::size_t r : matched) {
        if (marks.mark[r] == listed)
            joined.push_back({r, index.idOf(r)});
    }
    shuffleRows(joined, rng);
    out.insert(out.end(), joined.begin(), joined.end());
    return out;
}

} // namespace ql
