// The rules of the tile grid, free of widgets: what a tile click filters by
// and which track it starts, the kind word of its status line, and where a
// letter of the letter bar jumps to.
//
// Texts returned are the Korean originals; callers translate the fixed ones
// (a tile title from the library is never translated).
#pragma once

#include "app/Records.h"
#include "library/GenreMap.h"
#include "ui/AlbumItem.h"
#include "ui/CatalogFilter.h"

#include <QHash>
#include <QString>

#include <cstddef>
#include <optional>
#include <vector>

namespace ql {

// The tile stands for tracks without an artist ("(가수 없음)") or without a
// known genre ("장르 미지정"): its title is the program's text, not a name.
bool hasFixedTitle(const AlbumItem& tile);

// The cell filter a click on the tile sets: ("artist", title), ("genre",
// title) or ("album", title), with "" for a fixed title and for an album tile
// whose first track has no album tag (its title is then a folder name).
CellFilter tileFilter(const AlbumItem& tile);

// "가수", "장르" or "앨범" (any other kind).
QString tileKindWord(const AlbumItem& tile);

// The track a click on the tile starts, as an index into `visible` (the list
// after the tile's filter): the first whose tile key under the tile's kind
// is the tile's key (an album tile's album and artist), else the first of the
// list (it changed meanwhile); none for an empty list. `genres` by path.
std::optional<std::size_t> tileOwnTrack(const TrackList& visible, const AlbumItem& tile,
                                        const GenreMap& genres);

// The tile a letter of the letter bar jumps to, in display order. A tile's
// jump key is upper-cased: its title in sort mode 1, else its artist, or its
// title when the artist is empty. "#" finds the first key that starts with a
// non-ASCII scalar or an ASCII character that is not a letter; any other
// letter the first key that starts with an ASCII scalar and is not less than
// the letter in code-point order. None when no tile qualifies.
std::optional<std::size_t> letterTarget(const std::vector<AlbumItem>& tiles, int sortMode,
                                        const QString& letter);

} // namespace ql
