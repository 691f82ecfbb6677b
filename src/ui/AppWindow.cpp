// ---- window: menu bar, window content, input monitors ----
//
// The window build runs in stretches, in this order: the window base (dark
// appearance, search field, folder pop-up, the track table's frame, columns
// and cells, the marks that keep catalog texts out of translation), the
// transport bar (ui/AppTransportBar.cpp), the top bar, the sidebar and the
// page.
//
// Seams: the sidebar, and most of the top bar and the page come with the
// window issues that follow. Until then the top bar holds the search pill
// alone and the page holds the status line and the track table. The menu bar
// comes with its own issue, the navigation and transport monitors with
// theirs; the view tabs' action, the now-playing window's refresh and the time
// labels do nothing yet.
#include "app/App.h"

#include "app/UserDefaults.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/Surface.h"
#include "ui/Symbol.h"
#include "ui/SymbolView.h"
#include "ui/Theme.h"
#include "ui/TrackCellDelegate.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/TruncatingLabel.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QStyleFactory>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

struct ColumnSpec {
    const char* identifier;
    const char* header; // Korean; translated at build time
    int width;
};

// The identifiers are the contract with the cell logic.
constexpr ColumnSpec kColumns[] = {
    {"title", "곡", 360},   {"artist", "가수", 190},  {"album", "앨범", 220},
    {"format", "포맷", 70}, {"quality", "음질", 150}, {"duration", "길이", 64},
};

constexpr double kDefaultVolume = 70;

// A palette whose backgrounds show what lies behind the widget.
void clearBackground(QWidget* w) {
    QPalette p = w->palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Window, Qt::transparent);
    w->setPalette(p);
    w->setAutoFillBackground(false);
}

} // namespace

void App::makeWindowViews() {
    views.table = new TrackTableView;
    views.tableModel = new TrackTableModel(views.table);
    views.table->setModel(views.tableModel);
    // The exempt title label is never translated by the pass: it starts in
    // the interface language.
    views.titleLabel = new TruncatingLabel(1);
    views.titleLabel->setText(L10n::tr(QStringLiteral("음악을 선택하세요")));
    views.artistLabel = new TruncatingLabel(2);
    views.infoLabel = new QLabel;
    views.pageTitle = new QLabel;
    views.pageSub = new QLabel;
    views.volume = new SeekSlider;
    views.volume->setMaximumValue(100);
    views.volume->setDoubleValue(kDefaultVolume);
    makeTransportControls();
}

void App::buildMenu() {
    window->setMenuBar(new QMenuBar(window.get()));
}

void App::buildMainUI() {
    buildWindowBase();
    buildTransportBar();
    buildTopBar();
    buildPage();
}

void App::buildWindowBase() {
    // 1. The dark appearance. The window keeps the window manager's frame and
    // title: a frameless window cannot be moved or resized everywhere on Linux.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QApplication::setPalette(Theme::palette());

    // 2. The content view.
    views.content = new QWidget;
    views.content->setAutoFillBackground(true);
    QPalette contentPalette = views.content->palette();
    contentPalette.setColor(QPalette::Window, Theme::window());
    views.content->setPalette(contentPalette);
    window->setCentralWidget(views.content);
    // Top bar, page and transport bar, top to bottom; each stretch puts its
    // part in place.
    auto* column = new QVBoxLayout(views.content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // 3. Search field; its text came from "librarySearch" when App was made.
    search->setPlaceholderText(L10n::tr(QStringLiteral("검색")));
    search->setFrame(false);
    clearBackground(search);
    search->setFont(Theme::font(13));

    // 4. Folder pop-up. It is exempt from the pass (folder names are the
    // user's), so its tool tip is set translated.
    folderPicker->setToolTip(L10n::tr(QStringLiteral("폴더별로 모아서 보기")));
    folderPicker->setFrame(false);
    folderPicker->setFont(Theme::font(13));
    folderPicker->setMaximumWidth(220);

    // 5. Columns.
    for (const ColumnSpec& c : kColumns) {
        const int at = views.tableModel->addColumn(QString::fromLatin1(c.identifier),
                                                   L10n::tr(QString::fromUtf8(c.header)));
        views.table->setColumnWidth(at, c.width);
    }

    // 6. Table: 44-pixel rows, no row headers, no grid, no stripes, clear
    // background; a double click is the one action.
    TrackTableView* table = views.table;
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(44);
    table->setAlternatingRowColors(false);
    table->setShowGrid(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setItemDelegate(new TrackCellDelegate(table));
    table->horizontalHeader()->setHighlightSections(false);
    QPointer<App> self(this);
    table->onDoubleClick = [self] {
        if (self)
            self->selected();
    };
    table->onHeaderDoubleClick = [self](int column) {
        if (self)
            self->headerDoubleClicked(column);
    };
    // The cells read the visible list and ask App for their texts and
    // thumbnails at every paint.
    TrackTableModel::Cells cells;
    cells.rows = &browser.filtered;
    cells.text = [this](const Track& track, const QString& id) { return cellText(track, id); };
    cells.thumbnail = [this](const Track& track) { return titleThumbnail(track); };
    views.tableModel->setCells(std::move(cells));

    // 7. The table is its own scroll view: vertical scroller, no background.
    table->setFrameShape(QFrame::NoFrame);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    clearBackground(table);
    clearBackground(table->viewport());

    // 8. Texts from the catalog are never run through the translation table.
    for (QWidget* w :
         std::initializer_list<QWidget*>{views.titleLabel, views.artistLabel, views.infoLabel,
                                         folderPicker, views.pageTitle, views.pageSub})
        Translator::exempt(w);

    // The volume slider's stored value; a stored 0 is a value like any other.
    // An unreadable value counts as absent; one outside 0 … 100 is clamped
    // by the slider.
    views.volume->setDoubleValue(
        UserDefaults().realIfPresent(keys::kPlayerVolume).value_or(kDefaultVolume));
}

void App::buildTopBar() {
    auto* magnifier = new SymbolView(sym(QStringLiteral("magnifyingglass"), 13), Theme::sub());
    search->setMinimumWidth(80);
    search->setMaximumWidth(190);
    Surface* searchPill = pill({magnifier, search}, 8, 34, 14);

    auto* bar = new QHBoxLayout;
    // The left inset is plain spacing (the window keeps its own title bar).
    bar->setContentsMargins(88, 10, 14, 0);
    bar->setSpacing(8);
    bar->addWidget(searchPill, 0, Qt::AlignVCenter);
    bar->addWidget(spacer());

    auto* column = static_cast<QVBoxLayout*>(views.content->layout());
    auto* barHost = new QWidget;
    barHost->setFixedHeight(54);
    barHost->setLayout(bar);
    column->insertWidget(0, barHost);
}

void App::buildPage() {
    auto* page = new Surface(Theme::panel(), 12);
    auto* stack = new QVBoxLayout(page);
    stack->setContentsMargins(14, 12, 8, 8);
    stack->setSpacing(10);
    addArranged(stack, {status, views.table});
    stack->setStretchFactor(views.table, 1);

    auto* column = static_cast<QVBoxLayout*>(views.content->layout());
    auto* row = new QHBoxLayout;
    row->setContentsMargins(8, 2, 8, 8);
    row->addWidget(page);
    // Between the top bar and the transport bar.
    column->insertLayout(1, row, 1);
}

void App::viewModeChanged() {}
void App::updateNowPlaying() {}
void App::refreshTimes() {}

} // namespace ql
