// ---- library: the background genre scan ----
//
// The scan loop runs on the serial genre queue, for every catalog file
// without an entry; results reach `genres` and "genres.json" 40 files at a
// time, in catalog order. The 40 files of a batch are read side by side on a
// pool of the scan's own, one thread per processor: each in-process with the
// FFmpeg libraries (platform/audio/FormatTags.h, the value ffprobe would
// print), ffprobe itself only for a file the libraries cannot open. Both read
// the file's genre tag, else its streams' (Ogg keeps its comments there). A probe
// that could not start or was killed at its limit records "" for this run
// only (genreUnfinished), never saved. The quit stops the loop between files.
// Each batch's save of "genres.json" is encoded and written by the store
// writer (app/StoreWriter.h); batches that come while it writes are saved
// with the next one, or at the scan's end; the quit saves what is left and
// waits for the last.
#include "app/App.h"

#include "app/DecodeCommand.h"
#include "app/Delivery.h"
#include "app/UserDefaults.h"
#include "library/QualityLabel.h"
#include "platform/ChildProcess.h"
#include "platform/UserFiles.h"
#include "platform/audio/FormatTags.h"
#include "ui/AlbumGrouping.h"
#include "ui/StatusLabel.h"

#include <QDir>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <vector>

namespace ql {

namespace {

constexpr int kBatch = 40;

struct GenreBatch {
    QHash<QString, QString> genres;
    QSet<QString> unfinished;
};

struct GenreProbe {
    QString genre;
    bool finished = true; // false: ffprobe did not start or did not end in time
};

// The file's genre tag; when the file has none, its streams' (Ogg keeps its
// comments there), read by a second ffprobe run only then.
GenreProbe probeGenre(const QString& input, const QString& ffprobe,
                      const platform::ChildOptions& options) {
    if (const std::optional<QByteArray> lines = platform::tagLines(input, "genre"))
        return {genreValue(*lines)};
    const auto tags = [&](const QString& entries) {
        return platform::runChild(ffprobe,
                                  {QStringLiteral("-v"), QStringLiteral("quiet"),
                                   QStringLiteral("-show_entries"), entries, QStringLiteral("-of"),
                                   QStringLiteral("default=nw=1:nk=1"), input},
                                  options);
    };
    platform::ChildRun run = tags(QStringLiteral("format_tags=genre"));
    if (run.finished() && run.out.isEmpty())
        run = tags(QStringLiteral("stream_tags=genre"));
    return {run.finished() ? genreValue(run.out) : QString(), run.finished()};
}

void mergeBatch(App& app, const GenreBatch& batch, int count, int total) {
    LibraryState& lib = app.library;
    for (auto it = batch.genres.cbegin(); it != batch.genres.cend(); ++it) {
        lib.genres.insert(it.key(), it.value());
        if (batch.unfinished.contains(it.key()))
            lib.genreUnfinished.insert(it.key());
    }
    // Encoding a hundred thousand entries takes longer than many frames: the
    // writer thread does it, batches that come while it writes waiting for
    // the next save.
    lib.saveGenres(app.core.store);
    ++lib.genresPass;
    // A large list is regrouped on a pool thread, one grouping at a time:
    // regrouping it here for each of hundreds of batches froze the window.
    if (app.browser.viewKind == 3)
        app.refreshAlbums();
    app.status->setStringValue(QStringLiteral("🎼 장르 읽는 중 %1/%2").arg(count).arg(total));
}

} // namespace

void App::startGenreScan() {
    if (library.genrePending)
        return;
    QStringList paths;
    for (const Track& t : library.rows)
        if (!library.genres.contains(t.path))
            paths << t.path;
    if (paths.isEmpty())
        return;
    library.genrePending = true;
    status->setStringValue(
        QStringLiteral("🎼 장르 태그 읽는 중… (%1곡, 백그라운드)").arg(paths.size()));
    const QString ffprobe = probeTool(QStringLiteral("ffprobe"));
    const QString cwd = QDir::currentPath();
    const Delivery delivery(this);
    platform::ChildOptions options;
    options.registry = children; // the quit ends a probe still running
    genreQueue->start([delivery, paths, ffprobe, cwd, options, stop = library.genreStop] {
        QThreadPool readers;
        readers.setMaxThreadCount(QThread::idealThreadCount());
        readers.setThreadPriority(QThread::LowPriority); // a background chore
        const int total = int(paths.size());
        for (int start = 0; start < total; start += kBatch) {
            const int size = std::min(kBatch, total - start);
            std::vector<GenreProbe> probes(std::size_t(size), GenreProbe{});
            for (int i = 0; i < size; ++i)
                readers.start([&, i] {
                    // Through the file's reader: one its disk holds keeps
                    // this batch at most an open's deadline, then is left.
                    if (!stop->load())
                        platform::UserFiles::readNow(
                            paths[start + i], [&](const platform::UserFiles::Touch&) {
                                probes[std::size_t(i)] = probeGenre(
                                    ffmpegInput(paths[start + i], cwd), ffprobe, options);
                            });
                });
            readers.waitForDone();
            if (stop->load())
                return;
            GenreBatch batch;
            for (int i = 0; i < size; ++i) {
                const GenreProbe& probe = probes[std::size_t(i)];
                batch.genres.insert(paths[start + i], probe.genre);
                if (!probe.finished)
                    batch.unfinished.insert(paths[start + i]);
            }
            const int count = start + size;
            delivery.post(
                [batch, count, total](App& app) { mergeBatch(app, batch, count, total); });
        }
        delivery.post([](App& app) {
            app.library.genrePending = false;
            // The last batches' genres, if they came while a save was written.
            app.library.saveDueGenres(app.core.store);
            // The Ogg files forgotten at launch were among this scan's.
            UserDefaults defaults;
            if (!defaults.boolean(keys::kGenreStreamTags))
                defaults.set(keys::kGenreStreamTags, true);
            app.status->setStringValue(QStringLiteral("🎼 장르 정리 완료"));
            // Files that came with a catalog while this scan ran were not
            // among its own: read them now while the genre grid shows them.
            if (app.browser.viewKind == kGenreView)
                app.startGenreScan();
        });
    });
}

} // namespace ql
