// State of the music library held by App as `library`. Main thread only.
#pragma once

#include "app/JSONStore.h"
#include "app/MainThreadRelease.h"
#include "app/Records.h"
#include "app/StoreWriter.h"
#include "library/CatalogWorker.h"
#include "library/GenreMap.h"
#include "library/LineReader.h"
#include "platform/ChildProcess.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QProcess;
class QTimer;

namespace ql {

struct LibraryState {
    // The whole catalog in catalog order.
    std::vector<Track> rows;
    // Quality label by file path ("quality.json"), and whether it changed
    // since the last save.
    QHash<QString, QString> qual;
    bool qualDirty = false;
    // Paths whose quality probe is queued or running.
    QSet<QString> qualPending;
    // Genre by file path ("genres.json"); "" for a file probed without one.
    GenreMap genres;
    // Counts the genre batches taken in: a grouping made before the last one
    // shows older genres.
    quint64 genresPass = 0;
    // A genre scan is running; genreStop, set at quit, ends it between files.
    bool genrePending = false;
    std::shared_ptr<std::atomic<bool>> genreStop = std::make_shared<std::atomic<bool>>(false);
    // Paths whose quality (genre) probe could not be started (no ffprobe) or
    // was killed at its time limit: their results hold for this run only and
    // are left out of every save of that store, so a later run probes them
    // again. One set per store: one probe's success says nothing of the other.
    QSet<QString> qualUnfinished;
    QSet<QString> genreUnfinished;
    // Encodes and writes the batch saves of "genres.json" off the main thread.
    std::unique_ptr<StoreWriter> genreSaves = std::make_unique<StoreWriter>();
    // Playback waits for the first hi-res track the quality probes find.
    bool autoPlayWhenReady = false;
    // The refilter 1.2 s after the last quality result while the hi-res smart
    // list is shown; a child of App, made on first use.
    QTimer* qualRefilter = nullptr;
    // Added date by file path, seconds since 1970 (0: unknown); never saved.
    QHash<QString, double> added;
    // Files whose added date is being read: each catalog that comes while a
    // date list is shown asks for the missing ones, and these are not read
    // twice.
    QSet<QString> addedPending;

    // `results` without the entries of `unfinished`: what a save writes.
    // Both maps share their data on copy: nothing is copied when nothing is
    // left out.
    template <class Map> static Map saved(const Map& results, const QSet<QString>& unfinished) {
        Map kept = results;
        for (const QString& path : unfinished)
            kept.remove(path);
        return kept;
    }
    // Hands the whole of `genres` as it is now, less `genreUnfinished`, to
    // `genreSaves` for "genres.json" in `store`; the main thread only takes
    // the snapshot. While an earlier save still waits or is being written,
    // the save is only marked due (`genresSaveDue`) and the next call takes
    // the snapshot: each snapshot makes the next change copy the whole map
    // (ten megabytes at 100,000 files), and the scan's batches come far
    // faster than a save is written. The snapshot is dropped on the main
    // thread, which made its blocks (app/MainThreadRelease.h).
    void saveGenres(const JSONStore& store) {
        genresSaveDue = true;
        if (!genreSaves->busy(store.filePath(QString::fromLatin1(stores::kGenres))))
            saveDueGenres(store);
    }
    // The save marked due, made now whatever the writer is doing (the scan's
    // end, the quit); nothing when none is due.
    void saveDueGenres(const JSONStore& store) {
        if (!genresSaveDue)
            return;
        genresSaveDue = false;
        const QString name = QString::fromLatin1(stores::kGenres);
        genreSaves->submit(store.filePath(name),
                           [store, name, genres = genres, unfinished = genreUnfinished]() mutable {
                               store.save(name, saved(genres, unfinished));
                               releaseOnMainThread(std::move(genres));
                           });
    }
    // A change of `genres` waits for its save (see saveGenres).
    bool genresSaveDue = false;
    // Bumped by the quit so that file imports still running are dropped when
    // they arrive.
    quint64 fileOpenGeneration = 0;
    // Requested by the quit: the import running then is killed with its
    // process group, and no further one starts.
    std::shared_ptr<platform::ChildStop> importStop = std::make_shared<platform::ChildStop>();
    // The backend has sent the catalog of a finished scan (or of a start
    // record it confirmed) this run.
    bool catalogHeard = false;
    // The visible list holds only files opened before the backend's first
    // catalog (a first run started with files): what follows the last of
    // them is not known yet. Set by the file intake, cleared when the
    // catalog of a finished scan comes or the backend fails.
    bool listAwaited = false;

    // ---- backend requests ---------------------------------------------------
    // A request is in flight: set by each written request, cleared by each
    // reply line (and by a failed write).
    bool pending = false;
    // The backend failed to start, a write to it failed or it ended; from
    // then on every request is dropped for the rest of the run.
    bool backendError = false;
    // Menu requests that found another request in flight, sent at the tick's
    // next free turn: one rescan, and the latest track to complete.
    bool scanDue = false;
    std::optional<qint64> enrichDue;

    // ---- the backend process --------------------------------------------------
    // The long-lived backend (its standard input takes the requests, its
    // standard output gives the replies); a child object of App, null before
    // the start. Never restarted.
    QProcess* backend = nullptr;
    // Its process group (its own id; it starts one of its own), which the
    // teardown ends; 0 when it did not start.
    qint64 backendGroup = 0;
    // Until when the backend may save its cache once the quit closed its
    // input; then its group is killed.
    std::optional<QDeadlineTimer> backendSaveEnd;
    // Decodes and compares the reply lines, reads and writes the cache; made
    // on first use (App::catalogWork()).
    std::unique_ptr<CatalogWorker> work;
    // Reads the backend's standard output off the main thread (it asks
    // `work` for arrays to fill, so it goes first); its process ended, its
    // output ended.
    std::unique_ptr<LineReader> reader;
    bool backendExited = false;
    bool outputEnded = false;
    // The generation of `rows` as the catalog worker knows it (CatalogIntake.h):
    // an update made against another one is dropped.
    quint64 catalogGeneration = 0;
    // The worker's own catalog, equal to `rows` while `sharedGeneration` is
    // the catalog's generation: shared and never changed, so the visible list
    // points into it instead of copying its tracks.
    std::shared_ptr<const std::vector<Track>> shared;
    quint64 sharedGeneration = 0;
    // The generation the browser's search memo was filled from by the
    // worker.
    quint64 memoGeneration = 0;
    // The row of each id of the catalog of `idRowsGeneration` (see IdRows in
    // ui/ShuffleOrder.h), and whether its ids are all distinct.
    std::shared_ptr<const IdRows> idRows;
    quint64 idRowsGeneration = 0;
    bool distinctIds = false;
    // The last reply taken repeated the one before byte for byte, so it was
    // not decoded again.
    bool lastReplyRepeated = false;
};

} // namespace ql
