// ---- playback: the play request and the direct road ----
//
// play() is the one entry that starts a track, whoever asks (the table, the
// transport, the end of a track, opened files, the remote). It does the
// bookkeeping of a track change — history, generation, the previous player
// stopped, the title, the per-track resets — and then takes the direct road
// (the cover, the other labels, the lyrics, the waveform and the look ahead
// come after it, so that none of them delays the first frame): our
// player opens the file itself, or the render of it that the effects prefetch
// left in the one-entry cache. When there is no direct source (the track
// needs processing and no render of it is cached), or the player cannot open
// or start it, or its file fails at its first read before anything is heard
// (an MP3 libsndfile cannot play whole is found out there, on the reading
// thread; audioPlayerDidFinishPlaying), a fallback road takes over without a
// word, because it reports its own outcome: the effects render when the track
// needs processing, else the ffmpeg decode (AppRoads.cpp).
//
// The direct road ends before play() returns, playing or handed over; a
// fallback road ends later and is dropped if a newer request has bumped the
// generation meanwhile. A gapless successor takes over without a request
// (promotePrepared): its player was prepared and bound by the gapless check.
// A request lets any other prepared next player go, except one opened ahead
// on the very file it plays, which its direct road takes.
//
// A cached render whose player cannot be made is deleted at once: it has left
// the cache and is not the current track's file, so nothing else would ever
// delete it.
//
// A player gets rate control only for a speed other than 1x: without it no
// time-stretch stage is in its path, so normal speed stays bit-exact.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/SettingLimits.h"
#include "listening/LyricsPanel.h"
#include "platform/Platform.h"
#include "platform/audio/AudioFile.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/Transport.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/TimeText.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <utility>

