// ---- playback: the lock icon ----
//
// Seam for the playback modes: the lock icon comes with them.
#include "app/App.h"

namespace ql {

void App::updateLockIcon() {}

} // namespace ql
