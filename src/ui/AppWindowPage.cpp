// ---- window: the sidebar, the page and the end of the window build ----
//
// The sidebar is a rounded panel of ten entries under two headings; the page
// stacks the header (hidden until a smart list or a cell filter is shown),
// the tool row, the status line, the grid host and the tools panel.
//
// The header is what gives way on a short page. At the minimum window size
// in English the tools panel wraps to five lines (its FLAC button shown),
// and the header's 112-point cover, the tool row, the status line, the grid
// host's least 180 and the panel no longer fit: the layout would lay the
// panel over the table's last rows. The cover shrinks instead, square, down
// to the height of the titles beside it (HeaderCover); on a roomy page it
// stays 112.
//
// The grid host's content, the tile grid and its letter bar, is built by
// setupAlbumView (ui/AppAlbumGrid.cpp); the tools panel by buildExtras
// (listening/AppToolsPanel.cpp).
#include "app/App.h"

#include "app/UserDefaults.h"
#include "ui/ButtonFactory.h"
#include "ui/SidebarButton.h"
#include "ui/StatusLabel.h"
#include "ui/Surface.h"
#include "ui/Symbol.h"
#include "ui/SymbolView.h"
#include "ui/Theme.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QSlider>

#include <algorithm>

namespace ql {

namespace {

constexpr int kCoverEdge = 112;
// About the height of the page title and subtitle beside the cover.
constexpr int kLeastCover = 56;

// The page header's cover: kCoverEdge square on a roomy page. On a short
// one the page's layout may take its height down to kLeastCover, and its
// width follows, so the picture stays square.
class HeaderCover final : public QLabel {
public:
    HeaderCover() {
        setScaledContents(true);
        setMinimumHeight(kLeastCover);
        setMaximumHeight(kCoverEdge);
        setFixedWidth(kCoverEdge);
        resize(kCoverEdge, kCoverEdge);
    }
    QSize sizeHint() const override { return {kCoverEdge, kCoverEdge}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        if (width() != height())
            setFixedWidth(std::clamp(height(), kLeastCover, kCoverEdge));
    }
};

struct SidebarRow {
    const char* icon; // nullptr: a section heading
    const char* text;
    int tag;
};

// Top to bottom; the tags are what sidebarClicked and the highlight compare.
constexpr SidebarRow kSidebar[] = {
    {"rectangle.stack", "로컬", 0},    {"heart.fill", "즐겨찾기", 1},
    {"clock", "최근 받은 곡", 5},      {"waveform", "하이레즈", 6},
    {nullptr, "스마트 목록", -1},      {"flame", "자주 들은 곡", 2},
    {"leaf", "한 번도 안 들은 곡", 3}, {"calendar", "이번 주 새 곡", 4},
    {nullptr, "바로 듣기", -1},        {"play.fill", "전체 재생", 10},
    {"shuffle", "전체 랜덤", 11},      {"die.face.5", "앨범 랜덤", 12},
};

void setTextColor(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::ButtonText, color);
    w->setPalette(p);
}

// The row between the top bar and the transport bar that holds sidebar and
// page: 8 at the sides, 2 below the top bar, 4 above the transport bar.
QHBoxLayout* middleRow(QWidget* content) {
    auto* column = static_cast<QVBoxLayout*>(content->layout());
    if (auto* row = content->findChild<QHBoxLayout*>(QStringLiteral("middleRow")))
        return row;
    auto* row = new QHBoxLayout;
    row->setObjectName(QStringLiteral("middleRow"));
    row->setContentsMargins(8, 2, 8, 4);
    row->setSpacing(8);
    column->insertLayout(1, row, 1);
    return row;
}

} // namespace

void App::buildSidebar() {
    auto* panel = new Surface(Theme::side(), 12);
    panel->setObjectName(QStringLiteral("sidebar"));
    auto* stack = new QVBoxLayout(panel);
    stack->setContentsMargins(6, 20, 6, 12);
    stack->setSpacing(6);
    int widest = 0;
    for (const SidebarRow& row : kSidebar) {
        // In the interface language from the start: the panel's width is
        // measured on these titles.
        const QString text = L10n::tr(QString::fromUtf8(row.text));
        if (!row.icon) {
            // 14 instead of 6 above each heading.
            stack->addSpacing(8);
            stack->addWidget(section(text), 0, Qt::AlignLeft);
            continue;
        }
        // The entries span the panel less the two 6-point insets.
        QWidget* entry = sideButton(QString::fromLatin1(row.icon), text, row.tag);
        widest = std::max(widest, entry->sizeHint().width());
        stack->addWidget(entry);
    }
    stack->addStretch(1);
    // 196 unless a title needs more (English "Recently downloaded").
    panel->setFixedWidth(std::max(196, widest + 12));
    middleRow(views.content)->addWidget(panel);
}

