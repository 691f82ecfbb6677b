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
    if (current && byFolder) {
        for (std::size_t i = 0; i < n; ++i)
            inFolder[i] = memo.entry(i).folder == in.selectedFolder;
    } else if (!current && (byFolder || bySearch)) {
        for (std::size_t i = 0; i < n; ++i) {
            const SearchMemo::Entry& e = memo.at(i, rows[i]);
            if (byFolder)
                inFolder[i] = e.folder == in.selectedFolder;
        }
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
// pass that copies a hundred thousand tracks otherwise waits on each of them.
void prefetchTexts(const Track& t) {
    // The header (with the count) sits right before the text; a hint only,
    // so a string without a header of its own costs nothing.
    for (const QString* s : {&t.path, &t.title, &t.artist, &t.album})
        __builtin_prefetch(reinterpret_cast<const char*>(s->constData()) - sizeof(QArrayData), 1);
}

bool sameData(const QString& a, const QString& b) {
    return a.constData() == b.constData() && a.size() == b.size();
}

// The very same value: every text shares its data.
bool sameTrack(const Track& a, const Track& b) {
    return a.id == b.id && a.duration == b.duration && sameData(a.path, b.path) &&
           sameData(a.title, b.title) && sameData(a.artist, b.artist) &&
           sameData(a.album, b.album) && sameData(a.art, b.art);
}

// The tracks of `rows` at `order`, in that order. Each index appears once.
std::vector<Track> tracksAt(const std::vector<Track>& rows, const std::vector<std::size_t>& order,
                            std::vector<Track>* spare = nullptr, bool spareCurrent = false) {
    constexpr std::size_t kAhead = 8;
    std::vector<Track> out;
    if (spare && spare->size() == rows.size()) {
        // A move takes no count of a text; a copy bumps five, each far away.
        if (spareCurrent && order.size() * 2 >= rows.size() &&
            std::adjacent_find(order.begin(), order.end(), std::greater_equal<>()) == order.end()) {
            // Most rows, in catalog order (each index once, so strictly
            // rising): the spare copy is closed up in place and handed over
            // whole, which spares a fresh list of a hundred thousand tracks
            // its page faults. The rows left out go back in the spare's place,
            // to be freed wherever the spare would have been.
            std::vector<Track>& all = *spare;
            std::vector<Track> rest;
            rest.reserve(all.size() - order.size());
            std::size_t k = 0;
            for (std::size_t i = 0; i < all.size(); ++i) {
                if (k < order.size() && order[k] == i) {
                    if (i != k)
                        all[k] = std::move(all[i]);
                    ++k;
                } else {
                    rest.push_back(std::move(all[i]));
                }
            }
            all.resize(order.size()); // only emptied tracks go
            out = std::move(all);
            all = std::move(rest);
            return out;
        }
        out.reserve(order.size());
        if (spareCurrent) {
            // In a shuffled order the tracks lie anywhere: ask for them early.
            // A track spans three cache lines; the move writes them all.
            constexpr std::size_t kFar = 16;
            for (std::size_t k = 0; k < order.size(); ++k) {
                if (k + kFar < order.size()) {
                    const char* far = reinterpret_cast<const char*>(&(*spare)[order[k + kFar]]);
                    __builtin_prefetch(far, 1);
                    __builtin_prefetch(far + 64, 1);
                    __builtin_prefetch(far + sizeof(Track) - 1, 1);
                }
                out.push_back(std::move((*spare)[order[k]]));
            }
            return out;
        }
        for (const std::size_t i : order) {
            Track& t = (*spare)[i];
            if (sameTrack(t, rows[i]))
                out.push_back(std::move(t));
            else
                out.push_back(rows[i]);
        }
        return out;
    }
    out.reserve(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k + kAhead < order.size())
            prefetchTexts(rows[order[k + kAhead]]);
        out.push_back(rows[order[k]]);
    }
    return out;
}

} // namespace

FilterResult orderStage(const std::vector<Track>& rows, const std::vector<std::size_t>& matched,
                        const OrderInput& in, QRandomGenerator& rng) {
    FilterResult r;
    if (in.smartRows) {
        r.filtered = tracksAt(rows, in.smartRows(rows, matched), in.spare, in.spareCurrent);
        return r;
    }
    if (!in.shuffled) {
        r.filtered = tracksAt(rows, matched, in.spare, in.spareCurrent);
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
        r.filtered = tracksAt(rows, at, in.spare, in.spareCurrent);
    };
    const bool keep = !in.resetOrder && !in.orderedIDs.empty();
    if (keep && in.idRows && in.marks && in.idRows->distinct() &&
        in.idRows->rows() == rows.size()) {
        take(keptRows(in.orderedIDs, matched, rows, *in.idRows, *in.marks, rng));
        return r;
    }
    if (in.distinctIds && !keep) {
        // Every matched row has an id of its own: the rows are shuffled
        // together with their ids, by the very steps newOrder takes on ids.
        std::vector<RowId> order;
        order.reserve(matched.size());
        for (const std::size_t i : matched)
            order.push_back({i, rows[i].id});
        const TrackIds shown = in.shownIDs ? in.shownIDs() : TrackIds{};
        const auto sameAsShown = [&] {
            return order.size() == shown.size() &&
                   std::equal(order.begin(), order.end(), shown.begin(),
                              [](const RowId& a, qint64 id) { return a.id == id; });
        };
        shuffleRows(order, rng);
        if (order.size() >= 2) {
            while (sameAsShown())
                shuffleRows(order, rng);
        }
        take(order);
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
        r.orderedIDs = newOrder(ids, in.shownIDs ? in.shownIDs() : TrackIds{}, rng);
    std::vector<std::size_t> order;
    order.reserve(r.orderedIDs.size());
    for (const qint64 id : r.orderedIDs)
        order.push_back(byId.at(id));
    r.filtered = tracksAt(rows, order, in.spare, in.spareCurrent);
    return r;
}

FilterResult orderStage(const std::vector<Track>& matched, const OrderInput& in,
                        QRandomGenerator& rng) {
    std::vector<std::size_t> all(matched.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    return orderStage(matched, all, in, rng);
}

FilterResult runCatalogFilter(const std::vector<Track>& rows, const MatchInput& match,
                              const OrderInput& order, SearchMemo& memo, QRandomGenerator& rng) {
    return orderStage(rows, matchedRows(rows, match, memo), order, rng);
}

int rowOfTrack(const std::vector<Track>& list, qint64 id) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].id == id)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace ql
