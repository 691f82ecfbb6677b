// ---- catalog: backend replies and the catalog cache ----
//
// Replies are decoded and compared by the catalog worker (CatalogWorker.h),
// which also folds the search text of new rows and lists the folders; the
// main thread takes its updates in the order they were made. Every reply of the backend that
// carries tracks replaces the catalog, but for a partial one (below). Only a real change
// (CatalogChange.h) costs a cache write, a folder-list rebuild and a refilter; the steady 2 s poll
// only reassigns what differs and recomposes the count text.
//
// While the backend is still scanning, its list may be a fraction of the
// library (every launch without its own cache starts empty): such a reply,
// shorter than the catalog shown, is not taken in, so the cached catalog, the
// cache file and the stored view state survive. The count text is still
// written for such a reply, with its scanning notice, but its total stays that
// of the catalog shown, never the reply's shorter length. A chosen folder
// missing from a scanning reply is kept until a finished reply.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/FailureText.h"
#include "library/CatalogChange.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <utility>

namespace ql {

CatalogWorker& App::catalogWork() {
    if (!library.work) {
        library.work = std::make_unique<CatalogWorker>(
            this, [this](CatalogUpdate update) { takeCatalogUpdate(std::move(update)); },
            [this](CatalogSave result) { catalogSaved(result); });
    }
    return *library.work;
}

void App::runCatalogInBackground() {
    catalogWork().startThreads();
}

void App::takeCatalogUpdate(CatalogUpdate update) {
    // Made against a catalog the main thread has replaced since (an import):
    // the worker already compares the next reply with the new one.
    if (update.fromGeneration != library.catalogGeneration)
        return;
    library.lastReplyRepeated = update.repeat;
    CatalogWorker& work = catalogWork();
    if (update.taken) {
        // The old catalog and memo are freed by the worker: a hundred
        // thousand tracks take longer to free than a frame lasts.
        work.retire(std::exchange(library.rows, std::move(update.tracks)));
        library.catalogGeneration = update.toGeneration;
    }
    if (update.memo) {
        work.retire(std::exchange(browser.searchMemo, std::move(update.memo)));
        library.memoGeneration = update.toGeneration;
    }
    if (update.idRows) {
        library.distinctIds = update.distinctIds;
        work.retire(std::exchange(library.idRows, std::move(update.idRows)));
        library.idRowsGeneration = update.toGeneration;
    }
    if (update.shared) {
        work.retire(std::exchange(library.shared, std::move(update.shared)));
        library.sharedGeneration = update.toGeneration;
    }
    if (update.restored) {
        // The cache's rows are shown as soon as they are decoded, unless a
        // search or a folder needs their texts, which come next.
        const bool needsTexts =
            !search->text().trimmed().isEmpty() || !browser.selectedFolder.isEmpty();
        if (update.folders)
            showFolders(*update.folders, true);
        if (update.taken ? !needsTexts : needsTexts)
            filter(false);
        if (update.taken)
            warmShownView();
        return;
    }
    if (update.hasTracks) {
        // A change of durations alone is taken in without the costly steps.
        if (update.comparison.changed) {
            saveCatalog();
            showFolders(*update.folders, !update.scanning);
            filter(false);
            warmShownView();
        }
        // The current track's entry renamed or given a cover: show it. The
        // player goes on with the file it opened.
        if (playback.current) {
            if (const Track* entry = refreshedEntry(*playback.current)) {
                const Track fresh = *entry;
                playback.current = fresh;
                views.titleLabel->setText(fresh.title);
                views.artistLabel->setText(fresh.artist);
                services.analysers->loadArt(*this, fresh);
            }
        }
        // After a change the refilter has just shown the plain count as a held
        // message, so this text (with the scanning notice) waits for a later
        // reply.
        status->setAuto(L10n::tr(catalogCountText(
            qsizetype(browser.filtered.size()), qsizetype(library.rows.size()), update.scanning)));
        // A scan's list may already hold what follows the files opened
        // before it; its end settles the list.
        if (!update.partial && !update.scanning) {
            library.catalogHeard = true;
            library.listAwaited = false;
        }
        if (!update.partial)
            resumeHeldEnd();
    }
    if (update.error && !update.error->isEmpty())
        showBackendMessage(*update.error);
}

const Track* App::refreshedEntry(const Track& current) const {
    // The worker's id -> row table of this very catalog finds the entry
    // without walking a hundred thousand rows at every poll.
    // Without the worker's threads (most unit tests) the rows may have been
    // set directly: they are walked.
    const IdRows* index = library.idRows.get();
    if (!index || !library.work || !library.work->threaded() ||
        library.idRowsGeneration != library.catalogGeneration ||
        index->rows() != library.rows.size())
        return refreshedCurrent(library.rows, current);
    const std::ptrdiff_t row = index->rowOf(current.id);
    return row < 0 ? nullptr : refreshedCurrent(library.rows[std::size_t(row)], current);
}

void App::catalogReplaced() {
    library.catalogGeneration = nextCatalogGeneration();
    CatalogWorker& work = catalogWork();
    if (work.threaded())
        work.rebase(library.rows, library.catalogGeneration);
}

void App::showBackendMessage(const QString& message) {
    // The backend's messages are Korean sentences, some ending in a value
    // after ": " (a file name, an error of the system). The sentence is
    // translated, the value shown as it is.
    const qsizetype colon = message.indexOf(QStringLiteral(": "));
    const QString text =
        colon < 0 ? L10n::tr(message) : L10n::tr(message.left(colon + 2)) + message.mid(colon + 2);
    // What it says unasked, once (a file of its own set aside, no tag reader),
    // is a notice: a track opened meanwhile must not hide it. The rest answers
    // a request, and a failure among them must not be lost behind notices.
    static const QStringList notices{
        QStringLiteral("손상된 파일을 따로 보관했습니다: "),
        QStringLiteral("python3-mutagen이 없어 태그를 읽지 못했습니다."),
    };
    if (std::ranges::any_of(notices,
                            [&message](const QString& n) { return message.startsWith(n); }))
        status->setNotice(text);
    else
        status->setFailure(text);
}

QString App::catalogURL() const {
    return core.store.filePath(QString::fromLatin1(stores::kCatalog));
}

void App::restoreCatalog() {
    CatalogWorker& work = catalogWork();
    work.follow(library.rows, library.catalogGeneration);
    work.restore(catalogURL());
}

void App::saveCatalog() {
    CatalogWorker& work = catalogWork();
    if (work.threaded())
        work.save(core.store, library.catalogGeneration);
    else
        catalogSaved(writeCatalogFile(core.store, library.rows));
}

void App::catalogSaved(CatalogSave result) {
    QString error;
    if (result == CatalogSave::Written)
        return;
    if (result == CatalogSave::BadDuration) {
        // Not written at all (the store's own warning covers a failed write).
        qCWarning(lcLibrary, "the catalog cache was not saved: a track has no valid duration");
        error = L10n::tr(QStringLiteral("재생 시간이 올바르지 않은 곡이 있습니다."));
    } else { // the folder or the file: no permission, or no room left
        error = failureText(Failure::FileNotWritable, catalogURL());
    }
    status->setFailure(L10n::tr(QStringLiteral("목록 저장 실패: ")) + error);
}

} // namespace ql
