// ---- listening: the tools panel ----
//
// Three rows of the page's bottom panel gather the playback switches and the
// entries of the listening tools. Row 1: lyrics, similar tracks, FLAC
// upgrade, remote, sound; then, at the right edge, crossfade, leveling, the
// sleep timer and the level meter (126 x 22). Row 2: favourite, A-B repeat,
// "속도" and the speed pop-up, Sonic Adventure and the guest DJ; then the four
// playback modes in the order maximum quality, rate matching, gapless,
// bit-perfect. Row 3: quality analysis, signal path, now playing and the
// upsampling pop-up, then free room. The rows are 10 apart inside, 8 apart
// from each other; the panel sets no font, colour or background. Each row is
// a FlowRow: on a window too narrow for a row's titles (English is longer),
// its controls wrap to a further line instead of being cut.
//
// The controls other code reads and sets (the six boxes, the speed, sleep and
// upsampling pop-ups, the A-B button, the meter) are App's, made empty with
// App; the build titles, fills and places those same objects, and connects
// only what nobody connected before. Filling happens before anything can
// send an action: the speed pop-up is never empty when `activated` fires.
// Checkboxes act on `clicked` and pop-ups on `activated`, so the build and
// every programmatic change run no action.
//
// The build also: installs the effects window's change callback (in place
// of the plain re-render App set at construction), gives the track table
// its row menu (built already translated: the translation pass never visits
// context menus), starts the 50 ms meter timer (once; it runs for the whole
// run, panel hidden or not), and syncs the controls of the two exclusive
// modes (applyBitState) after the mode boxes are made.
//
// The two pull-downs (sleep timer, guest DJ) are split tool buttons whose
// face is the button's text and whose menu holds the acting items 1…n.
#include "app/App.h"

#include "analysis/LevelMeter.h"
#include "app/UserDefaults.h"
#include "effects/FXPanel.h"
#include "listening/PanelChoices.h"
#include "ui/FlowRow.h"
#include "ui/IconButton.h"
#include "ui/PullDownButton.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>

#include <functional>
#include <iterator>

