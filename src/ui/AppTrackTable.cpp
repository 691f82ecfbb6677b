// ---- browser: the track table's rows, cells and double-clicks ----
//
// The table (TrackTableView over TrackTableModel, painted by
// TrackCellDelegate) reads browser.filtered; the rules of its texts and
// double-clicks are the pure unit TrackCells. Each filter pass resets it; a
// quality label or a cover that arrives later repaints only the cells on
// screen that show it.
//
// It calls the play request (play), the quality probe (requestQuality) and
// the cover service (albumCover, defaultCover); see their files. A title
// cell's cover request stays wanted while a row on screen shows its album:
// scrolled away or hidden behind the grid, it is let go.
#include "app/App.h"

#include "ui/AlbumGrouping.h"
#include "ui/StatusLabel.h"
#include "ui/TimeText.h"
#include "ui/TrackCells.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include <QPointer>
#include <QSet>
#include <QTimer>

#include <iterator>

namespace ql {

namespace {

// The rows whose cells are on screen now, first to last; empty when none.
std::pair<int, int> visibleRows(const TrackTableView& table, int rowCount) {
    if (rowCount <= 0 || !table.isVisible())
        return {0, -1};
    const int first = std::max(0, table.rowAt(0));
    int last = table.rowAt(table.viewport()->height() - 1);
    if (last < 0)
        last = rowCount - 1;
    return {first, last};
}

} // namespace

void App::reloadTable() {
    browser.coversAsked.clear();
    views.tableModel->reload();
}

void App::selectTableRow(int row) {
    views.table->selectRowOnly(row);
}

void App::scrollTableToTop() {
    views.table->scrollToTop();
}

QString App::time(double seconds) {
    return timeText(seconds);
}

QString App::cellText(const Track& track, const QString& identifier) {
    const bool quality = identifier == QLatin1String("quality");
    return trackCellText(identifier, track, listening.favorites.contains(track.path),
                         quality ? qualityText(track) : QString());
}

QString App::qualityText(const Track& track) {
    const auto it = library.qual.constFind(track.path);
    // A label is codec and rate, or the word that none could be told, which
    // the interface's language says.
    if (it != library.qual.constEnd())
        return L10n::tr(*it);
    requestQuality(track);
    return kQualityPending;
}

QImage App::titleThumbnail(const Track& track) {
    const QString key = coverKey(track);
    if (const QImage cached = browser.coverCache.find(key); !cached.isNull())
        return cached;
    if (!browser.coversAsked.contains(key)) {
        const CoverHold hold = CoverTicket::hold();
        browser.coversAsked.insert(key, hold);
        QPointer<App> self(this);
        albumCover(
            AlbumItem{key, track.album, track.artist, {track}, QStringLiteral("album"), {}},
            [self, key](const QImage& image) {
                if (!self || image.isNull())
                    return;
                // A cover may come back while the table is painting
                // (a cache hit answers at once): repaint afterwards.
                QTimer::singleShot(0, self, [self, key] {
                    if (self)
                        self->coverChanged(key);
                });
            },
            CoverTicket(hold));
    }
    return defaultCover();
}

void App::keepShownTitleCovers() {
    if (browser.coversAsked.isEmpty() || !views.table)
        return;
    const auto [first, last] = visibleRows(*views.table, int(browser.filtered.size()));
    QSet<QString> shown;
    for (int r = first; r <= last; ++r)
        shown.insert(coverKey(browser.filtered[size_t(r)]));
    for (auto it = browser.coversAsked.begin(); it != browser.coversAsked.end();)
        it = shown.contains(it.key()) ? std::next(it) : browser.coversAsked.erase(it);
}

std::optional<Track> App::rowTrack() const {
    const int row = views.table ? views.table->clickedRow() : -1;
    if (row < 0 || size_t(row) >= browser.filtered.size())
        return std::nullopt;
    return browser.filtered[size_t(row)];
}

std::optional<Track> App::selectedOrCurrent() const {
    const int row = views.table ? views.table->selectedRow() : -1;
    if (row >= 0 && size_t(row) < browser.filtered.size())
        return browser.filtered[size_t(row)];
    return playback.current;
}

void App::selected() {
    // A copy: a cell filter replaces the visible list.
    const std::optional<Track> row = rowTrack();
    if (!row)
        return;
    const Track& track = *row;
    const QString id = views.tableModel->identifier(views.table->clickedColumn());
    if (const std::optional<CellFilter> f = rowDoubleClickFilter(id, track)) {
        applyCellFilter(f->key, f->value);
        return;
    }
    play(track);
}

void App::headerDoubleClicked(int column) {
    const std::optional<Track> track = selectedOrCurrent();
    if (!track) {
        status->setStringValue(L10n::tr(QStringLiteral("먼저 곡을 선택하세요.")));
        return;
    }
    if (const std::optional<CellFilter> f =
            headerDoubleClickFilter(views.tableModel->identifier(column), *track))
        applyCellFilter(f->key, f->value);
}

void App::qualityChanged(const QString& path) {
    const int column = views.tableModel->columnOf(QStringLiteral("quality"));
    const auto [first, last] = visibleRows(*views.table, int(browser.filtered.size()));
    for (int r = first; r <= last; ++r)
        if (browser.filtered[size_t(r)].path == path)
            views.tableModel->cellChanged(r, column);
    tileQualityChanged(path);
}

void App::coverChanged(const QString& key) {
    const int column = views.tableModel->columnOf(QStringLiteral("title"));
    const auto [first, last] = visibleRows(*views.table, int(browser.filtered.size()));
    for (int r = first; r <= last; ++r)
        if (coverKey(browser.filtered[size_t(r)]) == key)
            views.tableModel->cellChanged(r, column);
}

} // namespace ql
