// ---- browser: the views a filter pass refreshes besides the table ----
//
// rebuildAlbums groups the visible tracks into tiles (ui/AlbumGrouping.h);
// refreshAlbums does it on a pool thread for a large list, one grouping at a
// time: a request made while one runs waits for its end and then groups the
// state of that moment, so a burst of requests (keystrokes, genre batches)
// costs two groupings, and only the latest list's tiles are shown.
// updateHeader fills the page header; showCount the count label, from the
// tiles on screen (texts from ui/ViewRules.h).
// The grid's reload is reloadAlbumGrid (ui/AppAlbumGrid.cpp).
#include "app/App.h"

#include "app/MainThreadRelease.h"
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

// From this many visible tracks on (with the catalog worker running) the
// tiles are grouped on a pool thread.
constexpr std::size_t kGroupAwayFrom = 8000;
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
    ++*browser.albumsPass;      // a grouping still on its way is outdated by this one
    browser.pool.again = false; // and so is any waiting for its turn
    browser.pool.asked.reset();
    GroupingInput input;
    input.tracks = &browser.filtered;
    input.viewKind = browser.viewKind;
    input.sortMode = browser.sortMode;
    input.added = &library.added;
    input.genres = &library.genres;
    browser.albums = groupTracks(input);
    browser.albumsKind = browser.viewKind;
}

void App::refreshAlbums() {
    // Grouping a hundred thousand tracks into tiles takes as long as ten
    // frames: with the catalog worker running, a large list is grouped on a
    // pool thread while the window goes on, and its tiles are shown when they
    // are ready, unless a newer grouping was asked for meanwhile. The table
    // already shows the new list.
    const std::size_t tracks = browser.filtered.size();
    if (!catalogWork().threaded() ||
        (tracks < kGroupAwayFrom && !services.observer->groupAway(tracks))) {
        rebuildAlbums();
        reloadAlbumGrid();
        return;
    }
    const BrowserState::GroupingBasis basis{browser.listPass, browser.viewKind, browser.sortMode,
                                            library.genresPass};
    BrowserState::PoolGrouping& pool = browser.pool;
    if (pool.running && pool.asked == basis)
        return; // the grouping on its way, or the one waiting, makes these tiles
    // Other tiles outdate what is on its way; newer genres alone do not: the
    // genre scan's batches come faster than a large list is grouped, and the
    // grid should still fill in while it runs.
    if (!pool.running || !pool.asked || !basis.sameTiles(*pool.asked))
        ++*browser.albumsPass;
    pool.asked = basis;
    // Tiles of another kind are not shown under this view's tab meanwhile.
    if (browser.albumsKind != 0 && browser.albumsKind != browser.viewKind) {
        catalogWork().retire(std::exchange(browser.albums, {}));
        browser.albumsKind = 0;
        reloadAlbumGrid();
    }
    if (pool.running) {
        pool.again = true;
        return;
    }
    startPoolGrouping();
}

void App::startPoolGrouping() {
    browser.pool.running = true;
    browser.pool.again = false;
    const quint64 pass = *browser.albumsPass;
    QPointer<App> self(this);
    // The list shares its rows; the two tables are shared until changed.
    (void)QtConcurrent::run([self, pass, latest = browser.albumsPass, tracks = browser.filtered,
                             viewKind = browser.viewKind, sortMode = browser.sortMode,
                             added = library.added, genres = library.genres, locale = QLocale(),
                             observer = services.observer]() mutable {
        observer->poolGroupingStarts();
        auto albums = std::make_shared<std::vector<AlbumItem>>();
        // Outdated before its turn came: nothing to make, but the end is
        // still told, so the next grouping starts.
        if (latest->load() == pass) {
            GroupingInput input;
            input.tracks = &tracks;
            input.viewKind = viewKind;
            input.sortMode = sortMode;
            input.added = &added;
            input.genres = &genres;
            input.locale = locale;
            *albums = groupTracks(input);
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, pass, viewKind, albums] {
                if (self)
                    self->poolGroupingDone(pass, viewKind, std::move(*albums));
            },
            Qt::QueuedConnection);
        // The list's row numbers and the genre map were copied by the main
        // thread, and may be the last copies by now: they are freed there.
        releaseOnMainThread(std::move(tracks));
        releaseOnMainThread(std::move(genres));
    });
}

void App::poolGroupingDone(quint64 pass, int viewKind, std::vector<AlbumItem> albums) {
    BrowserState::PoolGrouping& pool = browser.pool;
    pool.running = false;
    // The tiles let go of hold every visible track: freed away.
    if (pass == *browser.albumsPass && viewKind == browser.viewKind) {
        catalogWork().retire(std::exchange(browser.albums, std::move(albums)));
        browser.albumsKind = viewKind;
        reloadAlbumGrid();
    } else {
        catalogWork().retire(std::move(albums));
    }
    if (pool.again && albumMode())
        startPoolGrouping();
    pool.again = false;
}

void App::showCount() {
    if (!views.countLabel)
        return;
    // The tiles the grid holds (scrolled into view or not), counted
    // themselves: a grouping on its way or one of another view must not lend
    // its numbers.
    int kind = 0;
    std::size_t groups = 0;
    std::size_t tracks = browser.filtered.size();
    if (browser.viewKind > 0 && browser.albumsKind > 0) {
        kind = browser.albumsKind;
        groups = browser.albums.size();
        tracks = 0;
        for (const AlbumItem& tile : browser.albums)
            tracks += tile.tracks.size();
    }
    // Set in the interface language at once: left to the translation pass,
    // the Korean count would show until its next run.
    views.countLabel->setText(L10n::tr(countLabelText(kind, groups, tracks)));
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
        services.analysers->groupCover(*this, item, CoverTicket(), done);
    }

    showCount();
}

} // namespace ql
