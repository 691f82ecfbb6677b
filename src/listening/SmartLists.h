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
