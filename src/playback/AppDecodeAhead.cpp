// ---- playback: the decode jobs, and the decode road made ahead ----
//
// A track our player cannot read as it is (WavPack, an MP3 whose length
// cannot be trusted, …) plays from ffmpeg's decode of it, which takes a
// while. The decode road of a play request (AppRoads.cpp) and the look
// ahead at the next track run the same decode job (DecodeAhead.h) on the
// render queue: the road's above, the look ahead's below the renders a
// play request waits for. Every job can be stopped: its ffmpeg is killed
// and its output deleted at once, when its request is overtaken, its entry
// dropped or the program quits, so no decode runs on for a track nobody
// will hear and the work folder holds only the files in use.
//
// The look ahead follows what the end of the current track will play
// (aimLookAhead, at every track start and every tick): a successor chosen
// later (the catalog landing on a first run, shuffle, repeat, the radio or
// the DJ, a queued track) is looked at as soon as it is known, and the job
// for the one it replaces is stopped. Its job reads the file's first block
// as our player would and, when that fails, decodes the file into the work
// folder. So the change into such a track waits for nothing: the gapless
// check arms its decoded file (a join like any other), the file opened ahead
// is that file, and a play request takes it (AppPlayRequest.cpp). A request
// whose direct road fails while the job still runs joins it rather than
// decoding again.
//
// One entry, `playback.decodeAhead`: a look ahead at another file stops it
// and deletes its decoded file. A decoded file belongs to one holder at a
// time: the entry, then the prepared next player (given back when it is let
// go), then the current track as its `cacheURL`. It stands for its source
// only while the source's size and modification time are those it had when
// the decode began: a file replaced since is decoded again.
//
// Until its job has answered, the gapless check and the opening ahead wait
// for the next tick, or for the answer itself when it is the successor's
// (decodeFinished asks them then), and the crossfade stands aside for a
// decoded track: its fade would begin while the file of the track before it
// is still in use.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/Delivery.h"
#include "platform/UserFiles.h"
#include "playback/DecodeAhead.h"

#include <QDir>
#include <QFile>
#include <QThreadPool>
#include <QUuid>

#include <utility>

