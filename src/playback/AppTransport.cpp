// ---- playback: transport actions and track succession ----
//
// Play/pause, next and previous, the seek slider, shuffle, restart and speed,
// and what the end of the current file leads to. Every action that changes
// what plays next or where playback stands first lets the prepared next
// player go (cancelPrepared), so that only the track the user chose plays.
//
// The arithmetic (where a step lands, the history walk, the end-of-file
// decision, the speed list) is the pure unit Transport.h.
//
// A player that ends with an error stays loaded where it stopped; the play
// button turns back to play, since nothing plays any more. Two exceptions:
// a track's own file that cannot be read from its start goes to the fallback
// road, and a prepared successor that cannot be read is taken back.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/FfmpegGate.h"
#include "playback/Transport.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <utility>

namespace ql {

void App::makePlaybackControls() {
    ratePopup = new QComboBox;
    connect(ratePopup, &QComboBox::activated, this, &App::rateChanged);
    for (QCheckBox** box : {&maxBox, &bitBox, &gaplessBox, &rateBox, &crossfadeBox, &levelingBox})
        *box = new QCheckBox;
    for (QCheckBox* box : {maxBox, bitBox, gaplessBox, rateBox})
        connect(box, &QCheckBox::clicked, this, &App::playbackModeToggled);
    upPopup = new QComboBox;
    connect(upPopup, &QComboBox::activated, this, &App::upChanged);
    abButton = new QPushButton;
    // The tools panel gives it its menu (items 1…5 call sleepChanged).
    sleepPopup = new QToolButton;
    seek->action = [this] { seekChanged(); };
}

void App::toggle() {
    PlaybackState& p = playback;
    if (p.loading)
        return;
    p.endHeld = false;
    // Only the new player of a crossfade is left to pause or resume.
    if (p.fadingOut) {
        endFade();
        applyVolume();
    }
    if (p.audio) {
        const long long id = p.current ? p.current->id : -1;
        if (p.audio->isPlaying()) {
            qCDebug(lcPlayback, "pause track %lld at %.2f s", id, p.audio->currentTime());
            cancelPrepared();
            p.audio->pause();
            setHog(false, std::nullopt);
        } else {
            qCDebug(lcPlayback, "resume track %lld at %.2f s", id, p.audio->currentTime());
            if (p.hogOn && p.bitPerfect)
                setHog(true, std::nullopt);
            // A player whose device failed under it ended, and would start
            // over: it goes on where it stood instead.
            if (p.stoppedAt)
                p.audio->setCurrentTime(*p.stoppedAt);
            if (p.audio->play())
                p.stoppedAt.reset();
            wakeMeter();
        }
        views.playButton->setTitle(p.audio->isPlaying() ? playingTitle() : stoppedTitle());
        publish();
        return;
    }
    if (p.current)
        play(*p.current);
    else if (!browser.filtered.empty())
        play(browser.filtered.front());
}

bool App::isPlaying() const {
    return playback.audio && playback.audio->isPlaying();
}

void App::next() {
    skip(1);
}

void App::skip(int by) {
    // A successor armed to follow gaplessly may have been taken off the radio
    // queue: it goes back to the queue's front before the queue is read, or
    // Next would play the track after it. A player opened ahead takes nothing
    // from the queue and stays for the request to use when it is that track's.
    if (playback.preparedAs(PreparedNext::Kind::Scheduled))
        cancelPrepared();
    if (by > 0) {
        if (const std::optional<Track> radio = popRadio()) {
            play(*radio);
            return;
        }
    }
    const std::optional<qint64> current =
        playback.current ? std::optional(playback.current->id) : std::nullopt;
    if (const std::optional<std::size_t> i = skipIndex(browser.filtered, current, by))
        play(browser.filtered[*i]);
}

void App::previous() {
    PlaybackState& p = playback;
    if (p.audio && p.audio->currentTime() > kRewindAfter) {
        cancelPrepared();
        p.audio->setCurrentTime(0);
        publish();
        return;
    }
    if (!p.shuffled) {
        skip(-1);
        return;
    }
    // The visible list is in random order: go back through what was played.
    if (const std::optional<std::size_t> i = takeHistoryBack(p.history, browser.filtered)) {
        p.goingBack = true;
        play(browser.filtered[*i]);
    }
}

void App::seekChanged() {
    cancelPrepared();
    setAudioTime(seek->doubleValue());
    publish();
}

void App::toggleShuffle() {
    // A new order: the track prepared to follow is the old order's.
    cancelPrepared();
    playback.shuffled = true;
    UserDefaults().set(keys::kShuffle, true);
    filter(true);
}

void App::audioPlayerDidFinishPlaying(const platform::AudioPlayer& player, bool successfully) {
    PlaybackState& p = playback;
    if (!successfully && p.prepared && &player == p.prepared->player.get()) {
        // A successor that cannot be read: the ordinary road plays the
        // track when its turn comes (and the check does not prepare it again).
        if (p.current)
            p.gaplessSkipped = p.current->id;
        cancelPrepared();
        return;
    }
    if (!successfully && readsOnAnotherRoad(player)) {
        qCDebug(lcPlayback, "track %lld: its first read failed: %s",
                static_cast<long long>(p.current->id), qUtf8Printable(player.readError()));
        p.mayFallBack = false;
        p.loading = true;
        views.playButton->setTitle(preparingTitle());
        if (!p.withoutProcessing && fxNeeded(p.current) && fxChainActive())
            startRenderRoad(*p.current, p.generation);
        // Asked when its file was opened (no disk is touched here): read
        // through the mask or past its tags, and no further.
        else if (platform::FfmpegGate::known(p.current->path).value_or(false))
            refuseUnreadable(*p.current, true);
        else
            startDecodeRoad(*p.current, p.generation);
        return;
    }
    const FileEndFacts facts{&player == p.audio.get(), successfully, p.repeatOn,
                             p.current.has_value(),
                             p.preparedAs(PreparedNext::Kind::Scheduled) != nullptr};
    switch (fileEndAction(facts)) {
    case FileEnd::Ignore:
        return;
    case FileEnd::Replay:
        play(*p.current);
        return;
    case FileEnd::Promote:
        promotePrepared(std::move(*std::exchange(p.prepared, std::nullopt)));
        return;
    case FileEnd::ReportError: {
        QString why = player.readError().isEmpty() ? player.lastError() : player.readError();
        // Not the file: the output stopped under the player (its device lost
        // or failed), which leaves no text of its own. Play goes on from the
        // position shown.
        if (player.readError().isEmpty()) {
            p.stoppedAt = p.shownAt;
            if (why.isEmpty())
                why = QStringLiteral("the output device stopped playing (lost or failed) at %1 s")
                          .arg(p.shownAt, 0, 'f', 1);
        }
        qCWarning(lcPlayback, "playback stopped by an error");
        cancelPrepared();
        qCDebug(lcPlayback, "the player's error: %s", qUtf8Printable(why));
        views.playButton->setTitle(stoppedTitle());
        status->setFailure(L10n::tr(QStringLiteral("재생 중 오류가 발생했습니다.")));
        return;
    }
    case FileEnd::Next:
        // The list is still being built: what follows comes with it.
        if (successorAwaited()) {
            p.endHeld = true;
            views.playButton->setTitle(stoppedTitle());
            publish();
            return;
        }
        next();
        return;
    }
}

bool App::readsOnAnotherRoad(const platform::AudioPlayer& player) const {
    const PlaybackState& p = playback;
    return &player == p.audio.get() && p.mayFallBack && p.current && player.currentTime() <= 0 &&
           !player.readError().isEmpty();
}

void App::cancelPrepared() {
    std::optional<PreparedNext> gone = std::exchange(playback.prepared, std::nullopt);
    if (!gone)
        return;
    // The radio must not lose the track it had handed out.
    if (gone->fromRadio)
        listening.radioQueue.prepend(gone->track.id);
    // A player opened ahead was never started: the action that lets it go
    // (a track change among them) must not stall on its decoder. A scheduled
    // successor may be taking the current player's stages, a hand-over that
    // settles first.
    retirePlayer(std::move(gone->player), gone->kind == PreparedNext::Kind::OpenedAhead
                                              ? DecoderEnd::WithPlayer
                                              : DecoderEnd::Now);
    if (gone->file)
        giveBackDecoded(gone->track.path, *gone->file);
}

void App::endFade() {
    PlaybackState& p = playback;
    // The fade's own step may end it: the timer goes once its call is over.
    if (QTimer* timer = p.fadeTimer.release()) {
        timer->stop();
        timer->deleteLater();
    }
    retirePlayer(std::move(p.fadingOut));
    p.fadeProgress = 1.0;
}

void App::restartTrack() {
    cancelPrepared();
    setAudioTime(0);
    publish();
}

void App::rateChanged() {
    PlaybackState& p = playback;
    const double speed = speedAt(ratePopup->currentIndex());
    p.playRate = speed;
    UserDefaults().set(keys::kPlayRate, speed);
    if (!p.audio)
        return;
    cancelPrepared();
    // A player made without rate control cannot change speed: rebuild it at
    // the same place.
    if (speed != 1.0 && !p.audio->enableRate() && p.current) {
        p.pendingSeek = p.audio->currentTime();
        play(*p.current);
    } else if (p.audio->enableRate()) {
        p.audio->setRate(float(speed));
    }
}

std::optional<double> App::audioDuration() const {
    if (!playback.audio)
        return std::nullopt;
    return playback.audio->duration();
}

void App::setAudioTime(double seconds) {
    if (!playback.audio)
        return;
    playback.audio->setCurrentTime(seconds);
    // A player stopped by its device goes on from the new place.
    if (playback.stoppedAt)
        playback.stoppedAt = playback.audio->currentTime();
}

std::optional<double> App::audioCurrentTime() const {
    if (!playback.audio)
        return std::nullopt;
    if (playback.stoppedAt && !playback.audio->isPlaying())
        return playback.stoppedAt;
    return playback.audio->currentTime();
}

} // namespace ql
