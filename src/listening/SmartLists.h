// The six smart lists: which tracks each one holds and in what order.
//
// Pure unit. Lists by their stored number: 1 received in the last 30 days,
// 2 most played, 3 never played, 4 received this week, 5 favourites, 6 hi-res.
// Any other number applies no rule: the tracks come back as given.
//
// "now" (seconds since 1970) is a parameter, so every comparison of one call
// uses the one value. Facts a track lacks take defaults: no statistics = 0
// plays and no last play, no date = 0 (never inside a date list), no label =
// "". The date rules are strict: a date equal to the cut-off is outside.
// Orders: the date lists newest first, the most-played list by plays, then
// by the more recent last play; the sort is stable, so tracks with equal keys
// keep the order they came in. Lists 3, 5 and 6 keep the given order.
#pragma once

#include "app/Records.h"
#include "ui/AlbumItem.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace ql {

inline constexpr int kRecentList = 1;
inline constexpr int kMostPlayedList = 2;
inline constexpr int kNeverPlayedList = 3;
inline constexpr int kWeekList = 4;
inline constexpr int kFavoritesList = 5;
inline constexpr int kHiResList = 6;

// How far back the two date lists reach, in seconds.
inline constexpr double kRecentSpan = 2'592'000; // 30 days
inline constexpr double kWeekSpan = 604'800;     // 7 days

// What the rules read, keyed by file path; a null table counts as empty.
struct SmartFacts {
    const QHash<QString, PlayStat>* stats = nullptr;
    const QHash<QString, double>* added = nullptr;
    const QHash<QString, QString>* qual = nullptr;
    const QSet<QString>* favorites = nullptr;
};

// The tracks of `tracks` that list `mode` holds, in its order.
std::vector<Track> smartList(int mode, std::vector<Track> tracks, const SmartFacts& facts,
                             double now);

// The same lists over catalog rows given by index, for the filter pass that
// runs at every keystroke: what each row's facts look up, and the rows in
// play and date order, are kept between calls. A column is read again when
// its table is no longer the one it was read from (any change to a QHash
// detaches it from the memo's shared copy) or a row's path changed; so the
// results are always those of reading afresh. Favourites are looked up at
// every call. A change to a table after a call copies it once (the memo's
// copy keeps the old one until the next call).
class SmartMemo {
public:
    // The indices of `matched` (catalog order) that list `mode` holds, in its
    // order; `matched` itself for a number outside the lists. `rowsCurrent`:
    // the caller knows the rows are those of the previous call, unchanged, so
    // their paths are not compared again.
    std::vector<std::size_t> select(int mode, const std::vector<Track>& rows,
                                    const std::vector<std::size_t>& matched,
                                    const SmartFacts& facts, double now, bool rowsCurrent = false);

private:
    void fitRows(const std::vector<Track>& rows);
    void readStats(const std::vector<Track>& rows, const QHash<QString, PlayStat>& stats);
    void readDates(const std::vector<Track>& rows, const QHash<QString, double>& added);
    void readLabels(const std::vector<Track>& rows, const QHash<QString, QString>& qual);

    std::vector<QString> m_paths; // each row's path as last seen
    QHash<QString, PlayStat> m_stats;
    std::vector<PlayStat> m_plays;
    std::vector<std::size_t> m_byPlays; // rows with a play, most played first
    bool m_statsRead = false;
    QHash<QString, double> m_added;
    std::vector<double> m_dates;
    std::vector<std::size_t> m_byDate; // rows with a date, newest first
    bool m_datesRead = false;
    QHash<QString, QString> m_qual;
    std::vector<char> m_hiRes;
    bool m_labelsRead = false;
};

// A quality label of a high-resolution file: it carries the star.
bool isHiResLabel(const QString& label);

// Adds the path to the favourites or removes it; true when it is a favourite
// afterwards.
bool flipFavorite(QSet<QString>& favorites, const QString& path);

// The random album's draw among album tiles: a tile is
// titled by its tracks' album tag, or by their folder's name when they have
// none. Only tag-titled tiles are drawn while there is one (a folder title
// finds no track by the album filter); else any tile. `draw(n)` gives a
// uniform index below n. None without tiles.
std::optional<std::size_t> pickAlbumTile(const std::vector<AlbumItem>& tiles,
                                         const std::function<std::size_t(std::size_t)>& draw);

} // namespace ql
