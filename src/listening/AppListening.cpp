// ---- listening: now-playing window, favourites, smart lists, radio queue ----
//
// Seams for the smart-listening issues: the favourites store writer and
// marks, and the smart-list filter are not built yet, so toggling a
// favourite, refreshing the favourite marks and choosing a smart list do
// nothing; setSmart only stores and shows the choice. The now-playing window shows and hides (its
// looks come later). The guest DJ's refill of the radio queue (when fewer than two ids are left)
// comes with the guest DJ; until then popRadio() only takes what the queue holds. The listening
// actions (whole list, shuffle, favourites, hi-res, random album) come with the smart lists and
// listen modes; the tools panel with its own issue, until then an empty panel.
#include "app/App.h"

#include "app/SettingLimits.h"
#include "app/UserDefaults.h"
#include "listening/NowPlayingWindow.h"

#include <QComboBox>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace ql {

void App::showNowPlaying() {
    QWidget* w = nowPlaying->window.get();
    if (nowPlaying->visible()) {
        w->hide();
    } else {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            w->adjustSize();
            QRect frame = w->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            w->move(frame.topLeft());
        }
        w->show();
        w->raise();
        w->activateWindow();
    }
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

QWidget* App::buildExtras() {
    // The panel's own build calls this at its place in the order.
    scheduleSonicScan();
    return new QWidget;
}

} // namespace ql
