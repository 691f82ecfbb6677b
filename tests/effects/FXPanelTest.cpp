// Guards against: effects panel controls that do not reach the settings, the editors or the sound.
// The effects panel offscreen: its controls driving the settings, the slot
// editors on the test bundle's plug-ins, its place and look, and the whole
// road to the simulated device.
#include "effects/FXPanel.h"
#include "app/App.h"
#include "effects/FXChain.h"
#include "effects/PluginEditorWindow.h"
#include "platform/PluginHost.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QWheelEvent>

#include <sndfile.h>

using namespace ql;

namespace {

const QString kSumDiffTitle = QStringLiteral("Quavelark Tests · Sum and difference");

struct Panel {
    QTemporaryDir dir;
    JSONStore store{dir.path()};
    std::unique_ptr<FXPanel> panel;
    int changes = 0;
    explicit Panel(const FXState& stored = FXState(), bool host = false) {
        store.save(QString::fromLatin1(stores::kFX), stored);
        panel = std::make_unique<FXPanel>(store);
        panel->onChange = [this] { ++changes; };
        if (host)
            panel->setHost(platform::makePluginHost());
    }
    FXState saved() const {
        return store.load<FXState>(QString::fromLatin1(stores::kFX)).value_or(FXState());
    }
    void closeEditor() {
        panel->editorWindow(0)->close();
        QCoreApplication::processEvents();
    }
};

// clang-format off
enum class Move { Drag, Release, Key, Wheel };
struct SliderCase { const char* name; Move move; int tenths; QString label; std::optional<double> stored; };
const std::vector<SliderCase> kSliderCases{
    {"a drag moves only the label", Move::Drag, 25, "+3 dB", std::nullopt},
    {"a release at 2.5 stores 3", Move::Release, 25, "+3 dB", 3},
    {"a release at -2.5 stores -3", Move::Release, -25, "-3 dB", -3},
    {"a release at -0.3 reads +0 dB", Move::Release, -3, "+0 dB", 0},
    {"a key step applies at once", Move::Key, 0, "+1 dB", 1},
    {"a wheel step applies at once", Move::Wheel, 0, "+3 dB", 3},
};

struct ChoiceCase { const char* name; FXState stored; const char* language; std::function<void(FXPanel&)> act; QString preset; bool enabled; int item; };
const std::vector<ChoiceCase> kChoiceCases{
    {"the switch on keeps the preset", FXState{.preset = "록"}, "ko", [](FXPanel& p) { p.enableBox->click(); }, "록", true, 5},
    {"the switch off keeps custom", FXState{.preset = kCustomPreset, .gains = {1, 0, 0, 0, 0}}, "ko", [](FXPanel& p) { p.enableBox->click(); p.enableBox->click(); }, "사용자 지정", false, 11},
    {"English item 1 is bass boost", FXState(), "en", [](FXPanel& p) { emit p.presetPopup->activated(1); }, "베이스 부스트", true, 1},
    {"a name that is no row shows custom", FXState{.preset = "Old name"}, "en", [](FXPanel&) {}, "Old name", false, 11},
};

enum class Slots { ChooseAmp, ChooseAgain, ChooseEmpty, Uninstalled };
struct SlotCase { const char* name; Slots act; bool enabledBefore; QString name0; bool hasState; bool enabled; int item; bool button; };
const std::vector<SlotCase> kSlotCases{
    {"a plug-in: no state, effects on", Slots::ChooseAmp, false, kSumDiffTitle, false, true, 2, true},
    {"the same plug-in again drops its state", Slots::ChooseAgain, false, kSumDiffTitle, false, true, 2, true},
    {"(비어 있음) empties, the switch stays off", Slots::ChooseEmpty, false, "", false, false, 0, false},
    {"(비어 있음) empties, the switch stays on", Slots::ChooseEmpty, true, "", false, true, 0, false},
    {"not installed: item 0, button enabled", Slots::Uninstalled, false, "Gone", false, false, 0, true},
};

enum class Meanwhile { Nothing, MoveTrim, Reset, OtherPlugin, SecondOpen };
struct EditorCase { const char* name; bool reopened; Meanwhile meanwhile; int changes; bool stateChanged; QString slotName; };
const std::vector<EditorCase> kEditorCases{
    {"the first close stores the state", false, Meanwhile::Nothing, 1, true, kSumDiffTitle},
    {"an untouched reopen saves nothing", true, Meanwhile::Nothing, 0, false, kSumDiffTitle},
    {"a moved control is saved", true, Meanwhile::MoveTrim, 1, true, kSumDiffTitle},
    {"a reset meanwhile leaves the slot empty", false, Meanwhile::Reset, 0, false, ""},
    {"another plug-in meanwhile gets no state", false, Meanwhile::OtherPlugin, 0, false, "LV2 · Aborts"},
    {"a second open raises the same editor", false, Meanwhile::SecondOpen, 1, true, kSumDiffTitle},
};

struct RoadCase { const char* name; QString before; int chosen; QString status; bool rendered; };
const QStringList kPanelTexts{"사운드 효과 켜기", "초기화", "야간 모드 (큰 소리 줄이고 작은 소리 키움)", "외장 플러그인 (LV2) — 위에서 아래 순서로 적용"};
const std::vector<RoadCase> kRoadCases{
    {"록 renders from the position", "끔", 5, "🎛 사운드 효과 적용 중… (잠시 소리가 멈췄다 이어집니다)", true},
    {"끔 plays the source again", "록", 0, "🎛 사운드 효과를 껐습니다.", false},
};
// clang-format on

} // namespace

