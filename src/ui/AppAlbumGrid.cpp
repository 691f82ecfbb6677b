// ---- browser: the album, artist and genre grid and its letter bar ----
//
// The grid (AlbumGridView over AlbumGridModel, painted by AlbumCellDelegate)
// shows browser.albums in the grid host, in the table's place; applyViewMode
// shows one or the other. Every regrouping is followed by reloadAlbumGrid, so
// a row index always refers to the current tile list. A tile is configured
// (albumCell) when it first comes into view after a reload; its cover comes
// through the cover service, asked for only while the tile stays in view,
// and lands only while that row still shows the tile's key, and a quality label that arrives later
// reaches the badge of the one tile whose first track it belongs to (tileQualityChanged), without a
// refilter.
//
// A click on a tile runs the browser's road (filters, view kind, refilter,
// views, history) and plays the tile's own first track: for an album tile,
// the first track of that album by that artist, although the filter (by
// album title) also lists other artists' albums of the same title.
//
// The rules (filter of a tile, its own track, the letter jump) are the pure
// unit ui/GridRules.
#include "app/App.h"

#include "app/UserDefaults.h"
#include "listening/SmartLists.h"
#include "ui/AlbumCell.h"
#include "ui/AlbumCellDelegate.h"
#include "ui/AlbumGridModel.h"
#include "ui/AlbumGridView.h"
#include "ui/ButtonFactory.h"
#include "ui/GridRules.h"
#include "ui/StatusLabel.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QGridLayout>
#include <QPointer>
#include <QSlider>

#include <cmath>

namespace ql {

namespace {

const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ#");
constexpr int kLetterEdge = 14;   // each letter button, and the bar's width
constexpr int kLetterFont = 11;   // pixels: readable, and within the 14-pixel button
constexpr int kLetterInset = 2;   // from the host's right edge
constexpr int kRecentlyAdded = 2; // the sort mode that needs the dates added

bool isAlbumTile(const AlbumItem& tile) {
    return tile.kind == QLatin1String("album");
}

} // namespace

void App::setupAlbumView(QWidget* host, QWidget* tableScroll) {
    // The table spans the host; the grid shares it with the letter bar at the
    // right edge. A Qt scroll bar is no overlay, so the bar stands beside the
    // grid's scroll bar rather than over it (a hidden bar takes no room);
    // applyViewMode shows the table or the grid.
    auto* layout = new QGridLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tableScroll, 0, 0, 1, 2);

    auto* grid = new AlbumGridView;
    grid->setObjectName(QStringLiteral("albumScroll"));
    views.albumModel = new AlbumGridModel(grid);
    views.albumModel->setSource(&browser.albums, [this](int index, const CoverTicket& ticket) {
        return albumCell(index, ticket);
    });
    grid->setModel(views.albumModel);
    grid->setItemDelegate(new AlbumCellDelegate(grid));
    connect(grid, &QAbstractItemView::clicked, this,
            [this](const QModelIndex& index) { tileClicked(index.row()); });
    // Covers are extracted for the tiles on screen only.
    connect(grid, &AlbumGridView::shownRowsChanged, views.albumModel, &AlbumGridModel::keepRows);
    layout->addWidget(grid, 0, 0);
    views.albumView = grid;
    applyGridSize();

    views.letterBar = new QWidget;
    views.letterBar->setObjectName(QStringLiteral("letterBar"));
    views.letterBar->setFixedWidth(kLetterEdge);
    auto* letters = new QVBoxLayout(views.letterBar);
    letters->setContentsMargins(0, 0, 0, 0);
    letters->setSpacing(0);
    QPointer<App> self(this);
    for (const QChar c : kLetters) {
        const QString letter(c);
        SymbolButton* b =
            flatButton(std::nullopt, letter, {kLetterFont, Theme::dim(), {}}, [self, letter] {
                if (self)
                    self->letterTapped(letter);
            });
        b->setAttributedTitle(letter, Theme::font(kLetterFont, QFont::Medium), Theme::dim());
        b->setFixedSize(kLetterEdge, kLetterEdge);
        letters->addWidget(b, 0, Qt::AlignHCenter);
    }
    auto* edge = new QHBoxLayout;
    edge->setContentsMargins(kLetterInset, 0, kLetterInset, 0);
    edge->addWidget(views.letterBar, 0, Qt::AlignVCenter);
    layout->addLayout(edge, 0, 1);

    applyViewMode();
}

