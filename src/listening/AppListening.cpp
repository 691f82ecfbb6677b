// ---- listening: now-playing window, favourites, smart lists, radio queue ----
//
// Seams for the smart-listening issues: the favourites store writer and
// marks, and the smart-list filter are not built yet, so toggling a
// favourite, refreshing the favourite marks and choosing a smart list do
// nothing; setSmart only stores and shows the choice. The guest DJ's refill of the radio queue
// (when fewer than two ids are left) comes with the guest DJ; until then popRadio() only takes what
// the queue holds. The listening actions (whole list, shuffle, favourites, hi-res, random album)
// come with the smart lists and listen modes.
#include "app/App.h"

#include "app/SettingLimits.h"
#include "app/UserDefaults.h"
#include "listening/NowPlayingWindow.h"

#include <QComboBox>
#include <QMainWindow>

#include <algorithm>

namespace ql {

// The window opens on the screen of the main window, showing current values
// at once.
void App::showNowPlaying() {
    nowPlaying->toggle(window ? window->screen() : nullptr);
    updateNowPlaying();
}
void App::toggleFavorite() {}
void App::updateFavButton() {}
void App::smartChanged() {}
// The least a smart list needs until the smart lists arrive: the number,
// its setting and the pop-up's selection.
void App::setSmart(int n) {
    listening.smartMode = n;
    UserDefaults().set(keys::kSmartMode, n);
    smartPicker->setCurrentIndex(smartListIndex(n));
}
// Until the smart lists arrive, a smart list holds every track it is given,
// in the given order.
std::vector<Track> App::smartFilter(const std::vector<Track>& tracks) const {
    return tracks;
}

std::optional<Track> App::popRadio() {
    QList<qint64>& queue = listening.radioQueue;
    while (!queue.isEmpty()) {
        const qint64 id = queue.takeFirst();
        const auto it = std::ranges::find(library.rows, id, &Track::id);
        if (it != library.rows.end())
            return *it;
    }
    return std::nullopt;
}

void App::listenAll() {}
void App::listenShuffle() {}
void App::listenFavorites() {}
void App::listenHiRes() {}
void App::listenRandomAlbum() {}

} // namespace ql