class FXPanelTest : public QObject {
    Q_OBJECT
private slots:
    // The test bundle, with the units vocabulary that names "dB".
    void initTestCase() {
        const QString dir = test::tempFile(QStringLiteral("fx-panel-lv2"));
        QVERIFY(QDir().mkpath(dir));
        QFile::link(QStringLiteral(QL_TEST_LV2_DIR "/quavelark-test.lv2"), dir + "/test.lv2");
        QFile::link(QStringLiteral("/usr/lib/lv2/units.lv2"), dir + "/units.lv2");
        qputenv("LV2_PATH", dir.toUtf8());
    }
    void cleanup() {
        L10n::setLanguage("ko");
        test::removeFxFiles();
    }

    void sliders_data() { test::addRows(kSliderCases); }
    void sliders() {
        const SliderCase& c = test::currentCase(kSliderCases);
        Panel p(FXState{.gains = {0, 4, 0, 0, -2}});
        QCOMPARE(p.panel->valueLabels[2]->text(), QStringLiteral("+0 dB"));
        p.panel->toggle();
        QSlider* s = p.panel->sliders[0];
        if (c.move == Move::Key)
            QTest::keyClick(s, Qt::Key_Right);
        if (c.move == Move::Wheel) {
            QWheelEvent wheel(QPointF(5, 5), s->mapToGlobal(QPointF(5, 5)), {}, {0, 120},
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(s, &wheel);
        }
        if (c.move == Move::Drag || c.move == Move::Release) {
            s->setSliderDown(true);
            s->setValue(c.tenths);
            QCOMPARE(p.changes, 0);
            if (c.move == Move::Release)
                s->setSliderDown(false);
        }
        QCOMPARE(p.panel->valueLabels[0]->text(), c.label);
        QCOMPARE(p.changes, c.stored ? 1 : 0);
        if (!c.stored) {
            QCOMPARE(p.panel->state, p.saved());
            return;
        }
        const FXState after = p.saved();
        QCOMPARE(after.gains, (std::vector<double>{*c.stored, 4, 0, 0, -2}));
        QCOMPARE(std::signbit(p.panel->state.gains[0]), std::signbit(*c.stored));
        QCOMPARE(after.preset, kCustomPreset);
        QVERIFY(after.enabled);
        QCOMPARE(s->value(), int(*c.stored) * 10); // snapped to the whole value
    }

    void choices_data() { test::addRows(kChoiceCases); }
    void choices() {
        const ChoiceCase& c = test::currentCase(kChoiceCases);
        Panel p(c.stored);
        L10n::setLanguage(c.language);
        Translator::translateWindow(p.panel->window());
        c.act(*p.panel);
        QCOMPARE(p.panel->state.preset, c.preset);
        QCOMPARE(p.panel->state.enabled, c.enabled);
        QCOMPARE(p.panel->presetPopup->currentIndex(), c.item);
        QCOMPARE(p.panel->enableBox->isChecked(), c.enabled);
        if (p.changes)
            QCOMPARE(p.saved(), p.panel->state);
        if (QString(c.language) == "en")
            QCOMPARE(p.panel->presetPopup->itemText(1), QStringLiteral("Bass boost"));
    }

    void slotChoices_data() { test::addRows(kSlotCases); }
    void slotChoices() {
        const SlotCase& c = test::currentCase(kSlotCases);
        FXState stored;
        stored.enabled = c.enabledBefore;
        stored.plugins[0] = c.act == Slots::Uninstalled ? PluginSlot{"Gone", 1, 2, 3, {}}
                                                        : PluginSlot{"Old", 4, 5, 6, "bytes"};
        Panel p(stored, true);
        QCOMPARE(p.panel->pluginPopups[1]->count(), 4); // "(비어 있음)" and three plug-ins
        QVERIFY(!p.panel->pluginButtons[1]->isEnabled());
        const int item = c.act == Slots::ChooseEmpty ? 0 : 2;
        if (c.act != Slots::Uninstalled)
            emit p.panel->pluginPopups[0]->activated(item);
        if (c.act == Slots::ChooseAgain) {
            p.panel->state.plugins[0].state = "edited";
            emit p.panel->pluginPopups[0]->activated(item);
        }
        const PluginSlot slot = p.saved().plugins[0];
        QCOMPARE(slot.name, c.name0);
        QCOMPARE(slot.state.has_value(), c.hasState);
        if (c.name0 == kSumDiffTitle)
            QCOMPARE((PluginCodes{slot.type, slot.sub, slot.man}),
                     pluginCodes("urn:quavelark:test:sumdiff", true));
        QCOMPARE(p.panel->state.enabled, c.enabled);
        QCOMPARE(p.panel->pluginPopups[0]->currentIndex(), c.item);
        QCOMPARE(p.panel->pluginButtons[0]->isEnabled(), c.button);
    }

    void editor_data() { test::addRows(kEditorCases); }
    void editor() {
        const EditorCase& c = test::currentCase(kEditorCases);
        Panel p(FXState(), true);
        emit p.panel->pluginPopups[0]->activated(2);
        if (c.reopened) {
            p.panel->openPlugin(0);
            p.closeEditor();
        }
        const FXState before = p.panel->state;
        p.changes = 0;
        p.panel->pluginButtons[0]->click();
        PluginEditorWindow* window = p.panel->editorWindow(0);
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), kSumDiffTitle);
        QStringList rows;
        for (const QLabel* label : window->findChildren<QLabel*>())
            rows << label->text();
        QVERIFY2(rows.contains("Trim (dB)") && rows.contains("Mode") && !rows.contains("Mute"),
                 qPrintable(rows.join('|')));
        QCOMPARE(window->findChild<QComboBox*>()->itemText(1), QStringLiteral("Swap"));
        QSlider* trim = window->findChild<QSlider*>();
        QCOMPARE(trim->value(), 667); // 1.0 two thirds up a log scale from 0.01 to 10
        if (c.meanwhile == Meanwhile::MoveTrim)
            trim->setValue(900);
        if (c.meanwhile == Meanwhile::Reset)
            p.panel->resetButton->click();
        if (c.meanwhile == Meanwhile::OtherPlugin)
            emit p.panel->pluginPopups[0]->activated(1);
        if (c.meanwhile == Meanwhile::SecondOpen) {
            p.panel->pluginButtons[0]->click();
            QCOMPARE(p.panel->editorWindow(0), window);
        }
        const int changesBefore = p.changes;
        p.closeEditor();
        QCOMPARE(p.panel->editorWindow(0), nullptr);
        QCOMPARE(p.changes - changesBefore, c.changes);
        const PluginSlot slot = p.saved().plugins[0];
        QCOMPARE(slot.name, c.slotName);
        QCOMPARE(slot.state != before.plugins[0].state, c.stateChanged);
        QCOMPARE(p.panel->state.enabled, !c.slotName.isEmpty());
    }

    // Its place on every show, and an offscreen picture of the whole panel.
    void placeAndLook() {
        Panel p;
        const QPoint place =
            QGuiApplication::primaryScreen()->availableGeometry().topLeft() + QPoint(60, 60);
        for (int round = 0; round < 2; ++round) {
            p.panel->toggle();
            QVERIFY(p.panel->window()->isVisible());
            QCOMPARE(p.panel->window()->pos(), place);
            p.panel->window()->move(place + QPoint(200, 100)); // the user's move
            p.panel->toggle();
            QVERIFY(!p.panel->window()->isVisible());
        }
        p.panel->toggle();
        QWidget* w = p.panel->window();
        const QImage shot = w->grab().toImage();
        QCOMPARE(shot.size(), QSize(440, 700));
        if (const QByteArray out = qgetenv("QL_FX_PANEL_PNG"); !out.isEmpty())
            shot.save(QString::fromUtf8(out));
        QStringList shown;
        for (const QWidget* child : w->findChildren<QWidget*>()) {
            if (!child->isVisible())
                continue;
            QVERIFY2(w->rect().contains(QRect(child->mapTo(w, QPoint()), child->size())),
                     child->metaObject()->className());
            if (const auto* label = qobject_cast<const QLabel*>(child))
                shown << label->text();
            if (const auto* button = qobject_cast<const QAbstractButton*>(child))
                shown << button->text();
        }
        for (const QString& text : fxBandNames() + kPanelTexts)
            QVERIFY2(shown.contains(text), qPrintable(text));
        QCOMPARE(shown.count("설정 열기"), 3);
    }

    // Maximum quality and bit-perfect off, a track playing at 1 s.
    void roadToTheDevice_data() { test::addRows(kRoadCases); }
    void roadToTheDevice() {
        const RoadCase& c = test::currentCase(kRoadCases);
        auto sink = std::make_shared<platform::SimSinkControl>(platform::SimClock::Manual,
                                                               44100 * 2 * 4 * 4);
        test::RiggedApp rig{test::twoOutputs(), platform::SimOutputs{platform::SimClock::Manual,
                                                                     {{test::kAnalogB, sink}}}};
        App& app = rig.app;
        app.playback.rateMatchOn = app.playback.maxQuality = app.playback.bitPerfect = false;
        choosePreset(app.fxPanel->state, c.before);
        const QString path = test::tempFile(QStringLiteral("fx-panel-road.flac"));
        QVERIFY(test::writeAudio(path, {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, 3 * 44100}));
        const Track track{1, path, {}, {}, {}, 3, {}};
        app.play(track);
        QVERIFY(QTest::qWaitFor([&] { return !app.playback.loading; }, 30000));
        QVERIFY(app.isPlaying());
        app.playback.audio->setCurrentTime(1.0);

        emit app.fxPanel->presetPopup->activated(c.chosen);
        QCOMPARE(app.status->stringValue(), c.status);
        QVERIFY(QTest::qWaitFor([&] { return !app.playback.loading; }, 30000));
        QVERIFY(app.isPlaying());
        QCOMPARE(app.playback.audio->path().contains("Quavelark-fx-"), c.rendered);
        QVERIFY(std::abs(app.playback.audio->currentTime() - 1.0) < 0.2);
    }
};

QL_TEST_MAIN(FXPanelTest)
#include "FXPanelTest.moc"
