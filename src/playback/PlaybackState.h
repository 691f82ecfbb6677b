// State of playback and audio output held by App as `playback`. Main thread
// only.
//
// Invariants: `prepared` is empty whenever something changes what plays
// next or where playback stands: a pause, a seek (the A-B loop's jump back
// among them), a restart, a change of speed, repeat, shuffle, a playback
// mode (gapless, bit-perfect, maximum quality, rate matching), the effects
// or the upsampling, the output device, the row menu's "다음에 재생", the
// radio button, a guest DJ choice (and its first batch when that lands
// later), a Sonic Adventure's path, a play request (one that plays the very
// file a player was opened ahead on takes that player), a playback error,
// the sleep timer's stop and the quit. Switching
// the crossfade on leaves it: the crossfade check lets it go when it starts
// a fade, and a gapless join already armed still joins if no fade starts.
// A change of the visible list (a search, the catalog's updates) leaves it:
// the catalog changes the list often while a track plays, and a join let go
// near the end may not be armed again in time. A player held in `prepared`,
// `fadingOut` or `retired` is never `audio`; `bitPerfect` and `maxQuality`
// are never both on.
#pragma once

#include "analysis/StreamFacts.h"
#include "app/Records.h"
#include "app/WorkFolder.h"
#include "effects/RenderNote.h"
#include "playback/DecodeAhead.h"
#include "playback/InFlightFiles.h"
#include "playback/OutputDevice.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class QObject;
class QTimer;

namespace ql {

class FileOpen;

namespace platform {
class AudioPlayer;
}

// The player prepared on the track after the current one, of one of two
// kinds:
// - Scheduled: the gapless successor, bound to the chosen device and
//   started on its clock for the exact end of the current file; the current
//   player's end promotes it (App::promotePrepared).
// - OpenedAhead: opened on the file the end of the current track will play
//   (App::openAhead) and, where the device keeps its rate, bound and filled,
//   but not started; the play request that end makes takes it when it names
//   the same file.
// `fromRadio`: its id was taken from the front of the radio queue (a
// scheduled successor only); letting it go gives the id back.
// `file`: the track's file decoded ahead, when the player reads that one; it
// becomes `cacheURL` when the track takes over, and goes back to the look
// ahead when the player is let go.
struct PreparedNext {
    enum class Kind { Scheduled, OpenedAhead };
    Kind kind = Kind::Scheduled;
    Track track;
    std::unique_ptr<platform::AudioPlayer> player;
    bool fromRadio = false;
    std::optional<QString> file;
};

// One decode job under way (playback/DecodeAhead.h), as the main thread
// holds it: `serial` tells its result from another job's; stopping it kills
// its ffmpeg and deletes `output` at once (App::stopDecode).
struct DecodeJob {
    quint64 serial = 0;
    QString output;
    std::shared_ptr<platform::ChildStop> stop;
};

using SteadyTime = std::chrono::steady_clock::time_point;

// A look at whether a decoded file's source still has the stamp it had when
// its decode began, made on the source's reader (platform::UserFiles): the
// main thread reads the answer, never the disk. Shared with the reader.
struct StampCheck {
    QString source;
    FileStamp decoded;
    SteadyTime asked;
    std::mutex lock;
    std::condition_variable told;
    std::optional<bool> matches; // once answered; guarded by `lock`
};

// The next track's file as the decode road makes it, prepared ahead: while
// `running`, being looked at (our player may read it as it is) and decoded
// by `job`; then either `direct` (nothing to decode), `file` (decoded), or
// neither (the decode failed; the play request's own road tells why).
// `stamp`: the source as the decode began; the file stands for it only
// while the source still matches.
struct DecodeAheadEntry {
    QString source;
    DecodeJob job;
    bool running = true;
    bool direct = false;
    std::optional<QString> file;
    FileStamp stamp;
    // The latest check of the source asked for `file`; when the latest one
    // that matched was asked (the source was as decoded at some moment after
    // that); whether one found the source changed; and whether a caller of
    // App::fileAhead was told to look again once the check answers.
    std::shared_ptr<StampCheck> check;
    std::optional<SteadyTime> matchedAsked;
    bool changed = false;
    bool awaited = false;
};

// A decoded file taken out of the look ahead, for when it comes back.
struct LentDecode {
    QString file;
    FileStamp stamp;
    std::optional<SteadyTime> matchedAsked;
};

// A play request waiting for the open of its file (FileOpen.h).
struct OpenWait {
    QString path;
    quint64 generation = 0;
};

// What a play request waited for its files' answers: one kWaitMs from its
// start, however many files it asks for (its own, its rate, the next one's).
struct RequestWaits {
    QElapsedTimer since; // the request's start
    int count = 0;       // waits that blocked
    qint64 until = 0;    // the latest end one was given, ms from `since`
};

// The decode the current play request's decode road waits for: its own, or
// the look ahead's on its file, begun before the request and joined.
struct RoadDecode {
    DecodeJob job;
    quint64 generation = 0; // the request's
};

// The one-entry render cache of the effects: the render's key (the track's
// path, "|", the effect signature) and the rendered temporary file.
// A render that dropped a stage keeps the note of it, shown when it plays.
struct RenderCacheEntry {
    QString key;
    QString path;
    std::optional<RenderNote> note;
};

struct PlaybackState {
    // The UID of the output device the user chose; none means the system
    // default. Kept while that device is unplugged, for when it returns.
    // Restored from "outputUID".
    std::optional<QString> outputUID;

