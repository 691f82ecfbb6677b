// ---- playback: loudness measurement ----
//
// Seam for the loudness measurement: the background ffmpeg measurement of a
// track's integrated loudness while leveling is on, and its arrival in
// `playback.loud`, come with it. Until then no track is measured, and the
// effective volume levels only tracks whose loudness was stored before.
#include "app/App.h"

namespace ql {

void App::ensureLoudness(const Track&) {}

} // namespace ql