namespace ql {

namespace {
// The road's job goes before the renders a prefetch asks for, like the
// render road's; the look ahead's below them, like the effects prefetch.
constexpr int kRoadPriority = 1;
constexpr int kLookAheadPriority = 0;

// Whether the source of a decoded file is still what was decoded.
bool stillDecodes(const QString& source, const FileStamp& stamp) {
    return stamp.size >= 0 && fileStamp(source, QDir::currentPath()) == stamp;
}
} // namespace

DecodeJob App::startDecode(const Track& track, bool ahead) {
    PlaybackState& p = playback;
    DecodeJob job{++p.decodeSerial, decodeOutputPath(workDir(), QUuid::createUuid()),
                  std::make_shared<platform::ChildStop>()};
    DecodeSnapshot s;
    s.path = track.path;
    s.duration = track.duration;
    s.ffmpeg = services.tools->decodeProgram();
    s.output = job.output;
    s.currentDir = QDir::currentPath();
    s.ahead = ahead;
    s.children = children;
    s.inFlight = p.inFlight;
    s.stop = job.stop;
    s.seats = p.writerSeats;
    // The source is first touched by its reader, never on the render queue:
    // a source its disk holds holds neither the decodes nor the renders of
    // other files. Only one that answered is decoded there.
    const int priority = ahead ? kLookAheadPriority : kRoadPriority;
    const Delivery delivery(this);
    const quint64 serial = job.serial;
    const auto finished = [delivery, serial](const DecodeOutcome& result) {
        delivery.post([serial, result](App& app) { app.decodeFinished(serial, result); });
    };
    const bool asked = platform::UserFiles::read(
        s.path, [s, finished, delivery, priority](const platform::UserFiles::Touch& touch) {
            const DecodeTouch first = decodeTouch(s, touch.keptFromFfmpeg);
            if (first.answer) {
                finished(*first.answer);
                return;
            }
            delivery.post([s, finished, priority, stamp = first.stamp](App& app) {
                app.renderQueue->start([s, finished, stamp] { finished(decodeRun(s, stamp)); },
                                       priority);
            });
        });
    if (!asked) {
        DecodeOutcome refused;
        refused.tooSlow = true;
        finished(refused); // told later, as any answer
    }
    return job;
}

void App::stopDecode(const DecodeJob& job) {
    if (!job.stop)
        return;
    job.stop->request();
    // Whatever ffmpeg wrote so far goes now, not when its job notices.
    if (playback.inFlight->take(job.output))
        QFile::remove(job.output);
}

void App::decodeFinished(quint64 serial, const DecodeOutcome& result) {
    PlaybackState& p = playback;
    // The quit, or the stop, deleted it already: nothing of it is ours any more.
    if (result.file && !p.inFlight->take(*result.file))
        return;
    if (p.roadDecode && p.roadDecode->job.serial == serial) {
        roadDecodeFinished(result);
        return;
    }
    if (!p.decodeAhead || p.decodeAhead->job.serial != serial || !p.decodeAhead->running) {
        if (result.file)
            QFile::remove(*result.file);
        return;
    }
    DecodeAheadEntry& entry = *p.decodeAhead;
    entry.running = false;
    entry.direct = result.direct;
    entry.file = result.file;
    entry.stamp = result.stamp;
    if (result.file)
        qCDebug(lcPlayback, "decoded ahead: %s", qUtf8Printable(entry.source));
    successorAnswered(entry.source);
}

void App::successorAnswered(const QString& path) {
    PlaybackState& p = playback;
    // The gapless check and the opening ahead waited for this answer. In a
    // track's last second the next tick may come only past the arming
    // window (a track chosen to play next just then): they look now.
    const std::optional<Track> next = p.repeatOn ? p.current : peekNext();
    if (!next || next->path != path)
        return;
    gaplessCheck();
    openAhead();
}

void App::aimLookAhead() {
    PlaybackState& p = playback;
    // A request waiting for its file's open has yet to take (or join) the
    // decode made ahead for it: turned to the track after it now, the look
    // ahead would stop that decode. The next tick aims it.
    if (!p.current || p.openWait)
        return;
    // What the end of the track asks for: the same track on repeat.
    const std::optional<Track> next = p.repeatOn ? p.current : peekNext();
    if (next && p.aheadAim == next->path)
        return;
    // A measurement of a track skipped, or no longer next, reads on for
    // nobody.
    stopOtherLoudness(p.current->path, next ? std::optional(next->path) : std::optional<QString>());
    if (!next)
        return;
    p.aheadAim = next->path;
    ensureLoudness(*next);
    // Its rate may send it down the effects road.
    if (rateDecides())
        lookUpRate(*next);
    prefetchFX(*next);
    prefetchDecode(*next);
}

void App::prefetchDecode(const Track& track) {
    PlaybackState& p = playback;
    if (fxNeeded(track)) {
        // Rendered ahead instead: a decode of another file is of no use.
        if (p.decodeAhead && p.decodeAhead->source != track.path)
            dropDecodeAhead();
        return;
    }
    if (p.decodeAhead && p.decodeAhead->source == track.path)
        return;
    dropDecodeAhead();
    p.decodeAhead =
        DecodeAheadEntry{track.path, startDecode(track, true), true, false, std::nullopt, {}};
}

std::optional<QString> App::fileAhead(const Track& next, bool& later) {
    std::optional<DecodeAheadEntry>& entry = playback.decodeAhead;
    later = false;
    // Nothing was looked at for this track yet, or its decode is of an older
    // file: looked at now, and the caller asks again at its next tick rather
    // than take a file our player may refuse at its first read.
    if (!entry || entry->source != next.path ||
        (entry->file && !stillDecodes(entry->source, entry->stamp))) {
        if (rateDecides())
            lookUpRate(next);
        if (fxNeeded(next))
            return next.path;
        dropDecodeAhead();
        prefetchDecode(next);
        later = true;
        return std::nullopt;
    }
    if (entry->running) {
        later = true;
        return std::nullopt;
    }
    if (entry->direct)
        return next.path;
    return entry->file;
}

std::optional<QString> App::takeDecoded(const QString& source) {
    PlaybackState& p = playback;
    std::optional<DecodeAheadEntry>& entry = p.decodeAhead;
    if (!entry || entry->source != source || !entry->file)
        return std::nullopt;
    if (!stillDecodes(source, entry->stamp)) {
        qCDebug(lcPlayback, "the decode made ahead is of an older file: %s",
                qUtf8Printable(source));
        dropDecodeAhead();
        return std::nullopt;
    }
    const QString file = *entry->file;
    p.lentDecode = std::pair(file, entry->stamp);
    entry.reset();
    return file;
}

void App::giveBackDecoded(const QString& source, const QString& file) {
    PlaybackState& p = playback;
    const std::optional<std::pair<QString, FileStamp>> lent = std::exchange(p.lentDecode, {});
    if (p.decodeAhead) {
        QFile::remove(file);
        return;
    }
    // Not taken from here: it stands for the source as it is now.
    const FileStamp stamp =
        lent && lent->first == file ? lent->second : fileStamp(source, QDir::currentPath());
    p.decodeAhead = DecodeAheadEntry{source, {}, false, false, file, stamp};
}

void App::dropDecodeAhead() {
    const std::optional<DecodeAheadEntry> gone = std::exchange(playback.decodeAhead, std::nullopt);
    if (!gone)
        return;
    if (gone->running)
        stopDecode(gone->job);
    if (gone->file)
        QFile::remove(*gone->file);
}

} // namespace ql