namespace ql {

namespace {

constexpr int kRowSpacing = 10;
constexpr int kPanelSpacing = 8;
constexpr QSize kMeterSize{126, 22};

const char* const kSleepFace = "😴 수면 타이머";
// Items 1…5 of the sleep pull-down; item 0 is its face.
const char* const kSleepItems[] = {"15분 뒤 멈춤", "30분 뒤 멈춤", "60분 뒤 멈춤", "90분 뒤 멈춤",
                                   "타이머 끄기"};
const char* const kDjItems[] = {"컨템포 — 비슷한 분위기·같은 시대", "그루피 — 같은 가수 이어서",
                                "스트레치 — 곡 사이를 점점 변화", "DJ 끄기"};
const char* const kSpeedTitles[] = {"0.5x", "0.75x", "0.9x", "1x", "1.1x", "1.25x", "1.5x", "2x"};
const char* const kUpsamplingItems[] = {"업샘플링: 끔", "업샘플링: 2의 거듭제곱 배",
                                        "업샘플링: 장치 최대"};
const char* const kEffectsEndedModes =
    "🎛 사운드 효과를 쓰려고 최고 음질/비트퍼펙트를 껐습니다. "
    "원음으로 들으려면 🎯 최고 음질을 "
    "다시 켜세요.";

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

void configure(QAbstractButton* box, const char* title, const char* tip, bool on) {
    box->setText(text(title));
    box->setToolTip(text(tip));
    box->setChecked(on);
}

// A pull-down on a tool button: both its parts open the menu, item n
// (from 1) calls `pick` with n. A split button: Qt sizes its arrow section,
// where an instant pop-up's arrow would be drawn over the face's last
// letters.
void fillPullDown(QToolButton* face, const char* const* items, int count,
                  const std::function<void(int)>& pick) {
    face->setPopupMode(QToolButton::MenuButtonPopup);
    QObject::connect(face, &QToolButton::clicked, face, &QToolButton::showMenu,
                     Qt::UniqueConnection);
    auto* menu = new QMenu(face);
    for (int i = 1; i <= count; ++i)
        QObject::connect(menu->addAction(text(items[i - 1])), &QAction::triggered, face,
                         [pick, i] { pick(i); });
    face->setMenu(menu);
}

// The left group, then free room, then the right group; a control that does
// not fit wraps to a new line rather than being squeezed.
FlowRow* row(const QList<QWidget*>& left, const QList<QWidget*>& right) {
    auto* r = new FlowRow(kRowSpacing);
    for (QWidget* v : left)
        r->addWidget(v);
    r->startTrailing();
    for (QWidget* v : right)
        r->addWidget(v);
    return r;
}

} // namespace

QWidget* App::buildExtras() {
    const auto call = [this](void (App::*action)()) { return weakCall(action); };

    // 1. Row 1's push buttons. The FLAC button is made only when it is
    // placed: whether the downloader script is there is decided once, now.
    QPushButton* radio = button(text("📻 비슷한 곡"), call(&App::startRadio));
    radio->setToolTip(text("지금 곡과 같은 가수·앨범·폴더 위주로 이어서 재생. 다시 누르면 해제"));
    QList<QWidget*> row1Left{makeLyricsButton(), radio};
    if (hasFetcher())
        row1Left << makeUpgradeButton(nullptr);
    QPushButton* sound = button(text("🎛 사운드"), call(&App::toggleFXPanel));
    sound->setToolTip(text("EQ·베이스 부스트·공간감·크로스피드 등 사운드 효과"));

    // 2. A change in the effects window may end the two modes that bypass it.
    QPointer<App> self(this);
    fxPanel->onChange = [self] {
        if (self)
            self->effectsEdited();
    };

    // 3. The phone remote, after the FLAC button.
    row1Left << makeRemoteButton(nullptr);

    // 4. Crossfade and leveling.
    configure(crossfadeBox, "크로스페이드",
              "곡이 끝나기 5초 전부터 다음 곡과 겹쳐 재생 (바로 재생 가능한 포맷에서)",
              listening.crossfadeOn);
    configure(levelingBox, "음량 균일화",
              "곡마다 음량 차이를 줄임 (큰 곡을 낮춤, 곡 재생 후 몇 초 뒤 분석 반영)",
              listening.levelingOn);
    for (QCheckBox* box : {crossfadeBox, levelingBox})
        connect(box, &QCheckBox::clicked, this, &App::extrasToggled, Qt::UniqueConnection);

    // 5. The sleep pull-down: its face is item 0, items 1…5 act.
    sleepPopup->setText(L10n::tr(text(kSleepFace)));
    fillPullDown(sleepPopup, kSleepItems, int(std::size(kSleepItems)), [self](int i) {
        if (self)
            self->sleepChanged(i);
    });

    // 6-7. The meter's size, and its timer.
    meter->setFixedSize(kMeterSize);
    startMeterTimer();

    // 8. Row 1.
    FlowRow* row1 = row(row1Left << sound, {crossfadeBox, levelingBox, sleepPopup, meter});

    // 9. The favourite heart (its title follows the current track afterwards)
    // and A-B repeat.
    favButton->setText(L10n::tr(text("♡ 즐겨찾기")));
    favButton->setToolTip(text("현재 곡(또는 선택한 곡)을 즐겨찾기에 추가/해제"));
    connect(favButton, &QPushButton::clicked, this, &App::toggleFavorite, Qt::UniqueConnection);
    abButton->setText(L10n::tr(text("A-B 반복")));
    abButton->setToolTip(
        text("눌러서 구간 시작(A) → 끝(B) 지정, 한 번 더 누르면 해제. 듣기 공부용"));
    connect(abButton, &QPushButton::clicked, this, &App::abCycle, Qt::UniqueConnection);

    // 10. The speed list; the stored speed itself is left as it is.
    ratePopup->clear();
    for (const char* title : kSpeedTitles)
        ratePopup->addItem(text(title));
    ratePopup->setToolTip(text("재생 속도 (음높이 유지)"));
    ratePopup->setCurrentIndex(speedIndex(playback.playRate));

    // 11. The speed label.
    auto* speedLabel = new QLabel(text("속도"));

    // 12. A click on a lyrics line seeks there.
    installLyricsSeek();

    // 13. The four mode boxes, already wired to playbackModeToggled.
    configure(gaplessBox, "갭리스",
              "곡 사이를 끊김 없이 이어서 재생 (다음 곡을 미리 준비). 크로스페이드를 켜면 "
              "크로스페이드가 우선",
              playback.gaplessOn);
    configure(maxBox, "🎯 최고 음질",
              "항상 최고 음질: 장치가 지원하는 가장 높은 샘플레이트로 업샘플링(libsoxr 최고 품질 "
              "변환), 샘플레이트·비트 깊이 자동 맞춤, 음량은 가능하면 장치 음량으로 조절(앱에서 "
              "소리를 깎지 않음). 음량 균일화·크로스페이드는 꺼집니다.",
              playback.maxQuality);
    configure(rateBox, "샘플레이트 맞춤",
              "곡마다 출력 장치의 샘플레이트를 곡에 맞춥니다(장치가 못 따라가면 같은 계열의 가장 "
              "가까운 값). 끄면 시스템이 변환합니다.",
              playback.rateMatchOn);
    configure(bitBox, "💎 비트퍼펙트",
              "원음 우선: 앱 음량·균일화·크로스페이드·속도를 끄고, 출력 장치 샘플레이트를 곡에 "
              "맞춥니다. 음량은 시스템 음량(키보드)으로 조절하세요.",
              playback.bitPerfect);

    // 14. Sonic Adventure and the guest DJ's pull-down (its face follows the
    // style afterwards).
    QPushButton* adventure = button(text("🧭 소닉 어드벤처"), call(&App::sonicAdventure));
    adventure->setToolTip(text(
        "지금 곡 → 목록에서 선택한 곡까지, 템포·음량·분위기를 서서히 바꾸며 곡들을 이어 줍니다"));
    showDjFace();
    fillPullDown(djPopup, kDjItems, int(std::size(kDjItems)), [self](int i) {
        if (self)
            self->djChanged(i);
    });
    // 15. The background sonic scan, 20 s from now, when "sonicOn" is set now.
    scheduleSonicScan();

    // 16. Row 2.
    FlowRow* row2 = row({favButton, abButton, speedLabel, ratePopup, adventure, djPopup},
                        {maxBox, rateBox, gaplessBox, bitBox});

    // 17. The controls the two exclusive modes govern.
    applyBitState();

    // 18. The track table's row menu; the FLAC item only with the downloader
    // script.
    auto* rowMenu = new QMenu(views.table);
    addMenuItem(rowMenu, L10n::tr(text("다음에 재생")), call(&App::menuPlayNext));
    addMenuItem(rowMenu, L10n::tr(text("♥ 즐겨찾기 추가/해제")), call(&App::menuFavorite));
    addUpgradeItem(rowMenu);
    views.table->setRowMenu(rowMenu);

    // 19. Row 3's buttons.
    QPushButton* scan = button(text("🔬 음질 분석"), call(&App::showAudioScan));
    scan->setToolTip(text("선택한(또는 재생 중인) 곡의 주파수 응답을 분석해 가짜 하이레즈·손실 "
                          "변환 여부를 판별"));
    QPushButton* path = button(text("🧩 신호 경로"), call(&App::showSignalPath));
    path->setToolTip(text("이 곡이 어떤 단계를 거쳐 어떤 형식으로 장치에 나가는지 보기"));
    QPushButton* nowPlayingEntry = button(text("🖼 지금 재생"), call(&App::showNowPlaying));
    nowPlayingEntry->setToolTip(
        text("큰 앨범 아트와 파형이 있는 재생 화면 (왼쪽 아래 앨범 아트를 눌러도 열려요)"));

    // 20. The upsampling pop-up: the item index is the mode.
    upPopup->clear();
    // In the interface language at once: a pop-up measures its width on
    // the items it holds when first shown.
    for (const char* item : kUpsamplingItems)
        upPopup->addItem(L10n::tr(text(item)));
    upPopup->setCurrentIndex(upsamplingIndex(playback.maxQuality, playback.upMode));
    upPopup->setToolTip(text("곡을 장치가 지원하는 더 높은 샘플레이트로 올려 보냅니다(libsoxr 최고 "
                             "품질 변환, 곡 시작 시 몇 초 걸림). 비트퍼펙트를 켜면 꺼집니다."));

    // 21-22. Row 3, and the panel.
    FlowRow* row3 = row({scan, path, nowPlayingEntry, upPopup}, {});
    auto* panel = new QWidget;
    panel->setObjectName(QStringLiteral("toolsPanel"));
    auto* rows = new QVBoxLayout(panel);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(kPanelSpacing);
    for (FlowRow* r : {row1, row2, row3})
        rows->addLayout(r);
    return panel;
}

void App::extrasToggled() {
    // Both boxes are read every time, so the two wishes always mirror them.
    listening.crossfadeOn = crossfadeBox->isChecked();
    listening.levelingOn = levelingBox->isChecked();
    UserDefaults defaults;
    defaults.set(keys::kCrossfade, listening.crossfadeOn);
    defaults.set(keys::kLeveling, listening.levelingOn);
    if (listening.levelingOn && playback.current)
        ensureLoudness(*playback.current);
    applyVolume();
}

void App::toggleTools() {
    QWidget* panel = views.extrasView;
    if (!panel)
        return;
    panel->setHidden(!panel->isHidden());
    const bool open = !panel->isHidden();
    UserDefaults().set(keys::kToolsOpen, open);
    // The tools button shows no title (an icon button); its tool tip and the
    // panel itself tell the state.
    views.toolsButton->setTitle(open ? QStringLiteral("🎛 도구 닫기")
                                     : QStringLiteral("🎛 도구"));
}

void App::effectsEdited() {
    PlaybackState& p = playback;
    if (effectsActive(fxPanel->state) && (p.maxQuality || p.bitPerfect)) {
        p.maxQuality = false;
        p.bitPerfect = false;
        UserDefaults defaults;
        defaults.set(keys::kMaxQuality, false);
        defaults.set(keys::kBitPerfect, false);
        maxBox->setChecked(false);
        bitBox->setChecked(false);
        applyBitState();
        status->setStringValue(L10n::tr(text(kEffectsEndedModes)));
    }
    fxChanged();
}

} // namespace ql
