// ---- playback: the decode road made ahead for the next track ----
//
// A track our player cannot read as it is (WavPack, an MP3 whose length
// cannot be trusted, …) plays from ffmpeg's decode of it, which takes a
// while. Every track start looks at the track that follows (prefetchDecode,
// beside the effects prefetch): a job on the render queue, below the renders
// a play request waits for, reads the file's first block as our player
// would and, when that fails, decodes the file into the work folder. So the
// change into such a track waits for nothing: the gapless check arms its
// decoded file (a join like any other), the file opened ahead is that file,
// and a play request takes it (AppPlayRequest.cpp). A request whose direct
// road fails while the job still runs joins it rather than decoding again.
//
// One entry, `playback.decodeAhead`: a look ahead at another file replaces
// it and deletes its decoded file; an older job's result is deleted when it
// arrives. A decoded file belongs to one holder at a time: the entry, then
// the prepared next player (given back when it is let go), then the current
// track as its `cacheURL`.
//
// Until its job has answered, the gapless check and the opening ahead wait
// for the next tick, and the crossfade stands aside for a decoded track: its
// fade would begin while the file of the track before it is still in use.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/Delivery.h"
#include "playback/DecodeAhead.h"

#include <QDir>
#include <QFile>
#include <QThreadPool>

#include <utility>

namespace ql {

namespace {
// Below the renders a play request waits for, like the effects prefetch.
constexpr int kLookAheadPriority = 0;
} // namespace

void App::prefetchDecode(const Track& track) {
    PlaybackState& p = playback;
    if (fxNeeded(track) || (p.decodeAhead && p.decodeAhead->source == track.path))
        return;
    dropDecodeAhead();
    const quint64 serial = ++p.decodeAheadSerial;
    p.decodeAhead = DecodeAheadEntry{track.path, serial, true, false, std::nullopt};
    DecodeSnapshot s;
    s.path = track.path;
    s.duration = track.duration;
    s.ffmpeg = services.tools->decodeProgram();
    s.tempDir = workDir();
    s.currentDir = QDir::currentPath();
    s.children = children;
    s.inFlight = p.inFlight;
    renderQueue->start(
        [s, serial, delivery = Delivery(this)] {
            const DecodedAhead result = decodeAheadBlocking(s);
            delivery.post([serial, result](App& app) { app.decodeAheadFinished(serial, result); });
        },
        kLookAheadPriority);
}

void App::decodeAheadFinished(quint64 serial, const DecodedAhead& result) {
    PlaybackState& p = playback;
    // The quit deleted it already: nothing of it is ours any more.
    if (result.file && !p.inFlight->take(*result.file))
        return;
    if (p.joinedDecode && p.joinedDecode->serial == serial) {
        const quint64 generation = std::exchange(p.joinedDecode, std::nullopt)->generation;
        if (generation != p.generation || !p.current) {
            if (result.file)
                QFile::remove(*result.file);
            return;
        }
        // Its job found a file our player reads, yet the direct road failed
        // (a player that did not start): the decode road decodes it.
        if (result.direct)
            startDecodeRoad(*p.current, generation);
        else
            playDecoded(result.file, result.workFault);
        return;
    }
    if (!p.decodeAhead || p.decodeAhead->serial != serial) {
        if (result.file)
            QFile::remove(*result.file);
        return;
    }
    DecodeAheadEntry& entry = *p.decodeAhead;
    entry.running = false;
    entry.direct = result.direct;
    entry.file = result.file;
    if (result.file)
        qCDebug(lcPlayback, "decoded ahead: %s", qUtf8Printable(entry.source));
}

std::optional<QString> App::fileAhead(const Track& next, bool& later) const {
    const std::optional<DecodeAheadEntry>& entry = playback.decodeAhead;
    later = false;
    if (!entry || entry->source != next.path)
        return next.path;
    if (entry->running) {
        later = true;
        return std::nullopt;
    }
    if (entry->direct)
        return next.path;
    return entry->file;
}

std::optional<QString> App::takeDecoded(const QString& source) {
    std::optional<DecodeAheadEntry>& entry = playback.decodeAhead;
    if (!entry || entry->source != source || !entry->file)
        return std::nullopt;
    std::optional<QString> file = std::exchange(entry, std::nullopt)->file;
    return file;
}

void App::giveBackDecoded(const QString& source, const QString& file) {
    std::optional<DecodeAheadEntry>& entry = playback.decodeAhead;
    if (entry) {
        QFile::remove(file);
        return;
    }
    entry = DecodeAheadEntry{source, ++playback.decodeAheadSerial, false, false, file};
}

void App::dropDecodeAhead() {
    if (const std::optional<DecodeAheadEntry> gone =
            std::exchange(playback.decodeAhead, std::nullopt);
        gone && gone->file)
        QFile::remove(*gone->file);
}

} // namespace ql
