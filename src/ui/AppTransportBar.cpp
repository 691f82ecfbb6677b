// ---- window: the transport bar ----
//
// The strip along the bottom of the main window, 92 high, with no background
// of its own: what plays on the left (cover, heart and title, artist, format
// line) in 290 from the left edge + 16; the playback buttons over the
// waveform row in the middle; the volume steps, slider and output line and
// the lock, device and tools buttons on the right, ending 20 from the right
// edge; 30 between the groups, each centred vertically. Its controls are
// fixed controls (views), made with App and placed here, with the output
// controls App makes for the volume and device code (the repeat button, the
// volume text and the output line, which that code also wires and writes);
// tool tips are set in Korean and translated by the pass.
//
// The bar connects the actions of its buttons (favourite, restart, shuffle,
// previous, play/pause, next, now-playing window, quality analysis, volume
// steps, device menu, tools panel); the bit-perfect lock is wired when it is
// made; the cover's click and the slider's and repeat button's actions are
// wired where those controls are made.
#include "app/App.h"

#include "analysis/WaveformView.h"
#include "playback/VolumeKeys.h"
#include "ui/ButtonFactory.h"
#include "ui/ClickImageView.h"
#include "ui/IconButton.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/SymbolView.h"
#include "ui/Theme.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPointer>

namespace ql {

namespace {

constexpr int kBarHeight = 92;
constexpr int kLeftWidth = 290;
constexpr int kCoverEdge = 66;

void setTextColor(QWidget* w, const QColor& color) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    w->setPalette(p);
}

void styleLabel(QLabel* label, int points, QFont::Weight weight, const QColor& color) {
    label->setFont(Theme::font(points, weight));
    setTextColor(label, color);
}

// A row or column of views, without margins.
QBoxLayout* stack(QBoxLayout::Direction direction, int spacing, const QList<QWidget*>& views,
                  Qt::Alignment align) {
    auto* box = new QBoxLayout(direction);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(spacing);
    for (QWidget* v : views)
        box->addWidget(v, 0, align);
    return box;
}

QWidget* group(QLayout* layout, const char* name) {
    auto* w = new QWidget;
    w->setObjectName(QLatin1String(name));
    w->setLayout(layout);
    return w;
}

} // namespace

void App::makeTransportControls() {
    views.barFav = flatButton(QStringLiteral("heart.fill"), {},
                              {13, Theme::sub(), QStringLiteral("즐겨찾기")});
    views.restartButton = flatButton(QStringLiteral("arrow.counterclockwise"), {},
                                     {15, Qt::white, QStringLiteral("처음부터")});
    views.shuffleButton =
        flatButton(QStringLiteral("shuffle"), {},
                   {15, Qt::white, QStringLiteral("누를 때마다 현재 목록을 새로 섞습니다")});
    views.previousButton = flatButton(QStringLiteral("backward.end.fill"), {}, {16, Qt::white, {}});
    views.playButton = new PlayButton;
    views.playButton->setTitle(QStringLiteral("▶ 재생"));
    views.nextButton = flatButton(QStringLiteral("forward.end.fill"), {}, {16, Qt::white, {}});
    views.nowPlayingButton = flatButton(QStringLiteral("list.bullet"), {},
                                        {15, Qt::white, QStringLiteral("큰 앨범 아트 재생 화면")});
    views.analysisButton = flatButton(QStringLiteral("waveform.path.ecg"), {},
                                      {14, Theme::sub(), QStringLiteral("음질 분석(AudioScan)")});
    views.elapsedLabel = new QLabel(QStringLiteral("--:--"));
    views.remainLabel = new QLabel(QStringLiteral("--:--"));
    const RoundButtonStyle step{24, 10, Theme::panel(), Qt::white, {}};
    views.volDownButton = roundButton(QStringLiteral("minus"), step);
    views.volUpButton = roundButton(QStringLiteral("plus"), step);
    views.lockBtn = flatButton(QStringLiteral("lock.open"), {},
                               {17, Theme::sub(), QStringLiteral("💎 비트퍼펙트 켜기/끄기")});
    // Wired at once: the one mode control that exists before the tools panel.
    connect(views.lockBtn, &QAbstractButton::clicked, this, &App::toggleBitFromLock);
    views.deviceButton = flatButton(QStringLiteral("hifispeaker"), {},
                                    {17, Theme::sub(), QStringLiteral("출력 장치 선택")});
    views.toolsButton = new IconButton;
    views.toolsButton->setImage(sym(QStringLiteral("slider.horizontal.3"), 17));
    views.toolsButton->setContentTint(Theme::sub());
    views.toolsButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    views.toolsButton->setToolTip(
        QStringLiteral("가사·사운드·크로스페이드·수면 타이머·음질 분석 등 도구 열기/닫기"));
}