void App::reloadAlbumGrid() {
    browser.tileOfFirstTrack.clear();
    for (std::size_t i = 0; i < browser.albums.size(); ++i) {
        const AlbumItem& tile = browser.albums[i];
        if (isAlbumTile(tile) && !tile.tracks.empty())
            browser.tileOfFirstTrack.insert(tile.tracks.front().path, int(i));
    }
    if (views.albumModel)
        views.albumModel->reload();
    showCount();
}

void App::applyGridSize() {
    if (!views.albumView)
        return;
    const int edge = int(browser.gridSize);
    views.albumView->setTileSize(QSize(edge, edge + AlbumCellDelegate::kTextBlock));
}

void App::gridChanged() {
    // std::round takes halves away from zero.
    browser.gridSize = std::round(double(views.gridSlider->value()) / kGridSliderScale);
    applyGridSize();
}

void App::sortChanged() {
    browser.sortMode = std::max(0, views.sortPopup->currentIndex());
    if (browser.sortMode == kRecentlyAdded) {
        warmAdded();
        return;
    }
    if (albumMode())
        refreshAlbums();
}

void App::letterTapped(const QString& letter) {
    if (!albumMode() || browser.albums.empty() || !views.albumView)
        return;
    const std::optional<std::size_t> row = letterTarget(browser.albums, browser.sortMode, letter);
    if (row)
        views.albumView->scrollTo(views.albumModel->index(int(*row)),
                                  QAbstractItemView::PositionAtTop);
}

AlbumCell App::albumCell(int index, const CoverTicket& ticket) {
    const AlbumItem& a = browser.albums[std::size_t(index)];
    const bool album = isAlbumTile(a);
    AlbumCell cell;
    cell.representedKey = a.key;
    // The grid is painted, not visited by the translation pass: fixed texts
    // are translated here; names from the library never are.
    cell.t1 = hasFixedTitle(a) ? L10n::tr(a.title) : a.title;
    cell.t2 = album ? a.sub : L10n::tr(a.sub);
    cell.cover = defaultCover();
    if (album && !a.tracks.empty()) {
        const Track& first = a.tracks.front();
        const auto label = library.qual.constFind(first.path);
        if (label == library.qual.constEnd())
            requestQuality(first);
        else
            cell.badge = isHiResLabel(*label);
    }

    // A cached cover answers before groupCover returns, while the cell is
    // still being made: it goes into the cell. A later one goes to the row,
    // which takes it only while it still shows this tile.
    struct Answer {
        bool configuring = true;
        QImage image;
    };
    auto answer = std::make_shared<Answer>();
    QPointer<App> self(this);
    auto done = [self, answer, index, key = a.key](const QImage& image) {
        if (answer->configuring) {
            answer->image = image;
            return;
        }
        if (self && self->views.albumModel)
            self->views.albumModel->setCover(index, key, image);
    };
    services.analysers->groupCover(*this, a, ticket, done);
    answer->configuring = false;
    if (!answer->image.isNull())
        cell.cover = answer->image;
    return cell;
}

void App::tileClicked(int index) {
    if (index < 0 || std::size_t(index) >= browser.albums.size())
        return;
    // A copy: the refilter below regroups the tiles.
    const AlbumItem tile = browser.albums[std::size_t(index)];
    resetFilters();
    browser.cellFilter = tileFilter(tile);
    browser.viewKind = 0;
    UserDefaults().set(keys::kViewKind, 0);
    applyViewMode();
    filter(true);
    pushNav();
    if (const std::optional<std::size_t> own =
            tileOwnTrack(browser.filtered, tile, library.genres)) {
        const Track track = browser.filtered[*own];
        play(track);
    }
    // The title is the user's data unless the program wrote it: only the
    // fixed fragments are translated, and the pass must not rewrite it.
    const QString title = hasFixedTitle(tile) ? L10n::tr(tile.title) : tile.title;
    status->setTranslated(
        L10n::tr(QStringLiteral("▶ ") + tileKindWord(tile) + QStringLiteral(" '")) + title +
        L10n::tr(QStringLiteral("' · ") + QString::number(browser.filtered.size()) +
                 QStringLiteral("곡 (검색창에 입력하거나 폴더를 바꾸면 해제)")));
}

void App::tileQualityChanged(const QString& path) {
    const int row = browser.tileOfFirstTrack.value(path, -1);
    if (row < 0 || !views.albumModel)
        return;
    views.albumModel->setBadge(row, isHiResLabel(library.qual.value(path)));
}

} // namespace ql
