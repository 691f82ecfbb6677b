// ---- listening: now-playing window, favourites, the radio queue ----
//
// Favourites are a set of file paths, saved whole to "favorites.json" after
// every change (a failed write is silent: the set stays changed and is
// written again at the next change and at quit). The similar-track radio
// scores the whole catalog against one seed (listening/RadioPicks.h) and puts
// the best ids in the radio queue, the one list of tracks to play next.
// popRadio lets the guest DJ refill a queue running low first
// (listening/AppGuestDj.cpp); with the DJ off nothing is added.
#include "app/App.h"

#include "listening/NowPlayingWindow.h"
#include "listening/SmartLists.h"
#include "ui/CatalogFilter.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include <QMainWindow>
#include <QPushButton>

#include <algorithm>

namespace ql {

// The window opens on the screen of the main window, showing current values
// at once.
void App::showNowPlaying() {
    nowPlaying->toggle(window ? window->screen() : nullptr);
    updateNowPlaying();
}
void App::toggleFavorite() {
    const std::optional<Track> track = selectedOrCurrent();
    if (!track) {
        status->setStringValue(L10n::tr(QStringLiteral("먼저 곡을 선택하세요.")));
        return;
    }
    toggleFav(*track);
}

void App::menuFavorite() {
    if (const std::optional<Track> track = rowTrack())
        toggleFav(*track);
}

void App::toggleFav(const Track& requested) {
    // A copy: the refilter below replaces the list the track may come from.
    const Track track = requested;
    const bool added = flipFavorite(listening.favorites, track.path);
    listening.favoritesDirty =
        !core.store.save(QString::fromLatin1(stores::kFavorites), listening.favorites);
    updateFavButton();
    if (listening.smartMode == kFavoritesList) {
        // The favourites list itself: the track enters or leaves it at once,
        // the others keep their places.
        filter(false);
    } else {
        reloadTable();
        if (playback.current) {
            const int playing = rowOfTrack(browser.filtered, playback.current->id);
            if (playing >= 0)
                selectTableRow(playing);
        }
    }
    // The title is the user's: only the fixed fragment is translated.
    status->setTranslated(L10n::tr(added ? QStringLiteral("♥ 즐겨찾기에 추가: ")
                                         : QStringLiteral("즐겨찾기 해제: ")) +
                          track.title);
}

void App::updateFavButton() {
    const bool favourite = playback.current && listening.favorites.contains(playback.current->path);
    favButton->setText(favourite ? QStringLiteral("♥ 즐겨찾기") : QStringLiteral("♡ 즐겨찾기"));
    if (views.barFav)
        views.barFav->setContentTint(favourite ? Theme::accent() : Theme::sub());
}

void App::startRadio() {
    // Either way the track after this one changes: a successor prepared for
    // it goes first, a radio pick armed to follow back to the queue, where it
    // counts as queued.
    cancelPrepared();
    QList<qint64>& queue = listening.radioQueue;
    // Whoever filled the queue (the radio, the DJ, "다음에 재생"), a press
    // turns it off; what plays goes on.
    if (!queue.isEmpty()) {
        queue.clear();
        status->setStringValue(L10n::tr(QStringLiteral("비슷한 곡 재생을 해제했습니다.")));
        return;
    }
    std::optional<Track> seed = playback.current;
    if (!seed && !browser.filtered.empty())
        seed = browser.filtered.front();
    if (!seed) {
        status->setStringValue(L10n::tr(QStringLiteral("먼저 곡을 재생하세요.")));
        return;
    }
    const std::vector<qint64> ids =
        radioPicks(library.rows, *seed, playback.stats, listening.radioMemo, listening.random);
    queue = QList<qint64>(ids.begin(), ids.end());
    status->setStringValue(L10n::tr(QStringLiteral("📻 비슷한 곡 ") + QString::number(ids.size()) +
                                    QStringLiteral("곡을 이어서 재생합니다 (다시 누르면 해제)")));
    // While a track plays the queue waits for its end or the next skip.
    if (!isPlaying())
        if (const std::optional<Track> first = popRadio())
            play(*first);
}

std::optional<Track> App::popRadio() {
    QList<qint64>& queue = listening.radioQueue;
    if (listening.djMode > 0 && queue.size() < 2)
        djRefill();
    while (!queue.isEmpty()) {
        const qint64 id = queue.takeFirst();
        const auto it = std::ranges::find(library.rows, id, &Track::id);
        if (it != library.rows.end())
            return *it;
    }
    return std::nullopt;
}

} // namespace ql
