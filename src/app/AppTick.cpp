// ---- tick: the 0.5 s periodic work ----
//
// Seam: the timer runs from launch; the work it does (translation, play
// counting, backend polls, device refresh, store saves) comes with the tick's
// own issue.
#include "app/App.h"

namespace ql {

void App::tick() {}

} // namespace ql
