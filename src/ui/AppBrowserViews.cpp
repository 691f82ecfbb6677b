// ---- browser: the views a filter pass refreshes besides the table ----
//
// rebuildAlbums groups the visible tracks into tiles (ui/AlbumGrouping.h);
// updateHeader fills the page header and the count label (texts from
// ui/ViewRules.h).
// The grid's reload is reloadAlbumGrid (ui/AppAlbumGrid.cpp).
#include "app/App.h"

#include "ui/AlbumGrouping.h"
#include "ui/RoundedImage.h"
#include "ui/ViewRules.h"
#include "ui/l10n/L10n.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>
#include <memory>
#include <utility>

namespace ql {

namespace {

constexpr int kHeaderCoverEdge = 112;
constexpr double kHeaderCoverRadius = 6;

// The header's cover: scaled with its aspect kept into the 112-point square,
// corners rounded, in the label's device pixels.
void showHeaderCover(QLabel* cover, const QImage& image) {
    const qreal ratio = cover->devicePixelRatioF();
    QPixmap pixmap =
        roundedImage(image, int(std::lround(kHeaderCoverEdge * ratio)), kHeaderCoverRadius * ratio);
    pixmap.setDevicePixelRatio(ratio);
    cover->setPixmap(pixmap);
}

} // namespace

void App::rebuildAlbums() {
    ++*browser.albumsPass; // a grouping still on its way is outdated by this one
    GroupingInput input;
    input.tracks = &browser.filtered;
    input.viewKind = browser.viewKind;
    input.sortMode = browser.sortMode;
    input.added = &library.added;
    input.genres = &library.genres;
    browser.albums = groupTracks(input);
}

void App::refreshAlbums() {
    // Grouping a hundred thousand tracks into tiles takes as long as ten
    // frames: with the catalog worker running, a large list is grouped on a
    // pool thread while the window goes on, and its tiles are shown when they
    // are ready, unless a newer grouping was asked for meanwhile. The table
    // already shows the new list.
    constexpr std::size_t kGroupAway = 8000;
    if (!catalogWork().threaded() || browser.filtered.size() < kGroupAway) {
        rebuildAlbums();
        reloadAlbumGrid();
        return;
    }
    const quint64 pass = ++*browser.albumsPass;
    QPointer<App> self(this);
    // The list shares its rows; the two tables are shared until changed.
    (void)QtConcurrent::run([self, pass, latest = browser.albumsPass, tracks = browser.filtered,
                             viewKind = browser.viewKind, sortMode = browser.sortMode,
                             added = library.added, genres = library.genres, locale = QLocale()] {
        if (latest->load() != pass)
            return;
        GroupingInput input;
        input.tracks = &tracks;
        input.viewKind = viewKind;
        input.sortMode = sortMode;
        input.added = &added;
        input.genres = &genres;
        input.locale = locale;
        auto albums = std::make_shared<std::vector<AlbumItem>>(groupTracks(input));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, pass, albums] {
                if (!self || *self->browser.albumsPass != pass || !self->albumMode())
                    return;
                // The tiles let go of hold every visible track: freed away.
                self->catalogWork().retire(std::exchange(self->browser.albums, std::move(*albums)));
                self->reloadAlbumGrid();
            },
            Qt::QueuedConnection);
    });
}

void App::updateHeader() {
    const std::optional<CellFilter>& cell = browser.cellFilter;
    const int smart = listening.smartMode;
    const bool page = isPage(smart, cell.has_value());
    if (views.pageHeader)
        views.pageHeader->setHidden(!page);

    const PageTitle title = pageTitle(browser.viewKind, smart, cell);
    views.pageTitle->setText(title.fixed ? L10n::tr(title.text) : title.text);
    const TrackList& tracks = browser.filtered;
    const QString n = QString::number(tracks.size());
    const bool albumPage = cell && cell->key == QLatin1String("album");
    const QString prefix =
        albumPage && !tracks.empty() ? artistPrefix({tracks.front().artist}) : QString();
    views.pageSub->setText(prefix + L10n::tr(n + QStringLiteral("곡")));

    if (page && views.pageCover && tracks.empty()) {
        browser.headerCoverKey.clear();
        showHeaderCover(views.pageCover, defaultCover());
    } else if (page && views.pageCover) {
        const QString headerKey = QStringLiteral("hdr:") + title.text + QLatin1Char(':') + n;
        AlbumItem item;
        // An album page shows the album's own cover, the one its rows show;
        // any other page a mosaic of its own tracks' albums (its cache key
        // names them, so a page with other tracks never shows an old one).
        item.key = albumPage ? coverKey(tracks.front()) : headerKey;
        item.title = title.text;
        item.tracks = tracks;
        item.kind = albumPage ? QStringLiteral("album") : QStringLiteral("artist");
        // Only the answer for the page asked last may land: a slow cover of
        // an earlier page must not replace this one's.
        if (browser.headerCoverKey != headerKey)
            showHeaderCover(views.pageCover, defaultCover());
        browser.headerCoverKey = headerKey;
        QPointer<App> self(this);
        // A page whose tracks have no picture shows the default cover, never
        // the picture of the page before.
        auto done = [self, headerKey](const QImage& image) {
            if (self && self->browser.headerCoverKey == headerKey)
                showHeaderCover(self->views.pageCover, image.isNull() ? defaultCover() : image);
        };
        services.analysers->groupCover(*this, item, done);
    }

    // Set in the interface language at once: left to the translation pass,
    // the Korean count would show until its next run.
    if (views.countLabel)
        views.countLabel->setText(
            L10n::tr(countLabelText(browser.viewKind, browser.albums.size(), tracks.size())));
}

} // namespace ql