void App::buildTransportBar() {
    // 1, 2. The bar and the cover (the placeholder until a track's cover).
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("transportBar"));
    art->setImage(defaultCover());
    art->setCornerRadius(4);
    art->setFixedSize(kCoverEdge, kCoverEdge);

    // 3. The now-playing labels (kept out of translation by the window base).
    styleLabel(views.titleLabel, 14, QFont::DemiBold, Theme::grey(0.62));
    styleLabel(views.artistLabel, 12, QFont::Normal, Theme::sub());
    styleLabel(views.infoLabel, 11, QFont::Normal, Theme::dim());

    // 4. Title row, text column, left group.
    QPointer<App> self(this);
    const auto run = [self](void (App::*action)()) {
        return [self, action] {
            if (self)
                (self.data()->*action)();
        };
    };
    connect(views.barFav, &QAbstractButton::clicked, this, run(&App::toggleFavorite));
    auto* titleRow = new QHBoxLayout;
    titleRow->setContentsMargins(0, 0, 0, 0);
    titleRow->setSpacing(8);
    titleRow->addWidget(views.barFav, 0, Qt::AlignVCenter);
    titleRow->addWidget(views.titleLabel, 1, Qt::AlignVCenter);
    auto* textColumn = new QVBoxLayout;
    textColumn->setContentsMargins(0, 0, 0, 0);
    textColumn->setSpacing(3);
    textColumn->addLayout(titleRow);
    textColumn->addWidget(views.artistLabel);
    textColumn->addWidget(views.infoLabel);
    auto* leftStack = stack(QBoxLayout::LeftToRight, 14, {art}, Qt::AlignVCenter);
    leftStack->addLayout(textColumn, 1);
    QWidget* left = group(leftStack, "transportLeft");
    left->setFixedWidth(kLeftWidth);

    // 5. The button row.
    connect(views.restartButton, &QAbstractButton::clicked, this, run(&App::restartTrack));
    connect(views.shuffleButton, &QAbstractButton::clicked, this, run(&App::toggleShuffle));
    connect(views.previousButton, &QAbstractButton::clicked, this, run(&App::previous));
    connect(views.playButton, &QAbstractButton::clicked, this, run(&App::toggle));
    connect(views.nextButton, &QAbstractButton::clicked, this, run(&App::next));
    connect(views.nowPlayingButton, &QAbstractButton::clicked, this, run(&App::showNowPlaying));
    connect(views.analysisButton, &QAbstractButton::clicked, this, run(&App::showAudioScan));
    QBoxLayout* buttons =
        stack(QBoxLayout::LeftToRight, 26,
              {views.restartButton, views.shuffleButton, views.previousButton, views.playButton,
               views.nextButton, repeatBtn, views.nowPlayingButton},
              Qt::AlignVCenter);
    buttons->insertStretch(0);
    buttons->addStretch();

    // 6. The waveform row: the waveform takes the free width.
    wave->setFixedHeight(30);
    wave->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (QLabel* time : {views.elapsedLabel, views.remainLabel}) {
        styleLabel(time, 11, QFont::Normal, Theme::sub());
        time->setFixedWidth(44);
    }
    views.elapsedLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QBoxLayout* waveRow = stack(QBoxLayout::LeftToRight, 8,
                                {views.analysisButton, views.elapsedLabel, wave, views.remainLabel},
                                Qt::AlignVCenter);
    auto* centreStack = new QVBoxLayout;
    centreStack->setContentsMargins(0, 0, 0, 0);
    centreStack->setSpacing(6);
    centreStack->addLayout(buttons);
    centreStack->addLayout(waveRow);
    QWidget* centre = group(centreStack, "transportCentre");

    // 7. The volume column. The slider's value was restored by the window base.
    connect(views.volDownButton, &QAbstractButton::clicked, this, run(&App::volDown));
    connect(views.volUpButton, &QAbstractButton::clicked, this, run(&App::volUp));
    styleLabel(volDB, 13, QFont::Medium, Qt::white);
    volDB->setAlignment(Qt::AlignCenter);
    volDB->setFixedWidth(70);
    SeekSlider* volume = views.volume;
    volume->setTracking(true);
    volume->setStepValue(kVolumeStep); // a wheel notch or an arrow key: one −/+ step
    volume->setFixedWidth(150);
    QPalette fill = volume->palette();
    fill.setColor(QPalette::Highlight, Theme::accent());
    volume->setPalette(fill);
    styleLabel(dacLabel, 11, QFont::Normal, Theme::dim());
    dacLabel->setAlignment(Qt::AlignCenter);
    auto* speaker = new SymbolView(sym(QStringLiteral("speaker.fill"), 12), Theme::sub());
    auto* volumeColumn = new QVBoxLayout;
    volumeColumn->setContentsMargins(0, 0, 0, 0);
    volumeColumn->setSpacing(6);
    volumeColumn->addLayout(stack(QBoxLayout::LeftToRight, 10,
                                  {views.volDownButton, volDB, views.volUpButton},
                                  Qt::AlignVCenter));
    volumeColumn->addLayout(stack(QBoxLayout::LeftToRight, 8, {speaker, volume}, Qt::AlignVCenter));
    volumeColumn->addWidget(dacLabel, 0, Qt::AlignHCenter);
    for (int i = 0; i < 2; ++i)
        volumeColumn->setAlignment(volumeColumn->itemAt(i)->layout(), Qt::AlignHCenter);

    // 8. The output row and the right group.
    connect(views.deviceButton, &QAbstractButton::clicked, this, [self] {
        if (self)
            self->showDeviceMenu(self->views.deviceButton);
    });
    connect(views.toolsButton, &QAbstractButton::clicked, this, run(&App::toggleTools));
    QBoxLayout* rightStack = stack(QBoxLayout::LeftToRight, 30, {}, Qt::AlignVCenter);
    rightStack->addLayout(volumeColumn);
    rightStack->addLayout(stack(QBoxLayout::LeftToRight, 14,
                                {views.lockBtn, views.deviceButton, views.toolsButton},
                                Qt::AlignVCenter));
    QWidget* right = group(rightStack, "transportRight");

    // 9. The groups in the bar, the bar at the bottom of the content view.
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 0, 20, 0);
    row->setSpacing(30);
    row->addWidget(left, 0, Qt::AlignVCenter);
    row->addWidget(centre, 1, Qt::AlignVCenter);
    row->addWidget(right, 0, Qt::AlignVCenter);
    bar->setFixedHeight(kBarHeight);
    views.transportBar = bar;
    static_cast<QVBoxLayout*>(views.content->layout())->addWidget(bar);
}

} // namespace ql
