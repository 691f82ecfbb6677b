// ---- playback: play request, transport, media commands, volume keys ----
//
// Seams for the playback issues: nothing plays yet, so there is nothing to
// pause and no command or key to answer.
#include "app/App.h"

namespace ql {

void App::registerRemote() {}
void App::registerVolumeKeys() {}
void App::toggle() {}
bool App::isPlaying() const { return false; }

} // namespace ql
