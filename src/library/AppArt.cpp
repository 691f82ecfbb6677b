// ---- art: the transport bar's cover ----
//
// The default cover shows at once. On the file's reader (UserFiles) ffmpeg
// takes the picture embedded in the file out (library/CoverCommand.h), through a file
// in the run's private work folder; when there is none and the track's `art`
// is an https address, that address is fetched on the network thread,
// bounded in time and size. Whatever arrives is shown
// only while the track is still the current one. Every failure is silent and
// leaves the default cover, as does a file refused as slow.
#include "app/App.h"

#include "app/Delivery.h"
#include "library/CoverCommand.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "platform/UserFiles.h"
#include "platform/WebFetch.h"
#include "app/DecodeCommand.h"
#include "app/WorkFolder.h"
#include "platform/audio/FfmpegGate.h"
#include "playback/InFlightFiles.h"
#include "ui/ClickImageView.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QThreadPool>
#include <QUuid>

namespace ql {

namespace {

// Decoded under Qt's image allocation limit, so a small file that claims a
// huge picture is refused instead of filling the memory.
QImage decodeImage(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    return reader.read();
}

// The embedded picture, through a file in the run's private work folder
// (`folder`, app/WorkFolder.h), made empty with mode 0600 before ffmpeg
// writes it and removed on every path; a kill leaves it in that folder,
// which a later start removes whole. It is one of the files in flight while
// it exists, so a quit that comes meanwhile deletes it with the others, and
// none is made once the quit has begun. A null picture when there is no such
// folder (the address is tried then). None when ffmpeg could not be started
// or was ended by the quit: then nothing else is tried.
std::optional<QImage> extractCover(const QString& program, const QString& input,
                                   const QString& folder,
                                   const std::shared_ptr<platform::ChildRegistry>& children,
                                   const std::shared_ptr<InFlightFiles>& inFlight) {
    const QString output = coverOutputPath(folder, QUuid::createUuid());
    if (!inFlight->add(output))
        return std::nullopt;
    struct Removal {
        std::shared_ptr<InFlightFiles> files;
        QString path;
        ~Removal() {
            files->take(path);
            QFile::remove(path);
        }
    } removal{inFlight, output};
    if (!reserveFile(output))
        return QImage();
    if (platform::FfmpegGate::kept(input))
        return QImage(); // none to be had: the web address is tried
    platform::ChildOptions options;
    options.registry = children; // the quit ends an extraction still running
    const platform::ChildRun run =
        platform::runChild(program, coverArguments(input, output), options);
    if (!run.started || run.terminated)
        return std::nullopt;
    QImageReader reader(output);
    return reader.read();
}

// Whether `art` is an address to fetch a cover from.
std::optional<QUrl> coverAddress(const QString& art) {
    const QUrl url(art, QUrl::StrictMode);
    if (art.isEmpty() || !url.isValid() || url.scheme() != QLatin1String("https"))
        return std::nullopt;
    return url;
}

} // namespace

void App::loadArt(const Track& track) {
    art->setImage(defaultCover());

    const QString program = services.tools->coverProgram();
    const QString input = ffmpegInput(track.path, QDir::currentPath());
    const QString folder = workDir();
    const std::shared_ptr<const Tools> tools = services.tools;
    // Shown only while the same track is current: any answer for that track
    // is its picture, whichever request of it asked.
    auto show = [delivery = Delivery(this), id = track.id](const QImage& image) {
        if (image.isNull())
            return;
        delivery.post([id, image](App& app) {
            if (app.playback.current && app.playback.current->id == id)
                app.art->setImage(image);
        });
    };
    platform::UserFiles::read(
        track.path, [program, input, folder, tools, show, art = track.art, children = children,
                     inFlight = playback.inFlight](const platform::UserFiles::Touch&) {
            const std::optional<QImage> picture =
                extractCover(program, input, folder, children, inFlight);
            if (!picture)
                return;
            if (!picture->isNull()) {
                show(*picture);
                return;
            }
            if (const std::optional<QUrl> url = coverAddress(art))
                // The answer arrives on the network thread: decoded back here.
                tools->fetchCover(*url, [show](std::optional<QByteArray> body) {
                    if (body) // decoding touches no file: Qt's shared pool
                        QThreadPool::globalInstance()->start(
                            [show, bytes = std::move(*body)] { show(decodeImage(bytes)); });
                });
        });
}

} // namespace ql
