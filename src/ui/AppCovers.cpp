// ---- browser: the cover service of the tiles, the table's rows and headers ----
//
// Covers are kept in memory by cover key (browser.coverCache; a mosaic under
// its mosaicKey, which names the albums it shows) and on disk as
// "covers/<n>.jpg" in the data folder (n from coverFileName). A request the
// memory cache cannot answer goes to the cover queue, one at a time in
// request order: the file is read, else ffmpeg takes the picture embedded in
// the tile's first track out (library/CoverCommand.h) and the file is read
// again. The answer comes back on the main thread through the application
// object and is cached in memory only when there is a picture. A file that
// ffmpeg reports to hold no picture stream is remembered on disk as
// "covers/<n>.none" holding its path, size and modification time, so no
// extraction runs for it again (not even after a restart) until the file
// changes. Any other failure (ffmpeg missing, killed or ended by the quit, a
// read error, a covers folder without room) says nothing of the file and
// leaves no such mark: the next request tries again. Requests for one album are not
// merged: the second finds the file the first wrote. Covers are asked for by
// what shows them (a tile, a title cell): a request whose tile or row has
// left the screen by the time its turn comes is dropped unanswered
// (ui/CoverTicket.h), so a regrouped or scrolled grid never leaves a queue
// of pictures nobody sees.
//
// ffmpeg writes under a temporary name in the covers folder, renamed to
// "<n>.jpg" only when ffmpeg exits with status 0: a run cut short (the quit,
// a full disk) never leaves a half-written cover that would stay for good.
#include "app/App.h"

#include "app/AppPaths.h"
#include "app/DecodeCommand.h"
#include "app/Delivery.h"
#include "app/FileStamp.h"
#include "library/CoverCommand.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "platform/UserFiles.h"
#include "platform/audio/FfmpegGate.h"
#include "ui/AlbumGrouping.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPointer>
#include <QSaveFile>
#include <QThreadPool>
#include <QUuid>

#include <cstdio>

