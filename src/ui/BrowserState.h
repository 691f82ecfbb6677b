// State of the library browser held by App as `browser`. Main thread only.
#pragma once

#include "app/Records.h"

#include <vector>

namespace ql {

struct BrowserState {
    // The visible track list in display order: the table's rows and the play
    // order of next and previous.
    std::vector<Track> filtered;

    // ---- restored at launch -----------------------------------------------------
    // The view: 0 the track list, 1 albums, 2 artists, 3 genres. "viewKind".
    int viewKind = 1;
};

} // namespace ql
