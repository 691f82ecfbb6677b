// ---- browser: album covers for the table's rows and the transport bar ----
//
// Seam: the cover service (covers read from the "covers" folder or extracted
// from the audio file with ffmpeg on the cover queue, then kept in
// browser.coverCache; the mosaics of artist and genre tiles) comes with the
// cover-art work. Until then albumCover finds only what the cache holds, which
// nothing fills yet, so rows and the transport bar show the default cover.
#include "app/App.h"

#include "app/AppPaths.h"

#include <QImage>

namespace ql {

QString App::albumKey(const Track& track) {
    return normalizedSearch(track.album) + QLatin1Char('|') + normalizedSearch(track.artist);
}

void App::albumCover(const AlbumItem& item, std::function<void(const QImage&)> done) {
    const auto cached = browser.coverCache.constFind(item.key);
    done(cached != browser.coverCache.constEnd() ? *cached : QImage());
}

// Read once: the table paints it in every row without a cover.
QImage App::defaultCover() {
    static const QImage image(resourcePath(QStringLiteral("Quavelark.png")));
    return image;
}

} // namespace ql
