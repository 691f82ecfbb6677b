#include "ui/CatalogFilter.h"

#include "ui/SearchMemo.h"
#include "ui/SearchQuery.h"
#include "ui/TrackPath.h"

#include <QRandomGenerator>

#include <algorithm>
#include <unordered_map>

namespace ql {

QString formatKey(const QString& path) {
    return QLatin1Char('.') + fileExtension(lastPathComponent(path)).toLower();
}

bool cellFilterMatches(const CellFilter& filter, const Track& track, const QString& genre) {
    if (filter.key == QLatin1String("album"))
        return track.album == filter.value;
    if (filter.key == QLatin1String("artist"))
        return track.artist == filter.value;
    if (filter.key == QLatin1String("title"))
        return track.title == filter.value;
    if (filter.key == QLatin1String("genre"))
        return genre == filter.value;
    return formatKey(track.path) == filter.value;
}

std::vector<std::size_t> matchedRows(const std::vector<Track>& rows, const MatchInput& in,
                                     SearchMemo& memo) {
    const SearchQuery query(in.searchText.trimmed());
    const bool byFolder = !in.selectedFolder.isEmpty();
    const bool bySearch = !query.isEmpty();
    const std::size_t n = rows.size();

    const bool current = in.memoCurrent && memo.size() == n && memo.complete();
    if (!current && (byFolder || bySearch))
        memo.fit(n);
    std::vector<char> inFolder;
    if (byFolder)
        inFolder.assign(n, 0);
    if (!current && (byFolder || bySearch)) {
        for (std::size_t i = 0; i < n; ++i)
            memo.at(i, rows[i]);
    }
    if (byFolder) {
        for (std::size_t i = 0; i < n; ++i)
            inFolder[i] = memo.folder(i) == in.selectedFolder;
    }
    std::vector<char> found;
    if (bySearch)
        found = query.matchesEach(memo.arena(), memo.rowStarts(), &memo.signatures());

    std::vector<std::size_t> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if ((byFolder && !inFolder[i]) || (bySearch && !found[i]))
            continue;
        if (in.cellFilter) {
            const Track& t = rows[i];
            const QString genre = in.genres ? in.genres->value(t.path) : QString();
            if (!cellFilterMatches(*in.cellFilter, t, genre))
                continue;
        }
        out.push_back(i);
    }
    return out;
}

namespace {

// Asks the cache for the shared headers of a track's texts ahead of the copy
// that bumps their reference counts: they lie scattered over the heap, and a
// pass that copies many tracks otherwise waits on each of them.
void prefetchTexts(const Track& t) {
    // The header (with the count) sits right before the text; a hint only,
    // so a string without a header of its own costs nothing.
    for (const QString* s : {&t.path, &t.title, &t.artist, &t.album})
        __builtin_prefetch(reinterpret_cast<const char*>(s->constData()) - sizeof(QArrayData), 1);
}

// The tracks of `rows` at `order`, in that order: rows of `shared` (which
// holds the same values as `rows`) without a copy, else copies.
TrackList tracksAt(const std::vector<Track>& rows, std::vector<std::size_t> order,
                   const TrackList::Rows& shared) {
    if (shared && shared->size() == rows.size())
        return TrackList(shared, std::move(order));
    constexpr std::size_t kAhead = 8;
    std::vector<Track> out;
    out.reserve(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k + kAhead < order.size())
            prefetchTexts(rows[order[k + kAhead]]);
        out.push_back(rows[order[k]]);
    }
    return TrackList(std::move(out));
}

} // namespace

FilterResult orderStage(const std::vector<Track>& rows, std::vector<std::size_t> matched,
                        const OrderInput& in, QRandomGenerator& rng) {
    FilterResult r;
    if (in.smartRows) {
        r.filtered = tracksAt(rows, in.smartRows(rows, matched), in.shared);
        return r;
    }
    if (!in.shuffled) {
        r.filtered = tracksAt(rows, std::move(matched), in.shared);
        return r;
    }

    // Rows in their shuffled order, carrying their ids: the visible list.
    const auto take = [&](const std::vector<RowId>& order) {
        r.orderedIDs.resize(order.size());
        std::vector<std::size_t> at(order.size());
        for (std::size_t k = 0; k < order.size(); ++k) {
            r.orderedIDs[k] = order[k].id;
            at[k] = order[k].row;
        }
        r.filtered = tracksAt(rows, std::move(at), in.shared);
    };
    const bool keep = !in.resetOrder && !in.orderedIDs.empty();
    if (keep && in.idRows && in.marks && in.idRows->distinct() &&
        in.idRows->rows() == rows.size()) {
        take(keptRows(in.orderedIDs, matched, rows, *in.idRows, *in.marks, rng));
        return r;
    }
    if (in.distinctIds && !keep) {
        // Every matched row has an id of its own: the rows are shuffled by
        // the very steps newOrder takes on their ids, and the ids follow.
        const IdRows* index = in.idRows && in.idRows->rows() == rows.size() ? in.idRows : nullptr;
        const auto idOf = [&](std::size_t row) { return index ? index->idOf(row) : rows[row].id; };
        // A new order differs from the shown one within its first few places
        // but for a tiny chance: the shown list is read only that far.
        const auto sameAsShown = [&] {
            return in.shown && matched.size() == in.shown->size() &&
                   std::equal(matched.begin(), matched.end(), in.shown->begin(),
                              [&](std::size_t row, const Track& t) { return idOf(row) == t.id; });
        };
        shuffleRows(matched, rng);
        if (matched.size() >= 2) {
            while (sameAsShown())
                shuffleRows(matched, rng);
        }
        r.orderedIDs.resize(matched.size());
        for (std::size_t k = 0; k < matched.size(); ++k)
            r.orderedIDs[k] = idOf(matched[k]);
        r.filtered = tracksAt(rows, std::move(matched), in.shared);
        return r;
    }

    // Ids are unique in a sound catalog; with a repeated id the first track
    // stands for it.
    std::unordered_map<qint64, std::size_t> byId;
    byId.reserve(matched.size());
    TrackIds ids;
    ids.reserve(matched.size());
    for (const std::size_t i : matched) {
        if (byId.emplace(rows[i].id, i).second)
            ids.push_back(rows[i].id);
    }
    if (!in.resetOrder && !in.orderedIDs.empty())
        r.orderedIDs = keptOrder(in.orderedIDs, ids, rng);
    else
        r.orderedIDs = newOrder(ids, in.shown ? trackIds(*in.shown) : TrackIds{}, rng);
    std::vector<std::size_t> order;
    order.reserve(r.orderedIDs.size());
    for (const qint64 id : r.orderedIDs)
        order.push_back(byId.at(id));
    r.filtered = tracksAt(rows, std::move(order), in.shared);
    return r;
}

FilterResult orderStage(const std::vector<Track>& matched, const OrderInput& in,
                        QRandomGenerator& rng) {
    std::vector<std::size_t> all(matched.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    return orderStage(matched, std::move(all), in, rng);
}

FilterResult runCatalogFilter(const std::vector<Track>& rows, const MatchInput& match,
                              const OrderInput& order, SearchMemo& memo, QRandomGenerator& rng) {
    return orderStage(rows, matchedRows(rows, match, memo), order, rng);
}

int rowOfTrack(const TrackList& list, qint64 id) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].id == id)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace ql
