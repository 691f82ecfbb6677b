// Two user actions on the playing order. A-B repeat: the button sets A, then
// B, then clears; while both are set the meter tick jumps from B back to A.
// Play Next: the clicked row's track goes to the front of the radio queue,
// which the next track change takes first; a successor already prepared for
// the old order is let go (its radio id back first, behind the chosen one),
// and the gapless check arms the chosen track in its place. Neither starts
// playback.
#include "app/App.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QPushButton>

namespace ql {

namespace {

// A loop shorter than this is taken for a mistaken second press.
constexpr double kShortestLoop = 0.5;

void abIdle(App& app) {
    app.playback.abA.reset();
    app.playback.abB.reset();
    app.abButton->setText(L10n::tr(QStringLiteral("A-B 반복")));
}

} // namespace

void App::abCycle() {
    PlaybackState& p = playback;
    if (!p.audio) {
        status->setStringValue(QStringLiteral("재생 중인 곡이 있어야 합니다."));
        return;
    }
    const double t = p.audio->currentTime();
    if (!p.abA) {
        p.abA = t;
        p.abB.reset();
        abButton->setText(QStringLiteral("A ") + time(t) + QStringLiteral(" → B?"));
    } else if (!p.abB && *p.abA + kShortestLoop < t) {
        p.abB = t;
        abButton->setText(QStringLiteral("🔁 ") + time(*p.abA) + QStringLiteral("–") + time(t));
    } else {
        abIdle(*this);
    }
}

void App::abTick() {
    PlaybackState& p = playback;
    if (!p.audio || !p.abA || !p.abB)
        return;
    if (p.audio->currentTime() >= *p.abB) {
        // A successor armed near the end of the track would start over the
        // jump back: give it up (and its radio id back).
        cancelPrepared();
        p.audio->setCurrentTime(*p.abA);
    }
}

void App::menuPlayNext() {
    const std::optional<Track> track = rowTrack();
    if (!track)
        return;
    cancelPrepared();
    QList<qint64>& queue = listening.radioQueue;
    queue.removeAll(track->id);
    queue.prepend(track->id);
    // The title is the user's data: only the fragments around it are
    // translated.
    status->setTranslated(L10n::tr(QStringLiteral("다음에 재생: ")) + track->title +
                          L10n::tr(QStringLiteral(" (대기 ")) + QString::number(queue.size()) +
                          L10n::tr(QStringLiteral("곡)")));
    // Read ahead now rather than at the next tick: in a track's last
    // seconds the gapless check needs the chosen track's first read in time.
    aimLookAhead();
}

} // namespace ql
