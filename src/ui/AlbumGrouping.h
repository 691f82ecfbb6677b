// The tiles of the album, artist and genre grids, made from the visible
// tracks: one tile per album (normalised album and artist), per artist or per
// genre, with its title, subtitle and place in the grid's order.
//
// Pure unit over a snapshot; it touches no file and no cache, so it can run on
// the main thread after every filter pass. Names compare through
// normalizedSearch (ui/SearchText.h); titles keep the first track's spelling.
// Album tiles are ordered by the sort mode (0 artist then title, 1 title,
// 2 date added, newest first; any other mode like 0), artist and genre tiles
// by their number of tracks, most first. The sort is stable: tiles that
// compare equal keep the order in which their first tracks appear. Texts
// compare with the locale's collation, ignoring case.
#pragma once

#include "app/Records.h"
#include "app/TrackList.h"
#include "library/GenreMap.h"
#include "ui/AlbumItem.h"

#include <QHash>
#include <QLocale>
#include <QString>

#include <vector>

namespace ql {

// View kinds that make tiles of their own; any other value groups by album.
inline constexpr int kArtistView = 2;
inline constexpr int kGenreView = 3;

struct GroupingInput {
    const TrackList* tracks = nullptr; // the visible list, in its order
    int viewKind = 1;
    int sortMode = 0;
    // Date added by path, seconds since 1970; a path without one counts as 0.
    const QHash<QString, double>* added = nullptr;
    // Genre by path; a path without one (or with "") has no known genre.
    const GenreMap* genres = nullptr;
    QLocale locale;
};

std::vector<AlbumItem> groupTracks(const GroupingInput& input);

// normalizedSearch(album) + "|" + normalizedSearch(artist).
QString albumKey(const Track& track);

// The key a track's cover is kept and asked under: its album key, and for a
// track without an album tag the album key, "|" and its folder, normalised.
// Untagged tracks of one artist share a tile but not a picture: a track in
// another folder must not lend its cover to a page or mosaic it is not in.
QString coverKey(const Track& track);

// The key of the tile of `kind` ("album", "artist" or "genre") that
// groupTracks puts the track in; `genre` is the track's genre ("" unknown).
QString tileKey(const Track& track, const QString& kind, const QString& genre);

// The albums a group tile's mosaic shows: the first four distinct cover keys
// in the order of the tile's tracks, each as a one-track album record (keyed
// by its cover key) of the first track that carries it.
std::vector<AlbumItem> mosaicAlbums(const AlbumItem& tile);

// The name of a tile's cover file in the covers folder: the 64-bit FNV-1a
// hash of the key's UTF-8 in unsigned decimal, then ".jpg". The same in every
// run and on every machine, so covers extracted once are found again.
QString coverFileName(const QString& key);

// The memory cache key of a group tile's mosaic: the tile's key and the cover
// keys of the albums it shows, so a tile whose tracks changed (a genre found
// by the scan, an album added to an artist, a smart list with other tracks
// under the same title and count) draws its mosaic again instead of showing
// the one drawn for other tracks.
QString mosaicKey(const QString& tileKey, const std::vector<AlbumItem>& albums);

} // namespace ql
