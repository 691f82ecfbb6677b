// ---- browser: the views a filter pass refreshes besides the table ----
//
// rebuildAlbums groups the visible tracks into tiles (ui/AlbumGrouping.h).
// Seams: the tile grid and the page header are built by their own issues
// (album grid; page header). Until then a pass has no grid to reload and no
// header or count label to refresh; these calls keep the pass's order of work
// in place for them.
// syncTabs and pushNav come with the navigation history, view modes, tabs,
// sidebar highlight and page header; until then the window build's calls of
// them change nothing.
#include "app/App.h"

#include "ui/AlbumGrouping.h"

namespace ql {

void App::rebuildAlbums() {
    GroupingInput input;
    input.tracks = &browser.filtered;
    input.viewKind = browser.viewKind;
    input.sortMode = browser.sortMode;
    input.added = &library.added;
    input.genres = &library.genres;
    browser.albums = groupTracks(input);
}
void App::reloadAlbumGrid() {}
void App::updateHeader() {}
void App::syncTabs() {}
void App::pushNav() {}

} // namespace ql
