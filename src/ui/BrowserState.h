// State of the library browser, held by App as `browser`; main thread only.
// Fields are plain values: assigning one has no side effect (the cover
// cache is the one that cannot be copied). The window's
// controls that show them (search field, folder pop-up) are App members.
//
// `filtered` is written by App::filter alone; `orderedIDs` and
// `selectedFolder` start from the stored "visibleTrackOrder" and
// "selectedFolder" when App is made.
#pragma once

#include "app/Records.h"
#include "app/TrackList.h"
#include "ui/AlbumItem.h"
#include "ui/CatalogFilter.h"
#include "ui/CoverCache.h"
#include "ui/CoverTicket.h"
#include "ui/NavState.h"
#include "ui/SearchMemo.h"
#include "ui/ShuffleOrder.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace ql {

struct BrowserState {
    // The visible list after folder, search, cell filter, smart list and
    // order: the table's rows and the play order of next and previous. With
    // the catalog worker running it points into the worker's catalog of the
    // pass; a catalog taken in later (a change of durations alone, which
    // does not refilter) leaves it as the pass made it.
    TrackList filtered;
    // The stable shuffled order of the visible tracks; empty when no shuffle
    // order is in force.
    TrackIds orderedIDs;
    // The chosen music folder; "" for all folders.
    QString selectedFolder;
    // The folder of each folder pop-up item, index for index ("" first).
    QStringList folderPaths;
    std::optional<CellFilter> cellFilter;
    // 0 track list, 1 albums, 2 artists, 3 genres. The launch sets it from
    // "viewKind" (1 when absent).
    int viewKind = 0;
    bool albumMode() const { return viewKind > 0; }
    std::vector<AlbumItem> albums;
    // Counts the groupings asked for: only the latest may fill `albums`.
    // Shared with the pool threads, so a grouping already outdated when its
    // turn comes (fast typing) is skipped.
    std::shared_ptr<std::atomic<quint64>> albumsPass = std::make_shared<std::atomic<quint64>>(0);
    // The view kind `albums` was grouped for; 0 while no tiles of the kind
    // on screen are shown yet (the count label then counts tracks alone).
    int albumsKind = 0;
    // Counts the lists App::filter made: with the view kind and the sort
    // mode it tells whether two groupings would make the same tiles.
    quint64 listPass = 0;
    // What a grouping is made from; sameTiles leaves out the genres, which
    // a scan changes batch by batch without outdating a grouping on its way.
    struct GroupingBasis {
        quint64 list = 0;
        int viewKind = 0;
        int sortMode = 0;
        quint64 genres = 0; // LibraryState::genresPass
        bool operator==(const GroupingBasis&) const = default;
        bool sameTiles(const GroupingBasis& o) const {
            return list == o.list && viewKind == o.viewKind && sortMode == o.sortMode;
        }
    };
    // The grouping on a pool thread: at most one runs. A request made while
    // it runs waits (`again`) and starts when it ends, from the state of
    // then; `asked` is the basis of the latest request, none after a
    // grouping on the main thread outdated them all.
    struct PoolGrouping {
        bool running = false;
        bool again = false;
        std::optional<GroupingBasis> asked;
    } pool;
    // Tile order: 0 artist, 1 album title, 2 date added.
    int sortMode = 0;
    double gridSize = 150; // tile edge in pixels
    // The album tile of each first track, by path, as the grid last
    // reloaded: where a new quality label shows its badge.
    QHash<QString, int> tileOfFirstTrack;
    std::vector<NavState> navStack;
    int navIndex = -1;
    bool navApplying = false;
    // The page header's last cover key: only its answer may land.
    QString headerCoverKey;

    // Covers by tile key, as the cover service delivers them.
    CoverCache coverCache;
    // Cover keys the track table asked for since its last reload, each with
    // the hold that keeps its request wanted: each is asked once per reload,
    // not at every paint, and let go (so asked again when it comes back)
    // when no row on screen shows it any more.
    QHash<QString, CoverHold> coversAsked;

    // Each catalog row's search text, kept between passes (see SearchMemo.h).
    // Shared with the catalog worker that filled it (see ownMemo).
    std::shared_ptr<SearchMemo> searchMemo = std::make_shared<SearchMemo>();
    // Marks the filter passes leave on catalog rows (see RowMarks).
    RowMarks rowMarks;
    // What the settings hold under "visibleTrackOrder" and "librarySearch",
    // so a pass that changes neither does not rewrite them.
    std::optional<TrackIds> storedOrder;
    std::optional<QString> storedSearch;
};

} // namespace ql
