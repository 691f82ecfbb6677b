#include "ui/ShuffleOrder.h"

#include <QRandomGenerator>

#include <unordered_set>
#include <utility>

namespace ql {

TrackIds trackIds(const std::vector<Track>& tracks) {
    TrackIds ids;
    ids.reserve(tracks.size());
    for (const Track& t : tracks)
        ids.push_back(t.id);
    return ids;
}

namespace {
template <class T> void fisherYates(std::vector<T>& list, QRandomGenerator& rng) {
    for (std::size_t i = list.size(); i > 1; --i) {
        const auto j = static_cast<std::size_t>(rng.bounded(static_cast<quint64>(i)));
        std::swap(list[i - 1], list[j]);
    }
}
} // namespace

void shuffleIds(TrackIds& ids, QRandomGenerator& rng) {
    fisherYates(ids, rng);
}

void shuffleRows(std::vector<RowId>& rows, QRandomGenerator& rng) {
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

} // namespace ql
