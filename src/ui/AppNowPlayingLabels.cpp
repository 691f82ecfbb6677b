// ---- window: time labels and the now-playing window's mirror ----
//
// refreshTimes() runs 20 times a second during playback (the meter tick) and
// every 0.5 s while paused (the housekeeping tick); updateNowPlaying() runs
// every 0.5 s, after the window is shown or hidden and after its buttons act.
// Both only copy and format. The mirror hands the window a new cover or new
// peaks only when the transport bar's changed, since each assignment repaints.
#include "app/App.h"

#include "analysis/WaveformView.h"
#include "listening/NowPlayingWindow.h"
#include "ui/ClickImageView.h"
#include "ui/TimeText.h"
#include "ui/l10n/L10n.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace ql {

void App::refreshTimes() {
    if (const std::optional<PlayerFacts> player = playerFacts()) {
        // Kept: where playback goes on should the device fail under it.
        if (player->playing)
            playback.shownAt = player->currentTime;
        views.elapsedLabel->setText(timeText(player->currentTime));
        views.remainLabel->setText(QStringLiteral("-") +
                                   timeText(std::max(0.0, player->duration - player->currentTime)));
    } else {
        views.elapsedLabel->setText(QStringLiteral("--:--"));
        views.remainLabel->setText(QStringLiteral("--:--"));
    }
}

void App::updateNowPlaying() {
    NowPlayingWindow& np = *nowPlaying;
    if (!np.visible())
        return;

    const std::optional<Track>& current = playback.current;
    np.titleLabel->setText(current ? current->title
                                   : L10n::tr(QStringLiteral("음악을 선택하세요")));
    np.artistLabel->setText(current ? current->artist : QString());

    // The same image object keeps its key through copies; two empty covers
    // both have key 0.
    if (np.art->image().cacheKey() != art->image().cacheKey())
        np.art->setImage(art->image());

    np.infoLabel->setText(views.infoLabel->text());
    np.dacLabel->setText(dacLabel->text());

    if (np.wave->peaksVersion() != wave->peaksVersion())
        np.wave->copyPeaks(*wave);

    // The button offers pause only while a player plays: a track still being
    // prepared (rendered, decoded) has none to pause, and a press then does
    // nothing (the transport bar says "준비 중…" meanwhile).
    const std::optional<PlayerFacts> player = playerFacts();
    np.timeLabel->setText(player ? timeText(player->currentTime) + QStringLiteral(" / ") +
                                       timeText(player->duration)
                                 : QStringLiteral("0:00 / 0:00"));
    np.playButton->setText(player && player->playing ? QStringLiteral("⏸") : QStringLiteral("▶"));

    const bool favourite = current && listening.favorites.contains(current->path);
    np.favButton->setText(favourite ? QStringLiteral("♥") : QStringLiteral("♡"));
}

} // namespace ql
