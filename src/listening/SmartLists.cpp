#include "listening/SmartLists.h"

#include <algorithm>
#include <utility>

namespace ql {

namespace {

template <typename V> V lookup(const QHash<QString, V>& table, const QString& path) {
    const auto it = table.constFind(path);
    return it == table.constEnd() ? V{} : *it;
}

template <typename Table> const Table& orEmpty(const Table* table) {
    static const Table empty;
    return table ? *table : empty;
}

// Rows sorted by a key, highest first; equal keys keep catalog order.
template <typename Key>
std::vector<std::size_t> sortedRows(std::vector<std::size_t> rows, Key key) {
    std::stable_sort(rows.begin(), rows.end(),
                     [&key](std::size_t a, std::size_t b) { return key(a) > key(b); });
    return rows;
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

void SmartMemo::fitRows(const std::vector<Track>& rows) {
    bool same = m_paths.size() == rows.size();
    for (std::size_t i = 0; same && i < rows.size(); ++i) {
        const QString& path = rows[i].path;
        if (m_paths[i].constData() == path.constData() && m_paths[i].size() == path.size())
            continue;
        same = m_paths[i] == path;
        m_paths[i] = path; // equal text held elsewhere: compared by address next time
    }
    if (same)
        return;
    m_paths.clear();
    for (const Track& t : rows)
        m_paths.push_back(t.path);
    m_statsRead = m_datesRead = m_labelsRead = false;
}

void SmartMemo::readStats(const std::vector<Track>& rows, const QHash<QString, PlayStat>& stats) {
    if (m_statsRead && stats.isSharedWith(m_stats))
        return;
    m_stats = stats;
    m_plays.resize(rows.size());
    std::vector<std::size_t> played;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        m_plays[i] = lookup(stats, rows[i].path);
        if (m_plays[i].plays > 0)
            played.push_back(i);
    }
    m_byPlays = sortedRows(std::move(played), [this](std::size_t i) {
        return std::pair(m_plays[i].plays, m_plays[i].last);
    });
    m_statsRead = true;
}

void SmartMemo::readDates(const std::vector<Track>& rows, const QHash<QString, double>& added) {
    if (m_datesRead && added.isSharedWith(m_added))
        return;
    m_added = added;
    m_dates.resize(rows.size());
    std::vector<std::size_t> dated;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        m_dates[i] = lookup(added, rows[i].path);
        // 0 is "no date known", whatever the cut-off.
        if (m_dates[i] != 0)
            dated.push_back(i);
    }
    m_byDate = sortedRows(std::move(dated), [this](std::size_t i) { return m_dates[i]; });
    m_datesRead = true;
}

void SmartMemo::readLabels(const std::vector<Track>& rows, const QHash<QString, QString>& qual) {
    if (m_labelsRead && qual.isSharedWith(m_qual))
        return;
    m_qual = qual;
    m_hiRes.resize(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        m_hiRes[i] = isHiResLabel(lookup(qual, rows[i].path));
    m_labelsRead = true;
}

std::vector<std::size_t> SmartMemo::select(int mode, const std::vector<Track>& rows,
                                           const std::vector<std::size_t>& matched,
                                           const SmartFacts& facts, double now, bool rowsCurrent) {
    if (!rowsCurrent || m_paths.size() != rows.size())
        fitRows(rows);
    if (mode < kRecentList || mode > kHiResList)
        return matched;
    std::vector<std::size_t> out;
    std::vector<char> isMatched;
    if (mode == kRecentList || mode == kWeekList || mode == kMostPlayedList) {
        isMatched.assign(rows.size(), 0);
        for (const std::size_t i : matched)
            isMatched[i] = 1;
    }
    switch (mode) {
    case kRecentList:
    case kWeekList: {
        readDates(rows, orEmpty(facts.added));
        const double cutoff = now - (mode == kRecentList ? kRecentSpan : kWeekSpan);
        for (const std::size_t i : m_byDate) {
            if (!(m_dates[i] > cutoff))
                break; // newest first: the rest are older still
            if (isMatched[i])
                out.push_back(i);
        }
        break;
    }
    case kMostPlayedList:
        readStats(rows, orEmpty(facts.stats));
        for (const std::size_t i : m_byPlays)
            if (isMatched[i])
                out.push_back(i);
        break;
    case kNeverPlayedList:
        readStats(rows, orEmpty(facts.stats));
        for (const std::size_t i : matched)
            if (m_plays[i].plays == 0)
                out.push_back(i);
        break;
    case kFavoritesList:
        for (const std::size_t i : matched)
            if (facts.favorites && facts.favorites->contains(rows[i].path))
                out.push_back(i);
        break;
    case kHiResList:
        readLabels(rows, orEmpty(facts.qual));
        for (const std::size_t i : matched)
            if (m_hiRes[i])
                out.push_back(i);
        break;
    }
    return out;
}

std::vector<Track> smartList(int mode, std::vector<Track> tracks, const SmartFacts& facts,
                             double now) {
    std::vector<std::size_t> all(tracks.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    std::vector<Track> out;
    for (const std::size_t i : SmartMemo().select(mode, tracks, all, facts, now))
        out.push_back(std::move(tracks[i]));
    return out;
}

} // namespace ql
