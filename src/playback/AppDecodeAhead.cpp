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
// Whether they still are is asked of the source's reader (UserFiles), never
// of the disk on the main thread: a network mount that stops answering once
// the decode is made would freeze the window in that stat. A check is asked
// when the decode is done and, while a player is being made ahead on it,
// again once the last one is older than kRecheckMs; the main thread reads
// the last answer. A player is made ahead only on a decode a check vouched
// for within kFreshMs: the join is armed seconds before the end of the track
// anyway, so a file replaced after that plays as it was decoded either way.
// A play request asks for a check as it begins and takes the decode only on
// a check asked since, which it waits for a short while (FileOpen::kWaitMs,
// shared with its other waits): a file replaced just before it is asked for
// is never played from its old decode. With no such answer the decode goes
// and the request takes the ordinary road, which opens the file off the
// main thread and refuses it, when its disk holds it, as too slow. The decode of a file
// UserFiles holds slow is not played either: no check can tell it is still
// the file asked for, and it plays or is refused as the file itself would.
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

#include <algorithm>
#include <utility>

namespace ql {

namespace {
// The road's job goes before the renders a prefetch asks for, like the
// render road's; the look ahead's below them, like the effects prefetch.
constexpr int kRoadPriority = 1;
constexpr int kLookAheadPriority = 0;

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A check this old is asked again while a player is made ahead; one older
// than kFreshMs no longer vouches for the decode. Far below the seconds
// before a track's end at which its successor's join is armed.
constexpr milliseconds kRecheckMs{500};
constexpr milliseconds kFreshMs{3000};
// A check unanswered this long was dropped by its reader (its disk held the
// touch past the deadline): another may be asked.
constexpr milliseconds kLostMs{platform::UserFiles::kLimitMs};

// Waits up to `ms` for `check`'s answer; none when it has not come.
std::optional<bool> checkAnswerWithin(StampCheck& check, qint64 ms) {
    std::unique_lock lock(check.lock);
    check.told.wait_for(lock, milliseconds(std::max<qint64>(ms, 0)),
                        [&check] { return check.matches.has_value(); });
    return check.matches;
}

std::optional<bool> answerOf(StampCheck& check) {
    const std::lock_guard lock(check.lock);
    return check.matches;
}

// Keeps `check`'s answer with the look ahead's `entry` when it was asked
// for it; false when it was not, or has not answered.
bool noteCheck(std::optional<DecodeAheadEntry>& entry, StampCheck& check) {
    if (!entry || !entry->file || entry->source != check.source || !(entry->stamp == check.decoded))
        return false;
    const std::optional<bool> matches = answerOf(check);
    if (!matches)
        return false;
    if (!*matches)
        entry->changed = true;
    else if (!entry->matchedAsked || *entry->matchedAsked < check.asked)
        entry->matchedAsked = check.asked;
    return true;
}
} // namespace

SteadyTime App::freshCheckSince() {
    return steady_clock::now() - kFreshMs;
}

bool App::askStampCheck() {
    DecodeAheadEntry& entry = *playback.decodeAhead;
    auto check = std::make_shared<StampCheck>();
    check->source = entry.source;
    check->decoded = entry.stamp;
    check->asked = steady_clock::now();
    const Delivery delivery(this);
    const bool asked = platform::UserFiles::read(
        entry.source,
        [check, delivery, dir = QDir::currentPath()](const platform::UserFiles::Touch&) {
            const FileStamp now = fileStamp(check->source, dir);
            {
                const std::lock_guard lock(check->lock);
                check->matches = check->decoded.size >= 0 && now == check->decoded;
            }
            check->told.notify_all();
            delivery.post([check](App& app) { app.stampChecked(check); });
        });
    if (asked)
        entry.check = check;
    return asked;
}

void App::stampChecked(const std::shared_ptr<StampCheck>& check) {
    // The gapless check or the opening ahead waited for it: they look now.
    std::optional<DecodeAheadEntry>& entry = playback.decodeAhead;
    if (noteCheck(entry, *check) && entry->check == check && std::exchange(entry->awaited, false))
        successorAnswered(check->source);
}

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
    if (result.file) {
        qCDebug(lcPlayback, "decoded ahead: %s", qUtf8Printable(entry.source));
        // Its source may have changed while it was decoded; a refused check
        // leaves the decode unused (fileAhead).
        askStampCheck();
    }
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
    p.decodeAhead = DecodeAheadEntry{
        track.path, startDecode(track, true), true, false, std::nullopt, {}, {}, {}, false, false};
}

