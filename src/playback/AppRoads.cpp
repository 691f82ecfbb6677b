// ---- playback: the fallback roads of a play request ----
//
// The effects-render road: the track needs processing and no render of it
// is cached, so a render job renders the whole track (renderFXBlocking) with
// the chain and plug-ins taken when the road starts, and the result plays
// when it arrives. The decode road: the track needs no processing but our
// player cannot read or start it, so a decode job (AppDecodeAhead.cpp)
// decodes its first audio stream to "Quavelark-<UUID>.caf" (32-bit float)
// and that file plays; a play request that overtakes it stops it.
//
// A render that dropped a stage (a plug-in that did not load, an upsampling
// that failed) still plays, but says which stage is missing in place of
// "🎛 사운드 효과 적용됨".
//
// Both hand their result to the main thread, where it is used only if no
// newer play request has come (the generation); an overtaken completion
// deletes its own file and touches nothing else. A file that plays becomes
// `cacheURL`; the previous track's one went with the request (play()). A
// newer request stops the road it overtakes: a render's or a
// decode's ffmpeg is killed and its files deleted at once, so skipping
// through tracks leaves no writer running for a track nobody will hear.
//
// Every failure ends the request visibly: a message and the play button back
// to play, never "준비 중…" left standing. A decoded or rendered file that
// holds no samples is such a failure (the source could not be read), not a
// track that ends at once: that end would ask for the next track, the same
// one when it stands alone, without end. A file from which no player can be
// made is deleted at once, since nothing else would ever delete it.
//
// Outputs still being produced are registered in `playback.inFlight`, so the
// quit can delete them; a completion takes its file back from there first
// (and leaves it alone when the quit already took it).
//
// The observer can take a road's place (Observer::fallbackRoad); the decode
// road runs Tools::decodeProgram and the render Analysers::renderFX.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/DecodeCommand.h"
#include "app/FailureText.h"
#include "effects/FXPanel.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/FfmpegGate.h"
#include "playback/Transport.h"
#include "ui/PlayButton.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

