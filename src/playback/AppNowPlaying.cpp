// ---- playback: Now Playing and the media commands ----
//
// publish() tells the desktop what plays (title, artist, album, duration,
// elapsed time, playing or paused) after every change a viewer can see; the
// tick also calls it every second. registerRemote() offers the desktop's
// media commands (media keys, headphone buttons, the desktop's player widget)
// and turns each into a transport action. The platform object behind them is
// platform.nowPlaying (MPRIS in the program, a recording one in tests); without
// one, all three do nothing.
//
// A command's work is queued to the main thread and the desktop answered at
// once: the desktop must not wait for a track to start, and a command never
// runs inside another action. The callbacks hold the controller weakly, so a
// command arriving after it is gone is dropped.
#include "app/App.h"

#include "app/Delivery.h"
#include "app/SettingLimits.h"
#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/NowPlayingStatus.h"
#include "ui/SeekSlider.h"

#include <QCoreApplication>
#include <QPointer>

namespace ql {

void App::registerRemote() {
    platform::NowPlaying* center = platform.nowPlaying.get();
    if (!center)
        return;
    const QPointer<App> self(this);
    const auto queued = [delivery = Delivery(this)](std::function<void(App&)> work) {
        return [delivery, work = std::move(work)] { delivery.post(work); };
    };
    platform::RemoteCommands c;
    c.togglePlayPause = queued([](App& app) { app.toggle(); });
    // Play resumes, or starts the current or the first visible track.
    c.play = queued([](App& app) {
        if (!app.isPlaying())
            app.toggle();
    });
    // Stop has no counterpart in the player: it pauses, as Pause does.
    c.pause = c.stop = queued([](App& app) {
        if (app.isPlaying())
            app.toggle();
    });
    c.next = queued([](App& app) { app.next(); });
    c.previous = queued([](App& app) { app.previous(); });
    c.changePosition = [queued](double seconds) {
        queued([seconds](App& app) {
            // Like every seek, it lets the prepared next player go first.
            app.cancelPrepared();
            app.setAudioTime(seconds);
            app.publish();
        })();
    };
    c.raise = queued([](App& app) { app.applicationShouldHandleReopen(); });
    c.quit = queued([](App&) { QCoreApplication::quit(); });
    // Read when a client asks, never queued.
    c.position = [self]() -> std::optional<double> {
        return self ? self->audioCurrentTime() : std::nullopt;
    };
    c.volume = [self] {
        return self && self->views.volume ? self->views.volume->doubleValue() / 100.0 : 0.0;
    };
    c.speed = [self] { return self ? playbackSpeed(self->playback.playRate) : 1.0; };
    center->registerCommands(std::move(c));
}

void App::publish() {
    platform::NowPlaying* center = platform.nowPlaying.get();
    const std::optional<Track>& track = playback.current;
    if (!center || !track)
        return;
    const bool playing = isPlaying();
    platform::NowPlayingInfo info;
    info.trackId = track->id;
    info.title = track->title;
    info.artist = track->artist;
    info.album = track->album;
    // Until a player is loaded (a decode or render still running) the
    // catalog's duration stands in, and nothing has elapsed.
    info.duration = audioDuration().value_or(track->duration);
    info.elapsed = audioCurrentTime().value_or(0.0);
    // The speed is not reflected: 1 while playing, at any speed.
    info.rate = playing ? 1.0 : 0.0;
    center->publish(info, playsAsAsked(*this) ? platform::PlaybackStatus::Playing
                                              : platform::PlaybackStatus::Paused);
}

bool playsAsAsked(const App& app) {
    // A track asked for and still being prepared (its file opened, rendered
    // or decoded) is reported as playing: nobody paused it. Nothing elapses
    // meanwhile. So is one whose player found at its first read that the
    // decode road must play it, before its end hands it over, and one that
    // has played to its end while its end waits to be handled (on a busy
    // machine a tick may come first): what follows it publishes again.
    const PlaybackState& p = app.playback;
    return app.isPlaying() || p.loading ||
           (p.audio && (app.readsOnAnotherRoad(*p.audio) || p.audio->endPending()));
}

void App::clearNowPlaying() {
    if (platform::NowPlaying* center = platform.nowPlaying.get())
        center->clear();
}

} // namespace ql