namespace ql {

namespace {

// Decoding stops above this many megabytes, so a file in the covers folder
// that claims a huge picture is refused instead of filling the memory.
constexpr int kReadLimitMB = 64;
constexpr int kMosaicEdge = 300;

QImage readCover(const QString& file) {
    QImageReader reader(file);
    reader.setAllocationLimit(kReadLimitMB);
    return reader.read();
}

// The audio file as a mark names it: its path, size and modification time
// (to the millisecond), a line each. Empty when the file cannot be looked at.
QByteArray markedFile(const QString& path) {
    const FileStamp stamp = fileStamp(path);
    if (!stamp.exists())
        return {};
    return path.toUtf8() + '\n' + QByteArray::number(stamp.size) + '\n' +
           QByteArray::number(stamp.modifiedMs()) + '\n';
}

QString noPictureMark(const QString& coverFile) {
    return coverFile.chopped(4) + QStringLiteral(".none");
}

// A mark's text: this line, then the stamp. Marks without it were written
// after any failed extraction, read errors and full disks included, so they
// are not believed: each costs one extraction more.
constexpr QByteArrayView kMarkHead = "no picture stream\n";

bool knownWithoutPicture(const QString& coverFile, const QByteArray& stamp) {
    if (stamp.isEmpty())
        return false;
    const QByteArray text = kMarkHead.toByteArray() + stamp;
    QFile mark(noPictureMark(coverFile));
    return mark.open(QIODevice::ReadOnly) && mark.read(text.size() + 1) == text;
}

// Written whole or not at all: a torn mark would only cost one extraction, but
// a full disk must not leave an empty file that looks like a mark.
void rememberNoPicture(const QString& coverFile, const QByteArray& stamp) {
    const QByteArray text = kMarkHead.toByteArray() + stamp;
    QSaveFile mark(noPictureMark(coverFile));
    if (mark.open(QIODevice::WriteOnly) && mark.write(text) == text.size())
        mark.commit();
}

// ffmpeg ended by itself and said that the file holds no picture stream:
// what it prints when the map of the first video stream (CoverCommand.h)
// matches nothing. Only the last lines are kept, and that message is the
// last thing a run that found no picture prints.
constexpr qsizetype kErrorTail = 4096;

bool reportsNoPicture(const platform::ChildRun& run) {
    return run.finished() && !run.crashed && run.exitCode != 0 &&
           run.err.contains("matches no streams");
}

// On the cover queue: the cover file, else an extraction into it unless the
// file is known to hold no picture. A cover file that does not load counts as
// missing. `path` is the audio file itself, `input` its name for ffmpeg.
QImage loadOrExtract(const QString& program, const QString& path, const QString& input,
                     const QString& folder, const QString& name,
                     const std::shared_ptr<platform::ChildRegistry>& children) {
    const QString file = folder + QLatin1Char('/') + name;
    if (QImage image = readCover(file); !image.isNull())
        return image;
    const QByteArray stamp = markedFile(path);
    if (knownWithoutPicture(file, stamp))
        return QImage();
    // No picture is ever taken from it: remembered as none, so that a later
    // request, in this run or the next, stops at the mark.
    if (platform::FfmpegGate::kept(input)) {
        if (!stamp.isEmpty() && QDir().mkpath(folder))
            rememberNoPicture(file, stamp);
        return QImage();
    }
    QDir().mkpath(folder);
    // Still ending in ".jpg": ffmpeg picks the format from the name.
    const QString partial = temporaryPath(folder, QLatin1Char('.') + name + QLatin1Char('-'),
                                          QUuid::createUuid(), QStringLiteral(".jpg"));
    platform::ChildOptions options;
    options.discardStdout = true;
    options.keepStderr = true;
    options.stderrTail = kErrorTail;
    options.registry = children; // the quit ends an extraction still running
    const platform::ChildRun run =
        platform::runChild(program, coverArguments(input, partial), options);
    // rename(2) replaces a "<n>.jpg" that did not load.
    if (!run.succeeded() || std::rename(QFile::encodeName(partial).constData(),
                                        QFile::encodeName(file).constData()) != 0)
        QFile::remove(partial);
    QImage image = readCover(file);
    // Only ffmpeg's word that there is no picture is remembered: a read that
    // failed or a cover that could not be written may well work next time.
    // The stamp is taken before the run, so a file changed meanwhile does not
    // match.
    if (image.isNull() && reportsNoPicture(run) && !stamp.isEmpty())
        rememberNoPicture(file, stamp);
    else if (!image.isNull())
        QFile::remove(noPictureMark(file));
    return image;
}

// A cover keeps its shape wherever it is shown: one picture is the mosaic
// itself, at most 300 on its longer side, and the tile or header fits it into
// its square as it fits an album's own cover. Two to four fill the four cells
// of a 300 square, the top row first, left to right, cell i showing picture
// i mod count, each scaled within its cell and centred; what a picture leaves
// of its cell stays clear.
QImage fitted(const QImage& image, const QSize& box) {
    return image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage coverMosaic(const std::vector<QImage>& images) {
    if (images.size() == 1)
        return fitted(images.front(), {kMosaicEdge, kMosaicEdge});
    QImage mosaic(kMosaicEdge, kMosaicEdge, QImage::Format_ARGB32_Premultiplied);
    mosaic.fill(Qt::transparent);
    QPainter painter(&mosaic);
    constexpr int cell = kMosaicEdge / 2;
    for (std::size_t i = 0; i < 4; ++i) {
        const QImage picture = fitted(images[i % images.size()], {cell, cell});
        painter.drawImage(QPoint(int(i % 2) * cell + (cell - picture.width()) / 2,
                                 int(i / 2) * cell + (cell - picture.height()) / 2),
                          picture);
    }
    return mosaic;
}

} // namespace

QString App::albumKey(const Track& track) {
    return ql::albumKey(track);
}

QString App::coverFolder() const {
    return core.store.dir() + QStringLiteral("/covers");
}

void App::albumCover(const AlbumItem& item, std::function<void(const QImage&)> done,
                     const CoverTicket& ticket) {
    if (const QImage cached = browser.coverCache.find(item.key); !cached.isNull()) {
        done(cached);
        return;
    }
    // Looked up on the queue: the search of the tool folders touches the disk.
    const std::shared_ptr<const Tools> tools = services.tools;
    // A record without tracks has no file to read: it answers nothing, later.
    const QString input = item.tracks.empty()
                              ? QString()
                              : ffmpegInput(item.tracks.front().path, QDir::currentPath());
    const Delivery delivery(this);
    // The file's own absolute path is ffmpeg's input without its "file:".
    coverQueue->start([delivery, tools, path = input.mid(5), input, folder = coverFolder(),
                       name = coverFileName(item.key), children = children, key = item.key, ticket,
                       done = std::move(done)] {
        // Its tile or row went out of view while the request waited.
        if (!ticket.wanted())
            return;
        // A cover file already made is read here; the audio file only
        // through its reader (none from a file refused as slow).
        QImage image = input.isEmpty() ? QImage() : readCover(folder + QLatin1Char('/') + name);
        if (!input.isEmpty() && image.isNull())
            platform::UserFiles::readNow(path, [&](const platform::UserFiles::Touch&) {
                image = loadOrExtract(tools->coverProgram(), path, input, folder, name, children);
            });
        delivery.post([key, image, done](App& app) {
            app.browser.coverCache.insert(key, image);
            done(image);
        });
    });
}

void App::groupCover(const AlbumItem& item, std::function<void(const QImage&)> done,
                     const CoverTicket& ticket) {
    if (item.kind == QLatin1String("album")) {
        albumCover(item, std::move(done), ticket);
        return;
    }
    const std::vector<AlbumItem> albums = mosaicAlbums(item);
    if (albums.empty()) {
        done(QImage());
        return;
    }
    const QString key = mosaicKey(item.key, albums);
    if (const QImage cached = browser.coverCache.find(key); !cached.isNull()) {
        done(cached);
        return;
    }
    // The album covers answer in any mix of at once and later; the last
    // answer draws the mosaic.
    struct Pending {
        std::vector<QImage> answers;
        std::size_t outstanding;
        QString key;
        std::function<void(const QImage&)> done;
    };
    auto pending = std::make_shared<Pending>(
        Pending{std::vector<QImage>(albums.size()), albums.size(), key, std::move(done)});
    QPointer<App> self(this);
    // A request dropped as no longer wanted never answers: the mosaic is then
    // neither drawn nor cached, and is asked for again when next shown.
    for (std::size_t i = 0; i < albums.size(); ++i)
        albumCover(
            albums[i],
            [self, pending, i](const QImage& image) {
                pending->answers[i] = image;
                if (--pending->outstanding > 0)
                    return;
                std::vector<QImage> images;
                for (const QImage& answer : pending->answers)
                    if (!answer.isNull())
                        images.push_back(answer);
                const QImage mosaic = images.empty() ? QImage() : coverMosaic(images);
                if (self)
                    self->browser.coverCache.insert(pending->key, mosaic);
                pending->done(mosaic);
            },
            ticket);
}

// Read once: the table paints it in every row without a cover.
QImage App::defaultCover() {
    static const QImage image(resourcePath(QStringLiteral("Quavelark.png")));
    return image;
}

} // namespace ql
