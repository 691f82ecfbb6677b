// Guards against: a tools panel or now-playing window that shows, stores or plays the wrong thing.
// The window as the launch builds it, offscreen; switches on the simulated device.
#include "analysis/WaveformView.h"
#include "app/App.h"
#include "app/UserDefaults.h"
#include "downloader/FlacFetcher.h"
#include "effects/FXPanel.h"
#include "listening/NowPlayingWindow.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"
#include "ui/ClickImageView.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableView.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QScreen>

#include <sndfile.h>

using namespace ql;

namespace {

const QString kMarker = QStringLiteral("(before)");
const QString kEnded = QStringLiteral(
    "🎛 사운드 효과를 쓰려고 최고 음질/비트퍼펙트를 껐습니다. "
    "원음으로 들으려면 🎯 최고 음질을 다시 켜세요.");

std::vector<Track> threeTracks() {
    return {Track{1, "/m/1.flac", "one", "a", {}, 60, {}},
            Track{2, "/m/2.flac", "two", "b", {}, 60, {}},
            Track{3, "/m/3.flac", "three", "c", {}, 60, {}}};
}

// clang-format off
// Stored before the launch (absent: not stored); `shaping`: upsampling, crossfade, leveling enabled.
struct BuildCase { const char* name; QVariant maxQuality, bitPerfect, upMode, playRate; QString upShown; bool shaping; QString speedShown; double speedAfter; };
const std::vector<BuildCase> kBuild{
    {"first launch", {}, {}, {}, {}, "업샘플링: 장치 최대", false, "1x", 1.0},
    {"neither mode, upMode 5", false, false, 5, 1.0, "업샘플링: 장치 최대", true, "1x", 1.0},
    {"neither mode, negative upMode", false, false, -1, 1.25, "업샘플링: 끔", true, "1.25x", 1.25},
    {"speed 1.004", false, false, 1, 1.004, "업샘플링: 2의 거듭제곱 배", true, "1x", 1.004},
    {"speed 1.3 matches nothing", false, false, 0, 1.3, "업샘플링: 끔", true, "1x", 1.3},
    {"bit-perfect forces 1x", false, true, 1, 1.5, "업샘플링: 2의 거듭제곱 배", false, "1x", 1.0},
};

using Edit = std::function<void(FXState&)>;
struct EffectsCase { const char* name; bool max, bit; Edit edit; bool endsModes; };
const std::vector<EffectsCase> kEffects{
    {"gain with bit-perfect", false, true, [](FXState& s) { s.enabled = true; s.gains[2] = 3; }, true},
    {"night with maximum quality", true, false, [](FXState& s) { s.enabled = true; s.night = true; }, true},
    {"plug-in alone", true, false, [](FXState& s) { s.enabled = true; s.plugins[1].name = "Echo"; }, true},
    {"switch off", true, false, [](FXState& s) { s.gains[0] = 6; s.wide = true; }, false},
    {"on with nothing set", false, true, [](FXState& s) { s.enabled = true; }, false},
    {"active, neither mode", false, false, [](FXState& s) { s.enabled = true; s.room = true; }, false},
};

struct SwitchCase { const char* name; bool leveling, current, measured; int asked; bool quieter; };
const std::vector<SwitchCase> kSwitches{
    {"leveling, unmeasured track", true, true, false, 1, false},
    {"leveling, loud measured track", true, true, true, 0, true},
    {"leveling without a track", true, false, false, 0, false},
    {"crossfade", false, true, true, 0, false},
};
// clang-format on

} // namespace

class ToolsPanelTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }

    void panelState() {
        platform::Platform none;
        App(none).toggleTools(); // no window yet
        QVERIFY(!UserDefaults().contains(keys::kToolsOpen));
        {
            test::LaunchedApp l("ko");
            QVERIFY(l->views.extrasView->isHidden());
            // The meter timer runs with the panel hidden.
            QStringList steps;
            test::fakes(*l.app).observer.tickStep = [&](const char* s) {
                return steps << s, false;
            };
            // Woken as a play start wakes it: on a slow machine an idle meter
            // may already have fallen to rest and stopped its timer.
            l->wakeMeter();
            QTRY_VERIFY(steps.contains("meter"));
            l->toggleTools();
            QVERIFY(l->views.extrasView->isVisible());
            QCOMPARE(UserDefaults().boolIfPresent(keys::kToolsOpen), true);
        }
        test::LaunchedApp again("ko");
        QVERIFY(again->views.extrasView->isVisible());
    }

    void buildRows_data() { test::addRows(kBuild); }
    void buildRows() {
        const BuildCase& c = test::currentCase(kBuild);
        if (c.maxQuality.isValid())
            test::storeSetting(keys::kFxResetV1, true);
        test::storeSetting(keys::kMaxQuality, c.maxQuality);
        test::storeSetting(keys::kBitPerfect, c.bitPerfect);
        test::storeSetting(keys::kUpMode, c.upMode);
        test::storeSetting(keys::kPlayRate, c.playRate);
        test::LaunchedApp l("ko");
        App& a = *l.app;
        QCOMPARE(a.upPopup->currentText(), c.upShown);
        QCOMPARE(a.upPopup->isEnabled() && a.crossfadeBox->isEnabled() &&
                     a.levelingBox->isEnabled(),
                 c.shaping);
        QCOMPARE(a.ratePopup->currentText(), c.speedShown);
        QCOMPARE(a.playback.playRate, c.speedAfter);
        QCOMPARE(UserDefaults().intIfPresent(keys::kUpMode),
                 c.upMode.isValid() ? std::optional(c.upMode.toInt()) : std::nullopt);
        // Row 2 ends with the four modes in this order, each showing its field.
        a.toggleTools();
        const PlaybackState& p = a.playback;
        const QList<QCheckBox*> boxes{a.maxBox, a.rateBox, a.gaplessBox, a.bitBox};
        const QList<bool> fields{p.maxQuality, p.rateMatchOn, p.gaplessOn, p.bitPerfect};
        const QStringList titles{"🎯 최고 음질", "샘플레이트 맞춤", "갭리스", "💎 비트퍼펙트"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(std::pair(boxes[i]->text(), boxes[i]->isChecked()),
                     std::pair(titles[i], fields[i]));
            QVERIFY(i == 0 || boxes[i - 1]->x() < boxes[i]->x());
        }
    }

    // The row menu acts on the right-clicked row, nothing below the rows; the
    // FLAC entries exist only with the downloader script.
    void rowMenu_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("script");
        QTest::newRow("second row, no script") << 1 << false;
        QTest::newRow("second row, script") << 1 << true;
        QTest::newRow("below the rows") << -1 << true;
    }
    void rowMenu() {
        QFETCH(int, row);
        QFETCH(bool, script);
        const QString resources = test::tempFile(script ? "with" : "without");
        QVERIFY(QDir().mkpath(resources) &&
                (!script || test::writeFile(resources + "/flac_fetch.py", "")));
        test::LaunchedApp l("ko", [&](App& a) { a.fetcher->setFolders({resources, {}}); });
        App& a = *l.app;
        a.library.rows = threeTracks();
        a.browser.viewKind = 0;
        a.applyViewMode();
        a.filter();
        TrackTableView& table = *a.views.table;
        QTRY_VERIFY(table.isVisible() && table.rowHeight(0) > 0);
        const int y = row < 0 ? table.viewport()->height() - 2 : table.rowViewportPosition(row) + 4;
        QContextMenuEvent press(QContextMenuEvent::Mouse, {20, y},
                                table.viewport()->mapToGlobal(QPoint(20, y)));
        QApplication::sendEvent(table.viewport(), &press);
        QMenu* menu = table.rowMenu();
        QTRY_VERIFY(menu->isVisible());
        QStringList titles;
        for (QAction* item : menu->actions())
            titles << item->text();
        QCOMPARE(titles, QStringList({"다음에 재생", "♥ 즐겨찾기 추가/해제"}) +
                             QStringList(script, "⬆ FLAC로 받기"));
        // Row 1's buttons, left to right; the FLAC one only with the script.
        a.toggleTools();
        QWidget* panel = a.views.extrasView;
        const auto middle = [panel](QWidget* w) { return w->mapTo(panel, w->rect().center()).y(); };
        QList<QPushButton*> row1;
        for (QPushButton* b : panel->findChildren<QPushButton*>())
            if (b->isVisible() && std::abs(middle(b) - middle(a.crossfadeBox)) <= 3)
                row1 << b;
        std::ranges::sort(row1, {}, [](QPushButton* b) { return b->x(); });
        QStringList row1Titles;
        for (QPushButton* b : row1)
            row1Titles << b->text();
        QCOMPARE(row1Titles, QStringList({"🎤 가사", "📻 비슷한 곡"}) +
                                 QStringList(script, "⬆ FLAC로 받기") +
                                 QStringList({"📱 리모컨", "🎛 사운드"}));
        menu->actions().first()->trigger();
        menu->close();
        QCOMPARE(a.listening.radioQueue,
                 row < 0 ? QList<qint64>{}
                         : QList<qint64>{a.browser.filtered[std::size_t(row)].id});
    }

    void effectsChange_data() { test::addRows(kEffects); }
    void effectsChange() {
        const EffectsCase& c = test::currentCase(kEffects);
        test::storeSetting(keys::kFxResetV1, true);
        test::storeSetting(keys::kMaxQuality, c.max);
        test::storeSetting(keys::kBitPerfect, c.bit);
        test::LaunchedApp l("ko");
        App& a = *l.app;
        a.fxPanel->state = FXState{}; // not what an earlier row saved
        for (int change = 0; change < 2; ++change) {
            a.status->setStringValue(kMarker);
            // fxChanged drops the cached render: its file tells whether it ran.
            const QString cached = test::tempFile("cached.caf");
            QVERIFY(test::writeFile(cached, "render"));
            a.playback.fxCache = RenderCacheEntry{"key", cached, {}};
            c.edit(a.fxPanel->state);
            a.fxPanel->commit();
            QVERIFY(!QFile::exists(cached));
            const bool ended = c.endsModes && change == 0;
            QCOMPARE(a.status->stringValue(), ended ? kEnded : kMarker);
        }
        const bool max = c.max && !c.endsModes, bit = c.bit && !c.endsModes;
        UserDefaults d;
        QCOMPARE(std::tuple(a.playback.maxQuality, a.playback.bitPerfect, a.maxBox->isChecked(),
                            a.bitBox->isChecked(), d.boolean(keys::kMaxQuality),
                            d.boolean(keys::kBitPerfect)),
                 std::tuple(max, bit, max, bit, max, bit));
        QCOMPARE(a.upPopup->isEnabled(), !max && !bit);
    }

    void switches_data() { test::addRows(kSwitches); }
    void switches() {
        const SwitchCase& c = test::currentCase(kSwitches);
        test::storeMaxQualityOff();
        test::LaunchedApp l("ko", {}, platform::makeSimulatedPlatform());
        App& a = *l.app;
        int asked = 0;
        test::fakes(a).tools.loudnessProgram = [&] {
            return ++asked, QStringLiteral("/nonexistent/ffmpeg");
        };
        const Track track{7, test::tempFile("loud.wav"), "loud", {}, {}, 2, {}};
        QVERIFY(test::writeAudio(track.path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 88200}));
        if (c.measured)
            a.playback.loud.insert(track.path, -4.0); // far above the leveling target
        if (c.current) {
            a.play(track);
            QTRY_VERIFY_WITH_TIMEOUT(a.isPlaying(), ql::test::kOutcomeMs);
        }
        const float before = a.playback.audio ? a.playback.audio->volume() : 0;
        (c.leveling ? a.levelingBox : a.crossfadeBox)->click();
        UserDefaults d;
        QCOMPARE(std::tuple(d.boolIfPresent(keys::kCrossfade), d.boolIfPresent(keys::kLeveling)),
                 std::tuple(std::optional(!c.leveling), std::optional(c.leveling)));
        QCOMPARE(asked, c.asked);
        if (a.playback.audio)
            QCOMPARE(a.playback.audio->volume() < before - 0.05f, c.quieter);
    }

    void nowPlayingWindow_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("Korean") << QString("ko") << QString("음악을 선택하세요");
        QTest::newRow("English") << QString("en") << QString("Select music");
    }
    void nowPlayingWindow() {
        QFETCH(QString, lang);
        QFETCH(QString, prompt);
        QList<qint64> played;
        test::LaunchedApp l(lang, [&](App& a) {
            test::fakes(a).observer.playRequest = [&](const Track& t) { played << t.id; };
            test::fakes(a).observer.fallbackRoad = [](const char*, const Track&, quint64) {};
        });
        App& a = *l.app;
        NowPlayingWindow& np = *a.nowPlaying;
        a.showNowPlaying();
        QVERIFY(QTest::qWaitForWindowExposed(np.window.get()));
        const std::vector<QString> shown{np.titleLabel->text(), np.artistLabel->text(),
                                         np.timeLabel->text(), np.playButton->text(),
                                         np.favButton->text()};
        QCOMPARE(shown, (std::vector<QString>{prompt, "", "0:00 / 0:00", "▶", "♡"}));

        // The buttons reach previous, play/pause and next around the second track.
        a.library.rows = threeTracks();
        a.filter();
        for (QPushButton* b : {np.playButton, np.prevButton, np.nextButton}) {
            a.playback.current = a.browser.filtered[1];
            b->click();
        }
        QCOMPARE(played, (QList<qint64>{2, 1, 3}));
        // The heart, no row selected: the current track, shown at once.
        a.playback.current = a.browser.filtered[2];
        a.listening.favorites.clear(); // not what an earlier row saved
        np.favButton->click();
        QVERIFY(np.favButton->text() == "♥" && a.listening.favorites.contains("/m/3.flac"));

        // Closed, moved and opened again: centred again.
        np.window->move(0, 0);
        np.window->close();
        QVERIFY(!np.visible());
        a.showNowPlaying();
        QTRY_VERIFY_WITH_TIMEOUT(np.visible(), ql::test::kOutcomeMs);
        const QPoint centre = a.window->screen()->availableGeometry().center();
        QVERIFY((np.window->frameGeometry().center() - centre).manhattanLength() <= 2);
        // Minimised and asked for again: it comes back instead of closing.
        np.window->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(np.window->isMinimized(), ql::test::kOutcomeMs);
        a.showNowPlaying();
        QTRY_VERIFY_WITH_TIMEOUT(np.visible() && !np.window->isMinimized(), ql::test::kOutcomeMs);

        // At the least size the column keeps 64 free and the cover gives up height.
        np.window->resize(420, 600);
        QTRY_COMPARE_WITH_TIMEOUT(np.window->width(), 420, ql::test::kOutcomeMs);
        QTest::qWait(20);
        const int narrow = np.window->width() - 64 - 64;
        QCOMPARE(np.wave->width(), narrow);
        QCOMPARE(np.wave->height(), 54);
        QVERIFY(np.titleLabel->width() <= narrow);
        QCOMPARE(np.art->width(), np.art->height());
        QVERIFY(np.art->width() > 0 && np.art->width() < narrow);
    }
};

QL_TEST_MAIN(ToolsPanelTest)
#include "ToolsPanelTest.moc"
