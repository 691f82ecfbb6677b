// ---- browser: the views a filter pass refreshes besides the table ----
//
// rebuildAlbums groups the visible tracks into tiles (ui/AlbumGrouping.h);
// updateHeader fills the page header and the count label (texts from
// ui/ViewRules.h).
// The grid's reload is reloadAlbumGrid (ui/AppAlbumGrid.cpp).
#include "app/App.h"

#include "ui/AlbumGrouping.h"
#include "ui/ViewRules.h"
#include "ui/l10n/L10n.h"

#include <QLabel>
#include <QPixmap>
#include <QPointer>

namespace ql {

void App::rebuildAlbums() {
    GroupingInput input;
    input.tracks = &browser.filtered;
    input.viewKind = browser.viewKind;
    input.sortMode = browser.sortMode;
    input.added = &library.added;
    input.genres = &library.genres;
    browser.albums = groupTracks(input);
}

void App::updateHeader() {
    const std::optional<CellFilter>& cell = browser.cellFilter;
    const int smart = listening.smartMode;
    const bool page = isPage(smart, cell.has_value());
    if (views.pageHeader)
        views.pageHeader->setHidden(!page);

    const PageTitle title = pageTitle(browser.viewKind, smart, cell);
    views.pageTitle->setText(title.fixed ? L10n::tr(title.text) : title.text);
    const std::vector<Track>& tracks = browser.filtered;
    const QString n = QString::number(tracks.size());
    const bool albumPage = cell && cell->key == QLatin1String("album");
    const QString prefix =
        albumPage && !tracks.empty() ? artistPrefix({tracks.front().artist}) : QString();
    views.pageSub->setText(prefix + L10n::tr(n + QStringLiteral("곡")));

    if (page && views.pageCover && tracks.empty()) {
        browser.headerCoverKey.clear();
        views.pageCover->setPixmap(QPixmap::fromImage(defaultCover()));
    } else if (page && views.pageCover) {
        AlbumItem item;
        item.key = QStringLiteral("hdr:") + title.text + QLatin1Char(':') + n;
        item.title = title.text;
        item.tracks = tracks;
        item.kind = albumPage ? QStringLiteral("album") : QStringLiteral("artist");
        // Only the answer for the page asked last may land: a slow cover of
        // an earlier page must not replace this one's.
        if (browser.headerCoverKey != item.key)
            views.pageCover->setPixmap(QPixmap::fromImage(defaultCover()));
        browser.headerCoverKey = item.key;
        QPointer<App> self(this);
        // A page whose tracks have no picture shows the default cover, never
        // the picture of the page before.
        auto done = [self, key = item.key](const QImage& image) {
            if (self && self->browser.headerCoverKey == key)
                self->views.pageCover->setPixmap(
                    QPixmap::fromImage(image.isNull() ? defaultCover() : image));
        };
        if (seams.groupCover)
            seams.groupCover(item, done);
        else
            groupCover(item, done);
    }

    // The translation pass turns the count into English when it runs.
    if (views.countLabel)
        views.countLabel->setText(
            countLabelText(browser.viewKind, browser.albums.size(), tracks.size()));
}

} // namespace ql
