// ---- browser: the views a filter pass refreshes ----
//
// Seams: the track table, the tile grid and the page header are built by
// their own issues (track table; album, artist and genre grouping; page
// header). Until then a pass has no table to reload or select in, no tiles to
// group (browser.albums stays empty) and no header or count label to refresh;
// these calls keep the pass's order of work in place for them. The table's
// double-click action (play the row, or filter by its album or artist) comes
// with the track table.
#include "app/App.h"

namespace ql {

void App::reloadTable() {}
void App::selectTableRow(int) {}
void App::scrollTableToTop() {}
void App::rebuildAlbums() {}
void App::reloadAlbumGrid() {}
void App::updateHeader() {}
void App::selected() {}

} // namespace ql
