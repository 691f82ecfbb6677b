// ---- downloader: the settings menu's entry points ----
#include "app/App.h"

#include "downloader/FlacFetcher.h"

namespace ql {

// Asked on each call, so a script installed or removed while the program runs
// shows or hides the menu items the next time the menu is built.
bool App::hasFetcher() const {
    return FlacFetcher::hasScript(fetcher->folders().resources);
}

void App::showFetch() {
    fetcher->show();
}

// The chart preset: today's top ten.
void App::runMelon() {
    fetcher->runMelon(10);
}

} // namespace ql
