// ---- playback: crossfade into the next track ----
//
// In the last 5 s of a track longer than 12 s, crossfadeCheck() opens the
// next track in a second player, makes it the current track at once and
// starts it silent; a 0.1 s timer then raises it and lowers the old player
// linearly over the seconds that were left (at least 0.5 s). The old player
// no longer reports its end: the new one's end drives the next change. The
// fade's start and length travel with the timer; the new player's target is
// effVol() read afresh on each step, so the slider, leveling and the sleep
// fade act during the fade too.
//
// Never in bit-perfect or maximum-quality mode, with repeat on, or while the
// current track or its successor needs processing, or the successor plays
// its decode made ahead (AppDecodeAhead.cpp): such a track ends by the
// ordinary road, and the track is marked in `crossSkipped` so that later
// ticks do not try again. The same happens when there is no other track to
// go to, its file does not open or holds no samples (faded into, it would
// end at once and the track after it would follow, where the ordinary road
// stops on it with its message), the chosen output device refuses the new
// player (it would otherwise sound on the system default) or its output does
// not start. All of that is found out before anything changes.
//
// A player prepared on the next track is let go first: a gapless successor
// armed before crossfade was switched on would otherwise start at the old
// track's end on top of the fade. The radio queue gives up the successor's id (and the ids naming
// nothing in front of it) just as the gapless arming takes it.
#include "app/App.h"

#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/FadeRules.h"
#include "playback/Succession.h"
#include "playback/Transport.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"

#include <QLabel>
#include <QTimer>

namespace ql {

namespace {

// The successor's player (none: it did not open), bound to the chosen device and started
// silent; none when any of that fails (the player is then retired).
std::unique_ptr<platform::AudioPlayer> startSilent(App& app,
                                                   std::unique_ptr<platform::AudioPlayer> player) {
    if (!player)
        return nullptr;
    platform::AudioPlayer& a = *player;
    bool started = app.bindPlayer(a);
    if (started) {
        app.applySpeed(a);
        a.setVolume(0);
        a.prepareToPlay();
        started = a.play();
    }
    if (!started) {
        app.retirePlayer(std::move(player));
        return nullptr;
    }
    return player;
}

} // namespace

bool App::crossfadeInEffect() const {
    const PlaybackState& p = playback;
    return listening.crossfadeOn && !p.bitPerfect && !p.maxQuality && !p.repeatOn;
}

void App::crossfadeCheck() {
    PlaybackState& p = playback;
    if (!crossfadeInEffect())
        return;
    if (p.fadingOut || !p.audio || !p.audio->isPlaying() || p.loading || !p.current)
        return;
    const qint64 currentId = p.current->id;
    if (p.crossSkipped == currentId)
        return;
    // Asked after the cheap checks: with upsampling chosen it reads the
    // device's rates.
    if (fxNeeded(p.current))
        return;
    // Track seconds: at another speed the fade still starts 5 s of file
    // before the end, and lasts that many seconds of the clock.
    const double duration = p.audio->duration();
    const double position = p.audio->currentTime();
    // The successor comes with the backend's first catalog: look again then.
    if (!crossfadeDue(duration, position) || successorAwaited())
        return;

    // A player opened ahead holds the successor's decode made ahead: let go
    // first, it gives that back for fileAhead to find.
    cancelPrepared();
    const std::optional<Track> next = peekNext();
    bool later = false;
    const std::optional<QString> file =
        next && next->id != currentId ? fileAhead(*next, later) : std::nullopt;
    // Its decode made ahead is not ready yet: the next tick looks again.
    if (later)
        return;
    std::unique_ptr<platform::AudioPlayer> incoming;
    // A track that plays a render or a decode made ahead ends by the
    // ordinary road, which takes that file at once.
    if (next && file == next->path && rateAwaited(*next))
        return;
    if (next && file == next->path && !fxNeeded(next)) {
        // Opened off the main thread: the next tick looks again meanwhile.
        std::unique_ptr<platform::AudioPlayer> player = playerOf(*next, *file, later);
        if (later)
            return;
        incoming = startSilent(*this, std::move(player));
    }
    if (!incoming) {
        p.crossSkipped = currentId;
        return;
    }

    takeRadioHead(listening.radioQueue, library.rows, next->id);
    appendHistory(p.history, currentId);
    std::unique_ptr<platform::AudioPlayer> outgoing = std::move(p.audio);
    outgoing->onFinished = nullptr;
    p.fadeProgress = 0;
    p.fadeOldBase = outgoing->volume();
    p.fadingOut = std::move(outgoing);
    const double length = crossfadeLength(duration - position);
    const double start = monotonicNow();

    p.current = *next;
    views.titleLabel->setText(next->title);
    views.artistLabel->setText(next->artist);
    services.analysers->loadArt(*this, *next);
    p.audio = std::move(incoming);
    p.mayFallBack = true;
    watchEnd(*p.audio);
    seek->setMaximumValue(p.audio->duration());
    views.playButton->setTitle(playingTitle());
    beginFadeKeep(*next);
    publish();

    auto timer = std::make_unique<QTimer>();
    timer->setInterval(kFadeStepMs);
    connect(timer.get(), &QTimer::timeout, this,
            [this, start, length] { fadeStep(start, length); });
    timer->start();
    p.fadeTimer = std::move(timer);
}

void App::fadeStep(double start, double length) {
    PlaybackState& p = playback;
    // A step already queued when the fade was ended.
    if (!p.fadeTimer)
        return;
    const double progress = fadeProgressAt(monotonicNow() - start, length);
    p.fadeProgress = progress;
    if (p.fadingOut)
        p.fadingOut->setVolume(p.fadeOldBase * float(1.0 - progress));
    if (p.audio)
        p.audio->setVolume(effVol() * float(progress));
    if (progress >= 1.0) {
        endFade();
        applyVolume();
    }
}

double App::monotonicNow() const {
    return services.clock->monotonic();
}

} // namespace ql
