// ---- window: the window base and the top bar ----
//
// The window build runs in stretches, in this order: the window base (dark
// appearance, search field, folder pop-up, the track table's frame, columns
// and cells, the marks that keep catalog texts out of translation), the
// transport bar (ui/AppTransportBar.cpp), the top bar (here), the sidebar and
// the page (ui/AppWindowPage.cpp); then the calls that bring the fresh window
// into step with the restored state.
#include "app/App.h"

#include "app/UserDefaults.h"
#include "ui/ButtonFactory.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/Surface.h"
#include "ui/Symbol.h"
#include "ui/SymbolView.h"
#include "ui/TabBar.h"
#include "ui/Theme.h"
#include "ui/TrackCellDelegate.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/TruncatingLabel.h"
#include "ui/WindowChrome.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QScrollBar>
#include <QStyleFactory>
#include <QToolButton>
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
    // Names from the catalog, never markup.
    views.artistLabel->setTextFormat(Qt::PlainText);
    views.infoLabel->setTextFormat(Qt::PlainText);
    views.pageTitle = new QLabel;
    views.pageSub = new QLabel;
    views.volume = new SeekSlider;
    views.volume->setMaximumValue(100);
    views.volume->setDoubleValue(kDefaultVolume);
    makeTransportControls();
}

void App::buildMainUI() {
    buildWindowBase();
    buildTransportBar();
    buildTopBar();
    buildSidebar();
    buildPage();
    finishWindowBuild();
}

void App::buildWindowBase() {
    // 1. The dark appearance. The title area is the top bar's (buildTopBar).
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QApplication::setPalette(Theme::palette());
    // Texts set in Korean between two translation passes are translated
    // before they are drawn.
    Translator::guardPaints();

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

    // 5. Columns. Each is at least as wide as its title needs (English
    // titles are longer); the title column gives way to the others and takes
    // what they leave, so the table fits its width without a horizontal
    // scroll bar.
    QHeaderView* header = views.table->horizontalHeader();
    for (const ColumnSpec& c : kColumns) {
        const int at = views.tableModel->addColumn(QString::fromLatin1(c.identifier),
                                                   L10n::tr(QString::fromUtf8(c.header)));
        views.table->setColumnWidth(at, std::max(c.width, header->sectionSizeHint(at)));
    }
    header->setSectionResizeMode(views.tableModel->columnOf(QStringLiteral("title")),
                                 QHeaderView::Stretch);
    views.table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

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
    // Covers are extracted for the rows on screen only.
    connect(table->verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { keepShownTitleCovers(); });
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
    // 1-3. The history arrows; the launch's navigation monitors reach the same
    // two actions.
    auto call = [this](void (App::*action)()) { return weakCall(action); };
    views.navBackBtn = flatButton(QStringLiteral("chevron.left"), {},
                                  {13, Qt::white, QStringLiteral("뒤로")}, call(&App::navBack));
    views.navFwdBtn = flatButton(QStringLiteral("chevron.right"), {},
                                 {13, Qt::white, QStringLiteral("앞으로")}, call(&App::navForward));
    Surface* navPill = pill({views.navBackBtn, views.navFwdBtn}, 14, 34, 14);
    navPill->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    // 4-6. The search pill gives way first on a narrow window: the field
    // shrinks down to 80, never grows past 190; the magnifier keeps its size.
    auto* magnifier = new SymbolView(sym(QStringLiteral("magnifyingglass"), 13), Theme::sub());
    magnifier->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    search->setMinimumWidth(80);
    search->setMaximumWidth(190);
    search->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    Surface* searchPill = pill({magnifier, search}, 8, 34, 14);

    // 7-9. The gear: an instant pop-up. Qt shows no hidden title item, so the
    // menu really opens with its separator.
    auto* gear = new QToolButton;
    gear->setObjectName(QStringLiteral("gear"));
    gear->setAutoRaise(true);
    gear->setFocusPolicy(Qt::NoFocus);
    gear->setPopupMode(QToolButton::InstantPopup);
    gear->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 0; }"
                                       "QToolButton::menu-indicator { image: none; width: 0; }"));
    if (const std::optional<Symbol> image = sym(QStringLiteral("gearshape"), 15)) {
        gear->setIcon(QIcon(image->pixmap(Qt::white, gear->devicePixelRatioF())));
        gear->setIconSize(image->size());
    }
    auto* menu = new QMenu(gear);
    gear->setMenu(menu);
    menu->addSeparator();
    // The marks show the language of this run; choosing the other one only
    // stores it, so they are put back after Qt toggles them.
    const QStringList names{QStringLiteral("English"), QStringLiteral("한국어")};
    for (int i = 0; i < names.size(); ++i) {
        QAction* item = menu->addAction(QStringLiteral("🌐 ") + names[i]);
        const bool on = L10n::isEnglish() == (i == 0);
        item->setCheckable(true);
        item->setChecked(on);
        connect(item, &QAction::triggered, this, [this, item, i, on] {
            item->setChecked(on);
            setLanguage(i);
        });
    }
    menu->addSeparator();
    addSettingsItems(menu, hasFetcher());
    Surface* gearPill = pill({gear}, 0, 34, 10);
    gearPill->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    // 10. The bar is the window's title area: the window has no system title
    // bar, and our own close, minimise and maximise buttons sit in the bar's
    // left inset (88 up to the arrows); its empty background moves the
    // window (ui/WindowChrome.h).
    auto* barHost = new QWidget;
    barHost->setObjectName(QStringLiteral("topBar"));
    barHost->setFixedHeight(54);
    auto* chrome = new WindowChrome(window.get(), barHost);
    auto* inset = new QWidget;
    inset->setFixedWidth(88 - 14 - 8);
    auto* insetRow = new QHBoxLayout(inset);
    insetRow->setContentsMargins(6, 0, 0, 0);
    insetRow->addWidget(chrome->buttons(), 0, Qt::AlignLeft | Qt::AlignVCenter);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(14, 10, 14, 0);
    bar->setSpacing(8);
    viewModeControl->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    for (QWidget* v : {inset, static_cast<QWidget*>(navPill), static_cast<QWidget*>(searchPill),
                       static_cast<QWidget*>(viewModeControl.get())})
        bar->addWidget(v, 0, Qt::AlignVCenter);
    bar->addWidget(spacer());
    bar->addWidget(gearPill, 0, Qt::AlignVCenter);

    auto* column = static_cast<QVBoxLayout*>(views.content->layout());
    barHost->setLayout(bar);
    column->insertWidget(0, barHost);
}

} // namespace ql
