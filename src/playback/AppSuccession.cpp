// ---- succession: which track plays next, and its gapless arming ----
//
// gaplessCheck() runs on every tick. A few seconds before the playing track
// ends it opens a second player on the successor, binds it to the chosen
// device and schedules its start on that device's clock at the exact end of
// the playing file; the player's end then promotes it (promotePrepared, in
// AppPlayRequest.cpp) and the device plays the two files back to back.
//
// One player at a time is prepared on the next track (playback.prepared):
// that scheduled successor, or a player opened ahead (openAhead) when no
// gapless join or crossfade will make the transition. A player opened ahead
// is let go when the gapless check comes to arm a successor after all.
//
// When arming is impossible — no successor, the successor is the playing
// track itself, it needs processing, its file does not open or holds no
// samples (the ordinary road then tells that it cannot be played), the chosen
// device refuses it, or in bit-perfect mode its rate is more than 1 Hz from
// the playing one — the track is marked in `gaplessSkipped` and the ordinary
// end-of-track road plays the next track (re-matching the device rate where
// needed). The mark keeps the check from trying again on every tick.
//
// A successor the radio queue gave is taken off the queue at arming, with
// the ids naming no track that stood in front of it (the next-track action
// would have dropped those too); a cancelled arming gives only its own id
// back. Taking just a head equal to the successor would leave its id queued
// behind an unresolvable one, and the track would play twice in a row.
//
// A first run started with files shows only those files until the
// backend's first catalog comes (a second or two). While it has not come,
// the end of the last of them does not start the first again: it waits
// (playback.endHeld) and plays the track that follows once a scan's list
// has one after it, or the scan has ended (resumeHeldEnd). The gapless check
// and the crossfade's wait for it too, rather than mark the track as one
// that cannot be joined, so a track still playing when it comes is joined
// as usual.
//
// With crossfade in effect, or while a fade runs (AppCrossfade.cpp), the
// crossfade makes the transition. A track the effects chain must process
// (fxNeeded: effects on, or upsampling to a higher device rate) is rendered
// first, so it never joins gaplessly: both checks here stand aside for it.
#include "app/App.h"

#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/Succession.h"

#include <utility>

