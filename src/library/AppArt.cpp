// ---- art: the transport bar's cover ----
//
// Seam for the cover-art work: the placeholder, the picture extracted from the
// file with ffmpeg and the download from the track's cover address come with
// it. Until then the call reaches the test seam when one is set and otherwise
// leaves the cover view as it is.
#include "app/App.h"

namespace ql {

void App::loadArt(const Track& track) {
    if (seams.loadArt)
        seams.loadArt(track);
}

} // namespace ql
