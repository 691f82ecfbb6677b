// ---- library: the background genre scan ----
//
// One ffprobe at a time on the serial genre queue, for every catalog file
// without an entry; results reach `genres` and "genres.json" 40 files at a
// time. A probe that could not start or was killed at its limit records ""
// for this run only (genreUnfinished), never saved. The quit stops the loop
// between files.
#include "app/App.h"

#include "library/QualityLabel.h"
#include "platform/ChildProcess.h"
#include "playback/DecodeCommand.h"
#include "ui/StatusLabel.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QThreadPool>

namespace ql {

namespace {

constexpr int kBatch = 40;

struct GenreBatch {
    QHash<QString, QString> genres;
    QSet<QString> unfinished;
};

void mergeBatch(App& app, const GenreBatch& batch, int count, int total) {
    LibraryState& lib = app.library;
    for (auto it = batch.genres.cbegin(); it != batch.genres.cend(); ++it) {
        lib.genres.insert(it.key(), it.value());
        if (batch.unfinished.contains(it.key()))
            lib.genreUnfinished.insert(it.key());
    }
    app.core.store.save(QString::fromLatin1(stores::kGenres),
                        lib.saved(lib.genres, lib.genreUnfinished));
    if (app.browser.viewKind == 3) {
        app.rebuildAlbums();
        app.reloadAlbumGrid();
    }
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
    QPointer<App> self(this);
    platform::ChildOptions options;
    options.registry = children; // the quit ends a probe still running
    genreQueue->start([self, paths, ffprobe, cwd, options, stop = library.genreStop] {
        const auto toMain = [self](auto step) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, step] {
                    if (self)
                        step(*self);
                },
                Qt::QueuedConnection);
        };
        GenreBatch batch;
        int count = 0;
        for (const QString& path : paths) {
            if (stop->load())
                return;
            const platform::ChildRun run = platform::runChild(
                ffprobe,
                {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-show_entries"),
                 QStringLiteral("format_tags=genre"), QStringLiteral("-of"),
                 QStringLiteral("default=nw=1:nk=1"), ffmpegInput(path, cwd)},
                options);
            batch.genres.insert(path, run.finished() ? genreValue(run.out) : QString());
            if (!run.finished())
                batch.unfinished.insert(path);
            ++count;
            if (count % kBatch == 0 || count == paths.size()) {
                const int total = int(paths.size());
                toMain([batch, count, total](App& app) { mergeBatch(app, batch, count, total); });
                batch = {};
            }
        }
        toMain([](App& app) {
            app.library.genrePending = false;
            app.status->setStringValue(QStringLiteral("🎼 장르 정리 완료"));
        });
    });
}

} // namespace ql
