// ---- window: the now-playing info labels ----
//
// Seam for the info-labels work: the artist line (album and artist) and the
// format line probed in the background come with it. Until then the artist
// line keeps the artist the play request wrote there.
#include "app/App.h"

namespace ql {

void App::updateInfoLabels(const Track&) {}

} // namespace ql
