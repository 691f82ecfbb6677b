// ---- playback: the lock icon, the signal-path refresh ----
//
// Seams for the playback issues: the lock icon with the playback modes; the
// signal-path refresh with the signal-path panel. Until then they do nothing.
#include "app/App.h"

namespace ql {

void App::updateLockIcon() {}
void App::refreshSignalPanel() {}

} // namespace ql
