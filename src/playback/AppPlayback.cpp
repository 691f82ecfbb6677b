// ---- playback: Now Playing, the lock icon, the signal-path refresh ----
//
// Seams for the playback issues: Now Playing and the media commands
// (publish, clearNowPlaying, registerRemote) come with the Now Playing issue;
// the lock icon with the playback modes; the signal-path refresh with the
// signal-path panel. Until then they do nothing.
#include "app/App.h"

namespace ql {

void App::registerRemote() {}
void App::publish() {}
void App::clearNowPlaying() {}
void App::updateLockIcon() {}
void App::refreshSignalPanel() {}

} // namespace ql