namespace ql {

namespace {

const char* const kRendering = "🎛 사운드 효과 적용 중…";
const char* const kRendered = "🎛 사운드 효과 적용됨";
const char* const kRenderFailed = "효과 처리에 실패했습니다. 효과를 끄고 다시 시도하세요.";
const char* const kDecodeFailed = "파일을 재생할 수 없습니다. 디스크 연결과 포맷을 확인하세요.";
const char* const kOutputFailed = "오디오 출력을 시작할 수 없습니다.";
// The work folder's fault, the folder's name after each.
const char* const kNoRoomToPlay = "작업 폴더에 공간이 없어 이 파일을 재생할 수 없습니다: ";
const char* const kNoFileToPlay = "작업 폴더에 파일을 만들 수 없어 이 파일을 재생할 수 없습니다: ";
const char* const kNoRoomUnprocessed = "작업 폴더에 공간이 없어 효과·업샘플링 없이 재생합니다: ";
const char* const kNoFileUnprocessed =
    "작업 폴더에 파일을 만들 수 없어 효과·업샘플링 없이 재생합니다: ";
// A file ffmpeg may not read (FfmpegGate), the file's name after it.
const char* const kCrowdedUnprocessed = "태그가 너무 많은 파일이라 효과·업샘플링 없이 재생합니다: ";

// What the status line says of a track that plays without processing
// because ffmpeg may not read its file.
QString crowdedText(const App& app) {
    return L10n::tr(QString::fromUtf8(kCrowdedUnprocessed)) +
           (app.playback.current ? QFileInfo(app.playback.current->path).fileName() : QString());
}

// What the status line says of a work folder that took no file: `toPlay`
// when the track cannot be played, else when it plays without processing.
QString workFaultText(const App& app, WorkFileFault fault, bool toPlay) {
    const char* text = fault == WorkFileFault::NoRoom
                           ? (toPlay ? kNoRoomToPlay : kNoRoomUnprocessed)
                           : (toPlay ? kNoFileToPlay : kNoFileUnprocessed);
    // The base the user can look at, not this run's own folder in it.
    return L10n::tr(QString::fromUtf8(text)) + app.workBase();
}

// The road ends without playing: the message, and the play button back to
// play. A seek waiting for this road's player dies with it: it must not move
// the next track.
void endRoad(App& app) {
    // A track told to play without processing that then does not play at
    // all: that word is no longer true and gives way to the failure.
    for (const WorkFileFault fault : {WorkFileFault::NoRoom, WorkFileFault::NotMade})
        app.status->withdraw(workFaultText(app, fault, false));
    app.status->withdraw(crowdedText(app));
    app.playback.loading = false;
    app.playback.pendingSeek.reset();
    app.views.playButton->setTitle(stoppedTitle());
    // The desktop was told the track plays while it was prepared.
    app.publish();
}

// What a maintainer reads of a road that ended without playing; `why` in
// English, without a path.
void logFailed(const App& app, const char* why) {
    qCWarning(lcPlayback, "track %lld did not play: %s",
              static_cast<long long>(app.playback.current ? app.playback.current->id : -1), why);
}

// `message` is a Korean interface text.
void endFailed(App& app, const QString& message, const char* why) {
    logFailed(app, why);
    app.status->setFailure(L10n::tr(message));
    endRoad(app);
}

// A cause and the program or file it concerns, the name shown as it is.
void endFailed(App& app, Failure cause, const QString& name, const char* why) {
    logFailed(app, why);
    qCDebug(lcPlayback, "%s: %s", why, qUtf8Printable(name));
    app.status->setFailure(failureText(cause, name));
    endRoad(app);
}

enum class Adopted { Playing, NoPlayer, NoSamples, NotStarted };
struct Adoption {
    Adopted outcome;
    QString unreadable; // for NoPlayer: the name of the file no player opens
};

// Plays `file` as the current track's temporary file. A file from which no
// player can be made is deleted; a player that does not start stays `audio`
// and its file `cacheURL`.
Adoption adoptAndPlay(App& app, const QString& file) {
    PlaybackState& p = app.playback;
    app.preMatch(file);
    platform::AudioPlayer::Opened opened;
    if (app.platform.outputs)
        opened = platform::AudioPlayer::openPlayable(*app.platform.outputs, file);
    if (!opened.player) {
        QFile::remove(file);
        // Nothing came out of the source.
        if (opened.noSamples)
            return {Adopted::NoSamples, {}};
        return {Adopted::NoPlayer, QFileInfo(file).fileName()};
    }
    if (p.cacheURL)
        QFile::remove(*p.cacheURL);
    p.cacheURL = file;
    p.cacheNote.reset();
    app.setUpPlayer(std::move(opened.player));
    return {app.startPlayer() ? Adopted::Playing : Adopted::NotStarted, {}};
}

} // namespace

void App::endUnplayable(Failure cause, const QString& name, const char* why) {
    endFailed(*this, cause, name, why);
}

void App::startRenderRoad(const Track& track, quint64 generation) {
    qCDebug(lcPlayback, "track %lld takes the effects road: rendered whole, then played",
            static_cast<long long>(track.id));
    if (services.observer->fallbackRoad("render", track, generation))
        return;
    status->setStringValue(L10n::tr(QString::fromUtf8(kRendering)));
    playback.renderStatusMark = status->manualCount();
    // Taken now: a later change of the effects does not reach this render.
    const RenderSnapshot snapshot = renderSnapshot(track);
    stopRoadRender();
    playback.roadRenderStop = snapshot.stop;
    queueRender(snapshot, false, [this, generation](const RenderResult& result) {
        renderFinished(result, generation);
    });
}

void App::stopRoadRender() {
    if (const std::shared_ptr<platform::ChildStop> stop =
            std::exchange(playback.roadRenderStop, nullptr))
        stop->request();
}

void App::renderFinished(const RenderResult& result, quint64 generation) {
    PlaybackState& p = playback;
    const std::optional<QString>& url = result.file;
    // The quit deleted it already: nothing of it is ours any more.
    if (url && !p.inFlight->take(*url))
        return;
    // Compared here rather than dropped on the way back: an overtaken render
    // still has its file to delete.
    if (generation != p.generation) {
        if (url)
            QFile::remove(*url);
        return;
    }
    p.roadRenderStop.reset();
    p.loading = false;
    if (!url) {
        // The work folder's fault, not the effects': the track plays without
        // them, when our player reads it at all.
        if (result.workFault != WorkFileFault::None) {
            playUnprocessed(workFaultText(*this, result.workFault, false),
                            result.workFault == WorkFileFault::NoRoom ? "no room" : "not made",
                            generation);
            return;
        }
        // Nor is a file ffmpeg may not read: it plays as it is, or is
        // refused as unreadable.
        if (result.keptFromFfmpeg) {
            playUnprocessed(crowdedText(*this), "ffmpeg may not read its source", generation);
            return;
        }
        // A source that cannot be read is told as such whichever road met
        // it: turning the effects off would not help.
        if (result.tooSlow && p.current)
            endFailed(*this, Failure::FileTooSlow, QFileInfo(p.current->path).fileName(),
                      "the render's source did not answer in time");
        else if (result.sourceUnreadable)
            endFailed(*this, QString::fromUtf8(kDecodeFailed), "the render cannot read its source");
        else
            endFailed(*this, QString::fromUtf8(kRenderFailed), "the effects render failed");
        return;
    }
    // A message shown while the render ran (the list a tile click made, say)
    // keeps the line while it holds: the note gives way. Decided before the
    // rendered file starts, since starting it may say something of its own
    // (the device's rate or format matched to the file), which must not pass
    // for someone else's message. Our own "applying" message, shown late
    // because a notice of the program's files held the line when the render
    // began, is no one else's.
    const bool lineTaken = status->manualCount() != p.renderStatusMark && status->isHeld() &&
                           status->stringValue() != L10n::tr(QString::fromUtf8(kRendering));
    switch (adoptAndPlay(*this, *url).outcome) {
    case Adopted::Playing:
        p.cacheNote = result.note;
        if (!lineTaken)
            showRenderNote(result.note);
        break;
    case Adopted::NotStarted:
        endFailed(*this, QString::fromUtf8(kOutputFailed), "the output did not start");
        break;
    case Adopted::NoPlayer:
        endFailed(*this, QString::fromUtf8(kRenderFailed), "the render does not open");
        break;
    case Adopted::NoSamples:
        endFailed(*this, QString::fromUtf8(kDecodeFailed), "the render holds no samples");
        break;
    }
}

void App::playUnprocessed(const QString& message, const char* why, quint64 generation) {
    PlaybackState& p = playback;
    qCWarning(lcPlayback,
              "track %lld: the render made no file (%s); it plays without the processing",
              static_cast<long long>(p.current->id), why);
    p.withoutProcessing = true;
    p.loading = true;
    takeRoad(*p.current, generation);
    // Playing, or on its way to the decode road (its player's first read
    // may have failed already, before the end that hands it over), which
    // tells its own failure if it meets one: this word then gives way
    // (endRoad). The track plays, but not as asked: a failure, so a notice on
    // the line or the list's count after a catalog came does not hide it.
    const bool handedOver = p.audio && readsOnAnotherRoad(*p.audio);
    if (p.generation == generation && (isPlaying() || p.loading || handedOver))
        status->setFailure(message);
}

void App::showRenderNote(const std::optional<RenderNote>& note) {
    if (!note)
        status->setStringValue(L10n::tr(QString::fromUtf8(kRendered)));
    else if (note->name.isEmpty())
        status->setFailure(L10n::tr(note->text));
    else
        status->setFailure(L10n::tr(note->text) + note->name +
                           (note->after.isEmpty() ? QString() : L10n::tr(note->after)));
}

void App::startDecodeRoad(const Track& track, quint64 generation) {
    qCDebug(lcPlayback, "track %lld takes the decode road: ffmpeg decodes it, then it plays",
            static_cast<long long>(track.id));
    if (services.observer->fallbackRoad("decode", track, generation))
        return;
    PlaybackState& p = playback;
    // A decode this request began before (a render that found no room hands
    // the same request to this road) is of no use any more.
    if (const std::optional<RoadDecode> before = std::exchange(p.roadDecode, std::nullopt))
        stopDecode(before->job);
    // The look ahead has decoded this very file, or is decoding it.
    if (const std::optional<QString> decoded = takeDecoded(track.path, p.requestBegan)) {
        qCDebug(lcPlayback, "track %lld plays its decode made ahead",
                static_cast<long long>(track.id));
        playDecoded(decoded);
        return;
    }
    if (p.decodeAhead && p.decodeAhead->running && p.decodeAhead->source == track.path) {
        qCDebug(lcPlayback, "track %lld waits for its decode begun ahead",
                static_cast<long long>(track.id));
        p.roadDecode = RoadDecode{std::exchange(p.decodeAhead, std::nullopt)->job, generation};
        return;
    }
    p.roadDecode = RoadDecode{startDecode(track, false), generation};
}

void App::refuseUnreadable(const Track& track, bool readFailed) {
    // A format only FFmpeg reads, kept from it for its tags alone: said so,
    // rather than that the format is not supported.
    const bool crowded = !readFailed && platform::FfmpegGate::knownVerdict(track.path) ==
                                            platform::FfmpegGate::Verdict::Crowded;
    endFailed(*this, crowded ? Failure::FileCrowded : Failure::FileUnreadable,
              QFileInfo(track.path).fileName(),
              "the file is refused, and ffmpeg may not read it either");
}

void App::roadDecodeFinished(const DecodeOutcome& result) {
    PlaybackState& p = playback;
    const quint64 generation = std::exchange(p.roadDecode, std::nullopt)->generation;
    if (generation != p.generation || !p.current) {
        if (result.file)
            QFile::remove(*result.file);
        return;
    }
    if (result.tooSlow) {
        endFailed(*this, Failure::FileTooSlow, QFileInfo(p.current->path).fileName(),
                  "the file's disk did not answer in time");
        return;
    }
    if (result.notStarted) {
        const QString program = services.tools->decodeProgram();
        endFailed(*this, *result.notStarted, program, "the decoder did not start");
        return;
    }
    // A joined job found a file our player reads, yet the direct road failed
    // (a player that did not start): the decode road decodes it.
    if (result.direct) {
        startDecodeRoad(*p.current, generation);
        return;
    }
    playDecoded(result.file, result.workFault);
}

void App::playDecoded(const std::optional<QString>& decoded, WorkFileFault fault) {
    playback.loading = false;
    if (!decoded && fault != WorkFileFault::None) {
        logFailed(*this, "the decode could not write its file");
        status->setFailure(workFaultText(*this, fault, true));
        endRoad(*this);
        return;
    }
    if (!decoded) {
        endFailed(*this, QString::fromUtf8(kDecodeFailed), "the decoder failed");
        return;
    }
    const QString& output = *decoded;
    const Adoption adopted = adoptAndPlay(*this, output);
    if (adopted.outcome == Adopted::NoPlayer)
        endFailed(*this, Failure::FileUnreadable, adopted.unreadable,
                  "the decoded file does not open");
    else if (adopted.outcome == Adopted::NoSamples)
        endFailed(*this, QString::fromUtf8(kDecodeFailed), "the decoded file holds no samples");
    else if (adopted.outcome == Adopted::NotStarted)
        endFailed(*this, QString::fromUtf8(kOutputFailed), "the output did not start");
}

} // namespace ql