void App::buildPage() {
    auto call = [this](void (App::*action)()) { return weakCall(action); };

    // 1-2. The header: cover, then title over subtitle.
    views.pageHeader = new QWidget;
    auto* header = new QHBoxLayout(views.pageHeader);
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(18);
    // Filled by updateHeader with the cover scaled to fit, corners rounded,
    // drawn at the size the header leaves it.
    views.pageCover = new HeaderCover;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    views.pageTitle->setFont(Theme::font(28, QFont::Bold));
    setTextColor(views.pageTitle, Qt::white);
    views.pageSub->setFont(Theme::font(13));
    setTextColor(views.pageSub, Theme::sub());
    titles->addWidget(views.pageTitle);
    titles->addWidget(views.pageSub);
    header->addWidget(views.pageCover, 0, Qt::AlignVCenter);
    header->addLayout(titles);
    header->addStretch(1);
    views.pageHeader->hide();

    // 3-7. The tool row.
    auto* playAll = roundButton(QStringLiteral("play.fill"),
                                {34, 14, Theme::accent(), Qt::white, QStringLiteral("전체 재생")},
                                call(&App::listenAll));
    auto* shuffleAll = roundButton(QStringLiteral("shuffle"),
                                   {30, 12, Theme::panel(), Qt::white, QStringLiteral("전체 랜덤")},
                                   call(&App::listenShuffle));
    auto flat = [&](const char* symbol, const char* tip, void (App::*action)()) {
        return flatButton(QString::fromLatin1(symbol), {},
                          {14, Theme::sub(), QString::fromUtf8(tip)}, call(action));
    };
    auto* favorites = flat("heart", "좋아요(♥)만 듣기", &App::listenFavorites);
    auto* hiRes = flat("sparkles", "하이레즈만 듣기", &App::listenHiRes);
    auto* randomAlbum = flat("die.face.5", "앨범 랜덤 듣기", &App::listenRandomAlbum);

    views.sortPopup = new QComboBox;
    views.sortPopup->setFrame(false);
    for (const char* item : {"정렬: 가수", "정렬: 앨범명", "정렬: 최근 추가"})
        views.sortPopup->addItem(L10n::tr(QString::fromUtf8(item)));
    views.sortPopup->setFont(Theme::font(13));
    connect(views.sortPopup, &QComboBox::activated, this, call(&App::sortChanged));

    auto* filterIcon =
        new SymbolView(sym(QStringLiteral("line.3.horizontal.decrease"), 13), Theme::sub());

    views.countLabel = new QLabel;
    views.countLabel->setFont(Theme::font(12));
    setTextColor(views.countLabel, Theme::dim());

    views.gridSlider = new QSlider(Qt::Horizontal);
    views.gridSlider->setRange(110 * kGridSliderScale, 240 * kGridSliderScale);
    views.gridSlider->setValue(int(browser.gridSize * kGridSliderScale));
    // The slider counts tenths of a pixel; keys and the wheel still step in
    // whole pixels (an arrow 1, Page Up/Down 10, a wheel notch 3).
    views.gridSlider->setSingleStep(kGridSliderScale);
    views.gridSlider->setPageStep(10 * kGridSliderScale);
    views.gridSlider->setTracking(true);
    views.gridSlider->setFixedWidth(110);
    QPalette sliderPalette = views.gridSlider->palette();
    sliderPalette.setColor(QPalette::Highlight, Theme::dim());
    views.gridSlider->setPalette(sliderPalette);
    connect(views.gridSlider, &QSlider::valueChanged, this, call(&App::gridChanged));

    auto* toolRow = new Surface(Theme::bar(), 12);
    toolRow->setObjectName(QStringLiteral("toolRow"));
    toolRow->setFixedHeight(54);
    auto* tools = new QHBoxLayout(toolRow);
    tools->setContentsMargins(14, 0, 14, 0);
    tools->setSpacing(12);
    for (QWidget* v :
         QList<QWidget*>{playAll, shuffleAll, favorites, hiRes, randomAlbum, views.sortPopup,
                         filterIcon, folderPicker, spacer(), views.countLabel, views.gridSlider})
        tools->addWidget(v, 0, Qt::AlignVCenter);

    // 8. The status line.
    status->setFont(Theme::font(11));
    setTextColor(status, Theme::dim());

    // 9. The grid host, with the table and the tile grid inside.
    views.gridHost = new QWidget;
    views.gridHost->setObjectName(QStringLiteral("gridHost"));
    views.gridHost->setMinimumHeight(180);
    views.gridHost->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setupAlbumView(views.gridHost, views.table);

    // 10. The tools panel, open when the user left it open.
    views.extrasView = buildExtras();
    views.extrasView->setHidden(!UserDefaults().boolean(keys::kToolsOpen));

    // 11-12. The page: five views spanning its width.
    auto* page = new Surface(Theme::panel(), 12);
    page->setObjectName(QStringLiteral("page"));
    auto* stack = new QVBoxLayout(page);
    stack->setContentsMargins(14, 12, 8, 8);
    stack->setSpacing(10);
    addArranged(stack, {views.pageHeader, toolRow, status, views.gridHost, views.extrasView});
    stack->setStretchFactor(views.gridHost, 1);
    middleRow(views.content)->addWidget(page, 1);
}

void App::finishWindowBuild() {
    step("volumeChanged");
    volumeChanged();
    step("syncTabs");
    syncTabs();
    step("updateHeader");
    updateHeader();
    step("pushNav");
    pushNav();
    step("updateLockIcon");
    updateLockIcon();
}

} // namespace ql
