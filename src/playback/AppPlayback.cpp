// ---- playback: the tick's playback checks, device rate ----
//
// Seams for the playback issues: the checks the tick runs (sleep timer, crossfade) with the sleep-timer and
// crossfade issues (the gapless check is in AppSuccession.cpp); the lock icon
// with the playback modes; the signal-path refresh with the signal-path panel.
// Until then they do nothing.
#include "app/App.h"

namespace ql {

void App::sleepTick() {}
void App::crossfadeCheck() {}
void App::updateLockIcon() {}
void App::refreshSignalPanel() {}

} // namespace ql