    // ---- current track, play counting, stores, restored modes ---------------
    // The track shown and playing; none before the first play.
    std::optional<Track> current;
    // Seconds listened to the current track, and whether it has been counted;
    // both reset at every track start.
    double playedSecs = 0;
    bool counted = false;
    // Play statistics by file path ("play-stats.json").
    QHash<QString, PlayStat> stats;
    // A save of "play-stats.json" failed: the tick tries again.
    bool statsDirty = false;
    // Integrated loudness in LUFS by file path ("loudness.json"), and whether
    // it changed since the last save.
    QHash<QString, double> loud;
    bool loudDirty = false;
    // Playback speed as stored ("playRate"); the player takes it through
    // playbackSpeed() (SettingLimits.h), which bounds it to 0.5 … 2.0.
    double playRate = 1.0;
    bool gaplessOn = true;   // "gapless"
    bool bitPerfect = false; // "bitPerfect"; never on together with maxQuality
    bool maxQuality = true;  // "maxQuality"
    bool rateMatchOn = true; // "rateMatch"
    int upMode = 0;          // "upMode": the upsampling pop-up's choice
    // Exclusive device use wanted; never carried over to a new run.
    bool hogOn = false;

    // ---- play request and roads ------------------------------------------------
    // Bumped by every play request (and at quit); a background road whose
    // generation differs has been overtaken and only deletes its own file.
    quint64 generation = 0;
    // A fallback road (decode or render) is preparing the current track:
    // toggle does nothing meanwhile, and the gapless and crossfade checks wait.
    bool loading = false;
    // The current player reads the track's own file (or its cached render):
    // its file failing to read before a frame is heard, it hands the track
    // to the fallback road, as a file that does not open does. Such a failure may come only
    // from its first read (an MP3 its decoder cannot play whole is found
    // out there, off the main thread).
    bool mayFallBack = false;
    // The current track's render found no room in the work folder (or could
    // not make its file there): it plays without the processing, and a
    // fallback takes the decode road. Reset at every track start.
    bool withoutProcessing = false;
    // The decode the current track's decode road waits for; a new play
    // request stops it. None once its result came.
    std::optional<RoadDecode> roadDecode;
    // At most two ffmpeg writers run at once, decodes and renders' first
    // stages together: the current track's and the next one's (a stopped
    // one's child is gone before a third starts).
    std::shared_ptr<QSemaphore> writerSeats = std::make_shared<QSemaphore>(2);
    // Stops the render the current play request's effects road waits for; a
    // newer request, the sleep stop and the quit request it.
    std::shared_ptr<platform::ChildStop> roadRenderStop;
    // Outputs of decodes and renders not yet taken by their completion; the
    // quit deletes what is left. Shared with the render jobs.
    std::shared_ptr<InFlightFiles> inFlight = std::make_shared<InFlightFiles>();
    // This run's private folder for those outputs, opened at the first need
    // (App::workDir, also at launch, which clears what dead runs left);
    // removed with everything in it when App ends. Mutable: opening it is a
    // cache fill that const readers such as the render snapshot may trigger.
    mutable std::unique_ptr<WorkFolder> work;
    // The folder was asked for once: where none can be made, a render does not
    // walk every candidate again. Cleared when the folder was removed under
    // the run, so that it is made again.
    mutable bool workTried = false;
    // The temporary decoded or rendered file that belongs to `current`;
    // deleted when a play request moves on or a prepared player takes over.
    std::optional<QString> cacheURL;
    // Seconds to seek to once the current track's player is ready (a restart
    // for new effects or a new speed); used and cleared by the roads.
    std::optional<double> pendingSeek;
    // The position the window last showed while the current player played.
    double shownAt = 0;
    // Where the current player stood, as the window last showed it, when its
    // output failed under it (the device lost). An ended player reads 0:
    // until it plays again this is its position, shown and resumed from.
    // None while it plays, and for any other player.
    std::optional<double> stoppedAt;
    // The effects prefetch leaves the next track's render here; a play request
    // that uses it takes it out.
    std::optional<RenderCacheEntry> fxCache;
    // The decode road's look ahead for the next track; a play request or the
    // prepared next player takes its file out.
    std::optional<DecodeAheadEntry> decodeAhead;
    quint64 decodeSerial = 0;
    // The decoded file last taken out of the look ahead, with its source's
    // stamp, for when it comes back (App::giveBackDecoded).
    std::optional<LentDecode> lentDecode;
    // When the current play request began: a decode made ahead plays for it
    // only on a check of its source asked since (App::takeDecoded).
    SteadyTime requestBegan;
    // The path of the track the look ahead (decode and render) was last
    // aimed at; none: aimed at nothing yet since the track started.
    std::optional<QString> aheadAim;
    // Files being opened off the main thread, and answered ones not yet
    // taken, by path; the play request waiting for one of them.
    QHash<QString, std::shared_ptr<FileOpen>> opens;
    std::optional<OpenWait> openWait;
    // The status line was told that the waited-for file is being opened.
    bool openingShown = false;
    // The waits of the play request being handled (none outside one), and
    // of the last one handled.
    std::optional<RequestWaits> requestWaits;
    RequestWaits lastWaits;
    // The render key of the background prefetch under way; none when none.
    // A prefetch for another track stops it (`fxPrefetchStop`).
    std::optional<QString> fxRendering;
    std::shared_ptr<platform::ChildStop> fxPrefetchStop;
    // The dropped-stage note of the render that `cacheURL` holds, if any.
    std::optional<RenderNote> cacheNote;
    // The status line's manual count once the render road said it began.
    quint64 renderStatusMark = 0;
    // The status line has said that the simulated output is heard nowhere
    // (once a run, at the first track that starts on it).
    bool silenceTold = false;

