// ---- library: catalog, backend, file intake ----
//
// Seams for the library issues: the catalog cache and backend bridge, file
// intake, and the settings menu's rescan and track enrichment. Until they land
// the catalog stays empty, files handed to the program are not taken in, and
// those two menu items do nothing.
#include "app/App.h"

namespace ql {

void App::restoreCatalog() {}
void App::startBackend() {}
void App::openAudioFiles(const QStringList&) {}
void App::scan() {}
void App::enrich() {}

} // namespace ql
