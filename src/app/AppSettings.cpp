// ---- settings and stores at launch and quit ----
//
// Seam: the settings, the JSON stores and the callback wiring arrive with the
// records-and-stores issue.
#include "app/App.h"

namespace ql {

void App::loadExtras() {}

} // namespace ql