namespace ql {

std::optional<Track> App::peekNext() const {
    return ql::peekNext(listening.radioQueue, library.rows, browser.filtered, playback.current);
}

bool App::successorAwaited() const {
    return library.listAwaited &&
           nextWrapsAround(listening.radioQueue, library.rows, browser.filtered, playback.current);
}

void App::resumeHeldEnd() {
    PlaybackState& p = playback;
    if (!p.endHeld || successorAwaited())
        return;
    p.endHeld = false;
    // Still where the track ended (a play request or the play button
    // would have let the wait go).
    if (p.audio && !p.audio->isPlaying() && !p.loading)
        next();
}

void App::gaplessCheck() {
    PlaybackState& p = playback;
    if (!p.gaplessOn || p.repeatOn)
        return;
    // With crossfade in effect the crossfade makes the transition.
    if (crossfadeInEffect())
        return;
    if (p.preparedAs(PreparedNext::Kind::Scheduled) || p.fadingOut)
        return;
    if (!p.audio || !p.audio->isPlaying() || p.loading || !p.current)
        return;
    // Asked last: with upsampling chosen it reads the device's rates, which
    // a paused or loading player has no need of.
    if (fxNeeded(p.current))
        return;
    platform::AudioPlayer& a = *p.audio;
    const double duration = a.duration();
    if (duration <= 5.0 || p.gaplessSkipped == p.current->id)
        return;
    const double rate = a.enableRate() ? double(a.rate()) : 1.0;
    const double left = listeningLeft(duration, a.currentTime(), rate);
    if (!inArmingWindow(left) || successorAwaited())
        return;
    // The end on the device's clock, read with the position it comes from:
    // opening and filling the successor below takes a while (a stretcher
    // is built at another speed), and a clock read after that, plus the time
    // left before it, asks for a start that much past the end, outside the
    // window in which the engine joins the two, so the gap would be heard.
    const double endsAt = a.deviceCurrentTime() + left;
    const qint64 currentId = p.current->id;
    const std::optional<Track> next = peekNext();
    // Whether it is rendered waits for its rate: the next tick looks again.
    if (next && next->id != currentId && rateAwaited(*next))
        return;

    // A player opened ahead while no join could be armed (the list still
    // awaited, say): the join replaces it, and its decode made ahead goes
    // back to the look ahead for the successor to take.
    cancelPrepared();
    platform::AudioPlayer::Opened opened;
    if (next && next->id != currentId && !fxNeeded(next) && platform.outputs) {
        bool later = false;
        const std::optional<QString> file = fileAhead(*next, later);
        // Its decode made ahead, or the open of its file, is not ready yet:
        // the next tick looks again.
        if (later)
            return;
        if (file)
            opened.player = playerOf(*next, *file, later);
        if (later)
            return;
    }
    if (!opened.player) {
        p.gaplessSkipped = currentId;
        return;
    }
    platform::AudioPlayer& successor = *opened.player;

    // Bit-perfect output runs the device at the playing file's rate; a
    // successor at another rate waits for the ordinary road, which re-matches
    // the device first. A rate that cannot be read does not refuse.
    if (p.bitPerfect && bitPerfectRefuses(a.sourceSampleRate(), successor.sourceSampleRate())) {
        p.gaplessSkipped = currentId;
        return;
    }

    applySpeed(successor);
    successor.setVolume(effVol(next));
    // Refused by the chosen device, the successor would start on another one
    // at a time read from the playing device's clock: give up as for a file
    // that does not open.
    if (!bindPlayer(successor)) {
        retirePlayer(std::move(opened.player));
        p.gaplessSkipped = currentId;
        return;
    }
    successor.prepareToPlay();

    const bool fromRadio = takeRadioHead(listening.radioQueue, library.rows, next->id);
    if (!successor.playAt(endsAt)) {
        // Output could not start: the ordinary road will try and report.
        if (fromRadio)
            listening.radioQueue.prepend(next->id);
        p.gaplessSkipped = currentId;
        return;
    }
    // Its failure before its start is seen (and takes it back).
    watchEnd(successor);
    p.prepared = PreparedNext{PreparedNext::Kind::Scheduled, *next, std::move(opened.player),
                              fromRadio, takeDecoded(next->path, freshCheckSince())};
}

void App::openAhead() {
    PlaybackState& p = playback;
    if (p.prepared || p.fadingOut || !p.audio || !p.audio->isPlaying() || p.loading || !p.current)
        return;
    platform::AudioPlayer& a = *p.audio;
    const double rate = a.enableRate() ? double(a.rate()) : 1.0;
    if (!inArmingWindow(listeningLeft(a.duration(), a.currentTime(), rate)))
        return;
    // Where the crossfade check would fade into the next track (it stands
    // aside on repeat, for a track it gave up on and for a processed one).
    if (crossfadeInEffect() && p.crossSkipped != p.current->id && !fxNeeded(p.current))
        return;
    // What the end of the track asks for: the same track on repeat.
    const std::optional<Track> next = p.repeatOn ? p.current : peekNext();
    // A track that needs processing plays a render, never this file.
    if (!next || rateAwaited(*next) || fxNeeded(next) || !platform.outputs)
        return;
    // Its own file once it has opened, or its decode made ahead once that
    // is ready.
    bool later = false;
    const std::optional<QString> file = fileAhead(*next, later);
    if (!file)
        return;
    platform::AudioPlayer::Opened opened;
    opened.player = playerOf(*next, *file, later);
    if (!opened.player)
        return;
    platform::AudioPlayer& ahead = *opened.player;
    applySpeed(ahead);
    ahead.setVolume(effVol(next));
    // Decoded ahead only at the rate the device keeps: a file the device
    // will be re-matched for is decoded again at its new rate anyway.
    const bool rateKept = !(p.rateMatchOn || p.bitPerfect) ||
                          !bitPerfectRefuses(a.sourceSampleRate(), ahead.sourceSampleRate());
    if (rateKept && bindPlayer(ahead))
        ahead.prepareToPlay();
    p.prepared = PreparedNext{PreparedNext::Kind::OpenedAhead, *next, std::move(opened.player),
                              false, takeDecoded(next->path, freshCheckSince())};
}

} // namespace ql
