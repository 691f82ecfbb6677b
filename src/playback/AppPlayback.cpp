// ---- playback: the signal-path refresh ----
//
// Seam for the signal-path panel, which fills it; until then it does nothing.
#include "app/App.h"

namespace ql {

void App::refreshSignalPanel() {}

} // namespace ql
