// ---- library: quality labels ----
//
// Seam: the probe itself (ffprobe on the quality queue, the label rule, the
// result step that stores the label in library.qual, marks it for saving,
// clears the pending mark and refreshes the views) comes with the
// quality-label work. Until then a request is marked pending, so each path is
// asked for once, and handed to seams.qualityProbe when a test watches.
#include "app/App.h"

namespace ql {

void App::requestQuality(const Track& track) {
    if (library.qualPending.contains(track.path))
        return;
    library.qualPending.insert(track.path);
    if (seams.qualityProbe)
        seams.qualityProbe(track);
}

} // namespace ql