    // ---- history, successor, crossfade, per-track marks -------------------------
    // Ids of tracks that were current before, newest last. Every road to
    // another track (play request, gapless promotion, crossfade) keeps it at
    // 500 at most (appendHistory).
    QList<qint64> history;
    // Set by previous() in shuffle mode for the one play request it makes, so
    // that the outgoing id is not added to `history`.
    bool goingBack = false;
    // The one player prepared on the next track, of either kind; every
    // action of the invariant above lets it go through App::cancelPrepared.
    std::optional<PreparedNext> prepared;
    // `prepared` when it is of that kind, else null.
    PreparedNext* preparedAs(PreparedNext::Kind kind) {
        return prepared && prepared->kind == kind ? &*prepared : nullptr;
    }
    const PreparedNext* preparedAs(PreparedNext::Kind kind) const {
        return prepared && prepared->kind == kind ? &*prepared : nullptr;
    }
    // Id of the track for which gapless preparation or the crossfade gave up
    // (-1: none), so it is not retried; reset at every track start.
    qint64 gaplessSkipped = -1;
    qint64 crossSkipped = -1;
    // The current track ended while the visible list still held only the
    // files opened before the backend's first catalog (library.listAwaited),
    // and the next track would have been the first of them again: the next
    // track plays once the list has one after it (App::resumeHeldEnd). A
    // play request or the play button lets it go.
    bool endHeld = false;
    // The 0.1 s timer stepping a crossfade, and the outgoing player's volume
    // when the fade began.
    std::unique_ptr<QTimer> fadeTimer;
    float fadeOldBase = 1.0f;
    // A-B loop points in seconds; none = unset.
    std::optional<double> abA;
    std::optional<double> abB;
    // Players taken out of service (replaced, cancelled, faded out): stopped,
    // and destroyed on the next turn of the event loop, so that a player is
    // never destroyed inside its own end-of-file call.
    std::vector<std::unique_ptr<platform::AudioPlayer>> retired;

