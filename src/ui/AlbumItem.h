// One tile of the album, artist or genre grid: a group of tracks with its
// title, artist line, kind ("album", or the grid's own kind) and subtitle.
#pragma once

#include "app/Records.h"
#include "app/TrackList.h"

#include <QString>

#include <vector>

namespace ql {

struct AlbumItem {
    QString key;
    QString title;
    QString artist;
    // A tile made by grouping shares the rows of the list it was grouped
    // from: a hundred thousand visible tracks are not copied into tiles.
    TrackList tracks;
    QString kind = QStringLiteral("album");
    QString sub;
};

} // namespace ql