namespace ql {

namespace {

// What every track start resets, whichever road it takes: a play request
// (before its road is chosen) and a take-over by a prepared player (gapless
// or crossfade) alike. Cheap, and needed before the new player is set up:
// its volume reads the loudness, whose measurement starts here.
void resetTrackState(App& app, const Track& track) {
    PlaybackState& p = app.playback;
    // What the window showed of the previous player goes with it.
    p.shownAt = 0;
    p.stoppedAt.reset();
    p.withoutProcessing = false;
    p.gaplessSkipped = -1;
    p.playedSecs = 0;
    p.counted = false;
    p.crossSkipped = -1;
    p.abA.reset();
    p.abB.reset();
    app.abButton->setText(QStringLiteral("A-B 반복"));
    app.ensureLoudness(track);
}

// What the window shows of a new track, and the look ahead. A play request
// does this once its road has started: on a busy machine the labels, the
// lyrics, the waveform and the probes they start cost more than the frames
// of silence a listener would hear between two tracks.
void trackSideWork(App& app, const Track& track) {
    app.updateFavButton();
    app.lyricsPanel->setTrack(track);
    app.loadWaveform(track);
    app.updateInfoLabels(track);
    app.refreshDACLabel();
    // Looked at now so that the next track change finds its loudness known
    // and its render cached, and so takes the direct road. A take-over asks
    // too: a track that needs no processing may be followed by one that does
    // (upsampling decides per source rate), and it would otherwise be
    // rendered only once its turn came, after a silence. The tick looks
    // again whenever the successor changes later.
    app.playback.aheadAim.reset();
    app.aimLookAhead();
}

} // namespace

// A player destroyed first takes the call with it.
void App::watchEnd(platform::AudioPlayer& player) {
    QPointer<App> self(this);
    player.onFinished = [self, &player](bool successfully) {
        if (self)
            self->audioPlayerDidFinishPlaying(player, successfully);
    };
}

void App::play(const Track& requested) {
    PlaybackState& p = playback;
    // The request's one wait for its files' answers, shared by a request it
    // makes in turn (a road that failed at once moving on).
    struct Waits {
        PlaybackState& p;
        const bool outer = !p.requestWaits;
        explicit Waits(PlaybackState& state) : p(state) {
            if (outer) {
                p.requestWaits.emplace();
                p.requestWaits->since.start();
                p.requestBegan = std::chrono::steady_clock::now();
            }
        }
        ~Waits() {
            if (outer)
                p.lastWaits = *std::exchange(p.requestWaits, std::nullopt);
        }
        Waits(const Waits&) = delete;
        Waits& operator=(const Waits&) = delete;
    } waits(p);
    services.observer->playRequest(requested);
    // A copy: the request may name a track held in the state changed here.
    const Track track = requested;
    // A position kept for a rebuild of the current track belongs to it alone.
    if (!p.current || p.current->id != track.id)
        p.pendingSeek.reset();
    // A rate probe of the file that was cut short may be asked again.
    p.rateCutShort.remove(track.path);

    recordHistory(p.history, p.current ? std::optional(p.current->id) : std::nullopt, track.id,
                  p.goingBack);
    p.goingBack = false;
    p.endHeld = false;
    const quint64 generation = ++p.generation;
    qCDebug(lcPlayback, "play track %lld (request %llu): %s", static_cast<long long>(track.id),
            static_cast<unsigned long long>(generation), qUtf8Printable(track.path));
    // Whether its decode made ahead still stands for its file is asked of
    // the file's reader now, and answered while the request sets up.
    if (p.decodeAhead && p.decodeAhead->file && p.decodeAhead->source == track.path)
        askStampCheck();

    // Its ffmpeg is killed and its output deleted now; a render overtaken
    // ends the same way.
    if (const std::optional<RoadDecode> overtaken = std::exchange(p.roadDecode, std::nullopt))
        stopDecode(overtaken->job);
    stopRoadRender();
    // Its decoder thread is not waited for: the new track starts first. Any
    // successor it could hand its stages to is cancelled below with it.
    retirePlayer(std::move(p.audio), DecoderEnd::WithPlayer);
    // Its decoded or rendered file goes with it now, not when another file
    // plays: skipping through tracks that wait for their decodes must not
    // keep the room of one nobody hears (the retired player closes it as
    // it goes).
    if (const std::optional<QString> made = std::exchange(p.cacheURL, std::nullopt))
        QFile::remove(*made);
    p.cacheNote.reset();
    p.loading = true;

    p.current = track;
    views.titleLabel->setText(track.title);
    views.artistLabel->setText(track.artist);
    views.playButton->setTitle(preparingTitle());
    showTrackStart(track);

    beginTrackExtras(track);
    takeRoad(track, generation);
    // Opened ahead for a request that took another road.
    cancelPrepared();
    // A road that failed at once may have moved on to another track.
    if (p.generation != generation)
        return;
    services.analysers->loadArt(*this, track);
    trackSideWork(*this, track);
    applyVolume();
    publish();
}

void App::showTrackStart(const Track& track) {
    // Until its player tells more, the bar shows the new track at its start:
    // a track that waits for its file, or is refused, must not show where
    // the track before it was.
    const double duration = std::max(track.duration, 0.0);
    views.elapsedLabel->setText(timeText(0));
    views.remainLabel->setText(duration > 0 ? QStringLiteral("-") + timeText(duration)
                                            : QStringLiteral("--:--"));
    seek->setMaximumValue(duration);
    seek->setDoubleValue(0);
    clock->setText(timeText(0) + QStringLiteral(" / ") + timeText(duration));
}

void App::takeRoad(const Track& track, quint64 generation) {
    PlaybackState& p = playback;
    openWaitEnded();
    // The track's file once its open has answered; `answered` says whether
    // `answer` holds it. (A flag beside a plain value: an optional of it
    // reads to the optimiser as a possibly uninitialised pointer.)
    FileOpen::Answer answer;
    bool answered = false;
    // Takes the answer of `path`'s open (AppFileOpens.cpp); false while it
    // is on its way (its answer takes the road again) and when it came too
    // late. A file that takes too long to open is refused, and told so: the
    // decode road would read its tags, or wait for its disk, just as long.
    const auto takeAnswer = [&](const QString& path) {
        std::optional<FileOpen::Answer> taken = openedFor(path, generation);
        if (!taken)
            return false;
        answer = std::move(*taken);
        answered = true;
        if (answer.tooSlow)
            endUnplayable(Failure::FileTooSlow, QFileInfo(track.path).fileName(),
                          "the file took too long to open");
        return !answer.tooSlow;
    };
    // With upsampling chosen the file's rate decides the road: the request
    // waits for its open first.
    if (rateAwaited(track) && !takeAnswer(track.path))
        return;
    // The render identity; none when the track plays unprocessed.
    const std::optional<QString> filter =
        !p.withoutProcessing && fxNeeded(track) ? fxChainActive() : std::nullopt;
    std::optional<QString> source;
    // A temporary file made ahead for the track (its render, or its decode)
    // that becomes `cacheURL` when it plays.
    std::optional<QString> madeAhead;
    std::optional<RenderNote> cachedNote;
    // Our reader refused the file, and no decode may read it either.
    bool keptFromFfmpeg = false;
    PreparedNext* ahead = p.preparedAs(PreparedNext::Kind::OpenedAhead);
    if (ahead && ahead->track.path != track.path)
        ahead = nullptr;
    if (!filter) {
        source = track.path;
        if (ahead)
            madeAhead = ahead->file;
        else if ((madeAhead = takeDecoded(track.path, p.requestBegan)))
            source = madeAhead;
    } else if (p.fxCache && p.fxCache->key == fxKey(track, *filter)) {
        madeAhead = p.fxCache->path;
        cachedNote = p.fxCache->note;
        source = madeAhead;
        p.fxCache.reset();
    }

    // A file opened ahead that this request will not play goes first: a
    // rate change below would otherwise make it decode again meanwhile.
    if (p.prepared && (filter || !source || !ahead)) {
        cancelPrepared();
        ahead = nullptr;
    }
    // The program's own decoded and rendered files hold no tags: they open
    // at once, where they are played.
    if (!source || ahead || madeAhead) {
        answer = {};
        answered = false;
    } else if (!answered) {
        if (!takeAnswer(*source))
            return;
        // Its rate, now known, calls for the effects road after all.
        if (!filter && !p.withoutProcessing && fxNeeded(track)) {
            takeRoad(track, generation);
            return;
        }
    }
    if (source) {
        if (answered)
            preMatchRate(answer.file ? answer.file->sampleRate() : 0);
        else if (ahead)
            preMatchRate(ahead->player->sourceSampleRate());
        else
            preMatch(*source);
        // Matching the device's rate may have let the player opened ahead go
        // (its decode back with the look ahead): the road is taken again,
        // which opens its file.
        if (ahead && !p.preparedAs(PreparedNext::Kind::OpenedAhead)) {
            takeRoad(track, generation);
            return;
        }
        platform::AudioPlayer::Opened opened;
        if (ahead)
            opened.player = std::move(std::exchange(p.prepared, std::nullopt)->player);
        else if (platform.outputs && answered)
            // A file our player reads as empty goes to the fallback road,
            // which either finds its samples or reports it.
            opened = platform::AudioPlayer::openPlayable(*platform.outputs, std::move(answer.file),
                                                         answer.error, answer.keptFromFfmpeg);
        else if (platform.outputs)
            opened = platform::AudioPlayer::openPlayable(*platform.outputs, *source);
        if (opened.player) {
            // The previous track's temporary file goes now that its
            // successor has a player; a file made ahead takes its place.
            if (p.cacheURL)
                QFile::remove(*p.cacheURL);
            p.cacheURL = madeAhead;
            p.cacheNote = cachedNote;
            setUpPlayer(std::move(opened.player));
            // A player that does not start stays in `audio` until the
            // fallback road replaces it.
            if (startPlayer()) {
                p.mayFallBack = true;
                if (cachedNote)
                    showRenderNote(cachedNote);
                qCDebug(lcPlayback, "track %lld plays on the direct road%s",
                        static_cast<long long>(track.id),
                        !madeAhead ? ""
                        : filter   ? ", from the effects render made ahead"
                                   : ", from its decode made ahead");
                return;
            }
            qCDebug(lcPlayback, "track %lld: the player did not start: %s",
                    static_cast<long long>(track.id), qUtf8Printable(p.audio->lastError()));
        } else {
            qCDebug(lcPlayback, "track %lld: our player does not open it: %s",
                    static_cast<long long>(track.id), qUtf8Printable(opened.error));
            keptFromFfmpeg = opened.keptFromFfmpeg && !madeAhead;
            if (madeAhead)
                QFile::remove(*madeAhead);
        }
    } else if (filter) {
        qCDebug(lcPlayback, "track %lld needs the effects and no render of it is ready",
                static_cast<long long>(track.id));
    }

    if (filter)
        startRenderRoad(track, generation);
    else if (keptFromFfmpeg)
        refuseUnreadable(track);
    else
        startDecodeRoad(track, generation);
}

void App::beginTrackExtras(const Track& track) {
    endFade();
    // Whatever was prepared for another file goes before anything of the
    // new track starts; one opened ahead on this file is the road's to take.
    if (const PreparedNext* ahead = playback.preparedAs(PreparedNext::Kind::OpenedAhead);
        !ahead || ahead->track.path != track.path)
        cancelPrepared();
    resetTrackState(*this, track);
}

void App::beginFadeKeep(const Track& track) {
    cancelPrepared();
    resetTrackState(*this, track);
    trackSideWork(*this, track);
}

bool App::preMatch(const QString& path) {
    if (!playback.rateMatchOn && !playback.bitPerfect)
        return true;
    // A file that does not open leaves the device rate alone; the player's
    // own open reports nothing either, and the roads take over.
    const platform::AudioFile::Opened file = platform::AudioFile::open(path);
    if (file.file)
        preMatchRate(file.file->sampleRate());
    return true;
}

void App::preMatchRate(double rate) {
    if ((playback.rateMatchOn || playback.bitPerfect) && rate > 0)
        services.desktop->matchDeviceRate(*this, rate);
}

bool App::matchOutputRate(platform::AudioPlayer& player) {
    // The chosen device's rate is left alone when the player is not on it.
    if (!bindPlayer(player))
        return false;
    if (playback.rateMatchOn || playback.bitPerfect) {
        const double rate = player.sourceSampleRate();
        if (rate > 0)
            services.desktop->matchDeviceRate(*this, rate);
    }
    return true;
}

void App::applySpeed(platform::AudioPlayer& player) const {
    const double speed = playbackSpeed(playback.playRate);
    player.setEnableRate(speed != 1.0);
    if (player.enableRate())
        player.setRate(float(speed));
}

void App::setUpPlayer(std::unique_ptr<platform::AudioPlayer> player) {
    PlaybackState& p = playback;
    // A player an earlier road left that would not start.
    retirePlayer(std::move(p.audio));
    p.audio = std::move(player);
    p.mayFallBack = false;
    platform::AudioPlayer& a = *p.audio;
    watchEnd(a);
    matchOutputRate(a);
    applySpeed(a);
    a.setVolume(effVol());
    a.prepareToPlay();
    if (p.pendingSeek) {
        a.setCurrentTime(*p.pendingSeek);
        p.pendingSeek.reset();
    }
}

bool App::startPlayer() {
    platform::AudioPlayer& a = *playback.audio;
    if (!a.play())
        return false;
    playback.loading = false;
    seek->setMaximumValue(a.duration());
    views.playButton->setTitle(playingTitle());
    wakeMeter();
    publish();
    tellSilentOutput();
    return true;
}

void App::promotePrepared(PreparedNext q) {
    PlaybackState& p = playback;
    if (p.current)
        appendHistory(p.history, p.current->id);
    // The outgoing player has reached its end; it must report nothing more.
    retirePlayer(std::move(p.audio));

    p.current = q.track;
    qCDebug(lcPlayback, "track %lld follows on its prepared player",
            static_cast<long long>(q.track.id));
    views.titleLabel->setText(q.track.title);
    views.artistLabel->setText(q.track.artist);
    services.analysers->loadArt(*this, q.track);

    p.audio = std::move(q.player);
    p.mayFallBack = true;
    // The track before has been heard to its end: its temporary file goes,
    // and the successor's decode made ahead, if it plays one, takes its place.
    if (p.cacheURL)
        QFile::remove(*p.cacheURL);
    p.cacheURL = q.file;
    p.cacheNote.reset();
    platform::AudioPlayer& a = *p.audio;
    watchEnd(a);
    seek->setMaximumValue(a.duration());
    if (!a.isPlaying())
        a.play();
    wakeMeter();
    views.playButton->setTitle(playingTitle());
    beginFadeKeep(q.track);
    applyVolume();
    publish();
}

void App::retirePlayer(std::unique_ptr<platform::AudioPlayer> player, DecoderEnd decoder) {
    if (!player)
        return;
    player->onFinished = nullptr;
    if (decoder == DecoderEnd::WithPlayer)
        player->retire();
    else
        player->stop();
    playback.retired.push_back(std::move(player));
    if (playback.retired.size() == 1)
        QMetaObject::invokeMethod(
            this, [this] { playback.retired.clear(); }, Qt::QueuedConnection);
}

} // namespace ql