std::optional<QString> App::fileAhead(const Track& next, bool& later) {
    std::optional<DecodeAheadEntry>& entry = playback.decodeAhead;
    later = false;
    // Nothing was looked at for this track yet, or its decode is of an older
    // file: looked at now, and the caller asks again at its next tick rather
    // than take a file our player may refuse at its first read.
    if (!entry || entry->source != next.path || (entry->file && entry->changed)) {
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
    if (!entry->file)
        return std::nullopt;
    // Its source's reader tells whether it still stands for the file; asked
    // again while the last answer ages, waited for (the answer asks the
    // gapless check and the opening ahead again) when there is none recent.
    const SteadyTime now = steady_clock::now();
    const bool fresh = entry->matchedAsked && *entry->matchedAsked >= now - kFreshMs;
    const bool aging = !entry->matchedAsked || *entry->matchedAsked < now - kRecheckMs;
    const bool unanswered =
        entry->check && !answerOf(*entry->check) && entry->check->asked >= now - kLostMs;
    // Refused: the file is slow, and its decode is not played.
    if (aging && !unanswered && !askStampCheck())
        return std::nullopt;
    if (fresh)
        return entry->file;
    later = !platform::UserFiles::slow(entry->source);
    entry->awaited = later;
    return std::nullopt;
}

std::optional<QString> App::takeDecoded(const QString& source, SteadyTime checkedSince) {
    PlaybackState& p = playback;
    std::optional<DecodeAheadEntry>& entry = p.decodeAhead;
    if (!entry || entry->source != source || !entry->file)
        return std::nullopt;
    const auto vouched = [&] {
        return entry->matchedAsked && *entry->matchedAsked >= checkedSince;
    };
    if (!entry->changed && !vouched()) {
        // A check asked since is awaited a short while, as a request waits
        // for its file's open: a stat on a disk that answers comes back in
        // far less.
        if ((!entry->check || entry->check->asked < checkedSince) && !askStampCheck()) {
            qCDebug(lcPlayback, "the decode made ahead is of a file its disk holds: %s",
                    qUtf8Printable(source));
            dropDecodeAhead();
            return std::nullopt;
        }
        const std::shared_ptr<StampCheck> check = entry->check;
        qint64 left = FileOpen::kWaitMs;
        std::optional<RequestWaits>& request = p.requestWaits;
        if (request)
            left = std::max<qint64>(FileOpen::kWaitMs - request->since.elapsed(), 0);
        if (!answerOf(*check) && left > 0 && request) {
            ++request->count;
            request->until = std::max(request->until, request->since.elapsed() + left);
        }
        checkAnswerWithin(*check, left);
        noteCheck(entry, *check);
    }
    if (entry->changed || !vouched()) {
        qCDebug(lcPlayback, "the decode made ahead is of an older file, or unconfirmed: %s",
                qUtf8Printable(source));
        dropDecodeAhead();
        return std::nullopt;
    }
    const QString file = *entry->file;
    p.lentDecode = LentDecode{file, entry->stamp, entry->matchedAsked};
    entry.reset();
    return file;
}

void App::giveBackDecoded(const QString& source, const QString& file) {
    PlaybackState& p = playback;
    const std::optional<LentDecode> lent = std::exchange(p.lentDecode, {});
    // Held by the look ahead already, or of a source whose stamp is not
    // known here (learning it would stat the user's file): not kept.
    if (p.decodeAhead || !lent || lent->file != file) {
        QFile::remove(file);
        return;
    }
    DecodeAheadEntry& entry = p.decodeAhead.emplace();
    entry.source = source;
    entry.running = false;
    entry.file = file;
    entry.stamp = lent->stamp;
    entry.matchedAsked = lent->matchedAsked;
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
