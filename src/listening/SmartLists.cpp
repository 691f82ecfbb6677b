#include "listening/SmartLists.h"

#include <algorithm>
#include <utility>

namespace ql {

namespace {

template <typename V> V lookup(const QHash<QString, V>* table, const QString& path) {
    if (!table)
        return V{};
    const auto it = table->constFind(path);
    return it == table->constEnd() ? V{} : *it;
}

// The kept tracks with their sort keys, built in one pass so a sort never
// looks a fact up twice.
struct Keyed {
    double first;
    double second;
    std::size_t index;
};

std::vector<Track> take(std::vector<Track>& tracks, std::vector<Keyed>& kept, bool sort) {
    if (sort)
        std::stable_sort(kept.begin(), kept.end(), [](const Keyed& a, const Keyed& b) {
            if (a.first != b.first)
                return a.first > b.first;
            return a.second > b.second;
        });
    std::vector<Track> out;
    out.reserve(kept.size());
    for (const Keyed& k : kept)
        out.push_back(std::move(tracks[k.index]));
    return out;
}

} // namespace

bool isHiResLabel(const QString& label) {
    return label.contains(QChar(0x2605)); // ★
}

bool flipFavorite(QSet<QString>& favorites, const QString& path) {
    if (favorites.remove(path))
        return false;
    favorites.insert(path);
    return true;
}

std::optional<std::size_t> pickAlbumTile(const std::vector<AlbumItem>& tiles,
                                         const std::function<std::size_t(std::size_t)>& draw) {
    std::vector<std::size_t> tagged;
    for (std::size_t i = 0; i < tiles.size(); ++i)
        if (!tiles[i].tracks.empty() && !tiles[i].tracks.front().album.isEmpty())
            tagged.push_back(i);
    if (!tagged.empty())
        return tagged[draw(tagged.size())];
    if (tiles.empty())
        return std::nullopt;
    return draw(tiles.size());
}

std::vector<Track> smartList(int mode, std::vector<Track> tracks, const SmartFacts& facts,
                             double now) {
    if (mode < kRecentList || mode > kHiResList)
        return tracks;
    std::vector<Keyed> kept;
    kept.reserve(mode == kMostPlayedList ? tracks.size() / 4 : tracks.size());
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const Track& t = tracks[i];
        switch (mode) {
        case kRecentList:
        case kWeekList: {
            const double date = lookup(facts.added, t.path);
            const double cutoff = now - (mode == kRecentList ? kRecentSpan : kWeekSpan);
            // 0 is "no date known", whatever the cut-off.
            if (date != 0 && date > cutoff)
                kept.push_back({date, 0, i});
            break;
        }
        case kMostPlayedList: {
            const PlayStat s = lookup(facts.stats, t.path);
            if (s.plays > 0)
                kept.push_back({double(s.plays), s.last, i});
            break;
        }
        case kNeverPlayedList:
            if (lookup(facts.stats, t.path).plays == 0)
                kept.push_back({0, 0, i});
            break;
        case kFavoritesList:
            if (facts.favorites && facts.favorites->contains(t.path))
                kept.push_back({0, 0, i});
            break;
        case kHiResList:
            if (isHiResLabel(lookup(facts.qual, t.path)))
                kept.push_back({0, 0, i});
            break;
        }
    }
    const bool sorted = mode == kRecentList || mode == kWeekList || mode == kMostPlayedList;
    return take(tracks, kept, sorted);
}

} // namespace ql
