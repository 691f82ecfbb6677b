// ---- catalog: backend replies and the catalog cache ----
//
// Every reply of the backend that carries tracks replaces the catalog. Only a
// real change (CatalogChange.h) costs a cache write, a folder-list rebuild and
// a refilter; the steady 2 s poll only reassigns what differs and recomposes
// the count text.
//
// While the backend is still scanning, its list may be a fraction of the
// library (every launch without its own cache starts empty): such a reply,
// shorter than the catalog shown, is not taken in, so the cached catalog, the
// cache file and the stored view state survive; only the count and the
// scanning notice follow it. A chosen folder missing from a scanning reply is
// kept until a finished reply.
#include "app/App.h"

#include "app/FailureText.h"
#include "app/JsonCodec.h"
#include "library/CatalogChange.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QFile>
#include <QLabel>

namespace ql {

void App::handleReply(const Library& reply) {
    if (reply.tracks) {
        const std::vector<Track>& tracks = *reply.tracks;
        const bool scanning = reply.scanning.value_or(false);
        const bool partial = scanning && tracks.size() < library.rows.size();
        const CatalogComparison comparison =
            partial ? CatalogComparison{.changed = false, .identical = true} // kept as shown
                    : compareCatalogs(library.rows, tracks);
        // A change of durations alone is taken in without the costly steps.
        if (!comparison.identical)
            library.rows = tracks;
        if (comparison.changed) {
            saveCatalog();
            rebuildFolders(!scanning);
            filter(false);
        }
        // The current track's entry renamed or given a cover: show it. The
        // player goes on with the file it opened.
        if (playback.current) {
            if (const Track* entry = refreshedCurrent(library.rows, *playback.current)) {
                const Track fresh = *entry;
                playback.current = fresh;
                views.titleLabel->setText(fresh.title);
                views.artistLabel->setText(fresh.artist);
                loadArt(fresh);
            }
        }
        // After a change the refilter has just shown the plain count as a held
        // message, so this text (with the scanning notice) waits for a later
        // reply.
        status->setAuto(L10n::tr(catalogCountText(qsizetype(browser.filtered.size()),
                                                  qsizetype(library.rows.size()), scanning)));
    }
    if (reply.error && !reply.error->isEmpty())
        showBackendMessage(*reply.error);
}

void App::showBackendMessage(const QString& message) {
    // The backend's messages are Korean sentences, some ending in a value
    // after ": " (a file name, an error of the system). The sentence is
    // translated, the value shown as it is.
    const qsizetype colon = message.indexOf(QStringLiteral(": "));
    if (colon < 0) {
        status->setStringValue(L10n::tr(message));
        return;
    }
    status->setTranslated(L10n::tr(message.left(colon + 2)) + message.mid(colon + 2));
}

QString App::catalogURL() const {
    return core.store.filePath(QString::fromLatin1(stores::kCatalog));
}

void App::restoreCatalog() {
    QFile file(catalogURL());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    // A damaged cache is left where it is; the next change overwrites it.
    std::optional<std::vector<Track>> tracks = JsonCodec<std::vector<Track>>::decode(bytes);
    if (!tracks || tracks->empty())
        return;
    library.rows = std::move(*tracks);
    rebuildFolders();
    filter(false);
}

void App::saveCatalog() {
    const std::optional<QByteArray> bytes = JsonCodec<std::vector<Track>>::encode(library.rows);
    QString error;
    if (!bytes)
        error = L10n::tr(QStringLiteral("재생 시간이 올바르지 않은 곡이 있습니다."));
    else if (core.store.writeBytes(QString::fromLatin1(stores::kCatalog), *bytes))
        return;
    else // the folder or the file: no permission, or no room left
        error = failureText(Failure::FileNotWritable, catalogURL());
    status->setTranslated(L10n::tr(QStringLiteral("목록 저장 실패: ")) + error);
}

} // namespace ql