    // ---- loudness, sleep timer, exclusive use, rates ----------------------------
    // Paths whose loudness measurement is running, and the stop of each.
    QSet<QString> loudPending;
    QHash<QString, std::shared_ptr<platform::ChildStop>> loudStops;
    // When the sleep timer ends playback, on the monotonic clock (seconds),
    // so that a change of the wall clock neither ends nor stretches it;
    // none = off.
    std::optional<double> sleepEnd;
    // The device held exclusively, if any.
    std::optional<quint32> hogDevice;
    // Source sample rate by file path, filled by the const rate lookup.
    mutable QHash<QString, double> rateCache;
    // Paths whose rate ffprobe is being asked off the main thread, and those
    // whose asking was cut short (its limit, no ffprobe): neither is asked
    // again until a play request names the file.
    mutable QSet<QString> rateProbing;
    mutable QSet<QString> rateCutShort;
    // The signal-path report's last source probe, with its file's path (a
    // failed one too, asked again when the panel is opened), and the path
    // being probed off the main thread: a file is probed once, not at every
    // 2 s refresh.
    mutable std::optional<std::pair<QString, StreamFacts>> signalSource;
    mutable std::optional<QString> signalProbing;

    // ---- shuffle -------------------------------------------------------------
    // Shuffle mode: the visible list keeps a stable random order. Starts from
    // the stored "shuffle" when App is made.
    bool shuffled = false;

    // ---- current player, output device, volume -------------------------------
    // The player of `current`; none when nothing is loaded. Volume, device
    // binding and seeking act on this one player. The play request fills it.
    std::unique_ptr<platform::AudioPlayer> audio;
    // The old player while a crossfade runs (the crossfade fills it), and the
    // crossfade's progress 0…1 that scales `audio`'s volume (1: no fade).
    std::unique_ptr<platform::AudioPlayer> fadingOut;
    double fadeProgress = 1.0;
    // The sleep timer's fade 0…1 over its last 30 s (1: not fading).
    double sleepFactor = 1.0;
    // The devices the device pop-up items were built from: item n ≥ 1 is
    // entry n − 1, item 0 the system default.
    std::vector<OutputDeviceEntry> deviceList;
    // The volume slider drives the output device's hardware volume (the
    // player then stays at full scale); hwInit: the first poll has run.
    bool hwVol = false;
    bool hwInit = false;
    // The slider level un-muting returns to.
    double volumeBeforeMute = 70.0;
    // Repeat the current track at its end; lasts until toggled or quit.
    bool repeatOn = false;
    // The volume-key filters installed on the application; clearing the list
    // removes them (at quit).
    std::vector<std::unique_ptr<QObject>> volumeMonitors;
};

} // namespace ql
