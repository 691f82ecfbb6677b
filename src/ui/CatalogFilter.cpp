#include "ui/CatalogFilter.h"

#include "ui/SearchMemo.h"
#include "ui/SearchQuery.h"
#include "ui/TrackPath.h"

#include <QRandomGenerator>

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
    memo.fit(rows.size());
    std::vector<std::size_t> out;
    out.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Track& t = rows[i];
        if (byFolder || !query.isEmpty()) {
            const SearchMemo::Entry& e = memo.at(i, t);
            if (byFolder && e.folder != in.selectedFolder)
                continue;
            if (!query.matches(e.compact))
                continue;
        }
        if (in.cellFilter) {
            const QString genre = in.genres ? in.genres->value(t.path) : QString();
            if (!cellFilterMatches(*in.cellFilter, t, genre))
                continue;
        }
        out.push_back(i);
    }
    return out;
}

FilterResult orderStage(const std::vector<Track>& matched, const OrderInput& in,
                        QRandomGenerator& rng) {
    if (in.smartFilter)
        return {in.smartFilter(matched), {}};
    if (!in.shuffled)
        return {matched, {}};

    // Ids are unique in a sound catalog; with a repeated id the first track
    // stands for it.
    std::unordered_map<qint64, std::size_t> byId;
    byId.reserve(matched.size());
    TrackIds ids;
    ids.reserve(matched.size());
    for (std::size_t i = 0; i < matched.size(); ++i) {
        if (byId.emplace(matched[i].id, i).second)
            ids.push_back(matched[i].id);
    }
    FilterResult r;
    r.orderedIDs = !in.resetOrder && !in.orderedIDs.empty() ? keptOrder(in.orderedIDs, ids, rng)
                                                            : newOrder(ids, in.shownIDs, rng);
    r.filtered.reserve(r.orderedIDs.size());
    for (const qint64 id : r.orderedIDs)
        r.filtered.push_back(matched[byId.at(id)]);
    return r;
}

FilterResult runCatalogFilter(const std::vector<Track>& rows, const MatchInput& match,
                              const OrderInput& order, SearchMemo& memo, QRandomGenerator& rng) {
    const std::vector<std::size_t> hits = matchedRows(rows, match, memo);
    std::vector<Track> matched;
    matched.reserve(hits.size());
    for (const std::size_t i : hits)
        matched.push_back(rows[i]);
    return orderStage(matched, order, rng);
}

int rowOfTrack(const std::vector<Track>& list, qint64 id) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].id == id)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace ql
