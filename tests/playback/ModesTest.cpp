// Guards against: mode switches that disagree with what is stored, shown or played.
// Offscreen on the simulated device; end to end with the real ffmpeg.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "effects/FXEdit.h"
#include "effects/FXPanel.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "OpenSettled.h"
#include "PlayInTime.h"
#include "RiggedApp.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>

#include <atomic>

#include <sndfile.h>

using namespace ql;
using namespace ql::platform;

namespace {

const QString kUid = QStringLiteral("usb:dac");
const QString kMarker = QStringLiteral("(before)");
const QString kOff = QStringLiteral("비트퍼펙트를 껐습니다.");
const QString kOn = QStringLiteral(
    "💎 비트퍼펙트: 앱 음량·균일화·크로스페이드·속도를 끄고 출력 샘플레이트를 곡에 맞춥니다. "
    "음량은 시스템 음량으로 조절하세요(HDMI 출력은 음량 조절이 안 될 수 있어요).");
constexpr int kWaitMs = 30000;
constexpr std::int64_t kFrames = 3 * 44100;

// A DAC taking 44.1 to 192 kHz, 176.4 included, with or without a settable
// volume; a manual clock.
struct Rig {
    std::shared_ptr<SimSinkControl> sink =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20, 16384);
    test::RiggedApp r;
    App& app = r.app;
    explicit Rig(bool hwVolume = true)
        : r(rig(hwVolume), SimOutputs{SimClock::Manual, {{kUid, sink}}}) {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.ratePopup->addItems({"0.5x", "0.75x", "0.9x", "1x", "1.1x", "1.25x", "1.5x", "2x"});
        app.upPopup->addItems({"0", "1", "2"});
        app.status->setStringValue(kMarker);
    }
    static SimRig rig(bool hwVolume) {
        SimDevice d = SimDevice::output(QStringLiteral("DAC"), kUid);
        d.nominalRates.push_back({176400, 176400});
        d.outputStreams[0].available.push_back({176400, 24, false, 2, 8, true});
        for (SimVolumeElement& e : d.volume)
            e.present = hwVolume;
        return SimRig{{d}, kUid, {}, 0};
    }
    bool heard(std::int64_t frames) {
        const std::int64_t until = sink->framesHeard() + frames;
        // Never more than the engine has queued: a decoder behind on a busy
        // machine would otherwise be heard as gaps.
        test::playInTime(*sink, frames);
        return QTest::qWaitFor([&] { return sink->framesHeard() >= until; }, kWaitMs);
    }
    bool loaded() {
        return QTest::qWaitFor([&] { return !app.playback.loading; }, kWaitMs);
    }
};

using Act = std::function<void(App&)>;
// Each row starts with upMode 1 and 1.25x, and ends with the upsampling target
// of a 32 kHz source (mode 1 finds none, mode 2 takes 192 kHz).
// clang-format off
struct ModeCase { const char* name; bool max, bit, chain, hwVolume; Act act; bool maxAfter, bitAfter; QString status; bool rerender, slider; int upIndex; std::optional<int> upStored; std::optional<double> target; };
const std::vector<ModeCase> modeCases{
    {"bit-perfect ticked under maximum quality", true, false, false, false, [](App& a) { a.bitBox->click(); }, false, true, kOn, true, false, 1, {}, {}},
    {"maximum quality ticked under bit-perfect", false, true, false, true, [](App& a) { a.maxBox->click(); }, true, false, kOff, true, true, 2, {}, 192000},
    {"gapless with no chain and no mode change", false, false, false, true, [](App& a) { a.gaplessBox->click(); }, false, false, kOff, false, true, 1, {}, {}},
    {"any box while a chain exists", false, false, true, true, [](App& a) { a.rateBox->click(); }, false, false, kOff, true, true, 1, {}, {}},
    {"bit-perfect with hardware volume keeps the slider", false, false, false, true, [](App& a) { a.bitBox->click(); }, false, true, kOn, true, true, 1, {}, {}},
    {"the lock twice: maximum quality stays off", true, false, false, true, [](App& a) { a.views.lockBtn->click(); a.views.lockBtn->click(); }, false, false, kOff, true, true, 1, {}, {}},
    {"no upsampling entry selected stores mode 0", false, false, false, true, [](App& a) { a.upPopup->setCurrentIndex(-1); a.upChanged(); }, false, false, kMarker, true, true, -1, 0, {}},
};
// clang-format on

} // namespace

class ModesTest : public QObject {
    Q_OBJECT
private slots:
    void modes_data() { test::addRows(modeCases); }
    void modes() {
        const ModeCase& c = test::currentCase(modeCases);
        Rig rig(c.hwVolume);
        App& app = rig.app;
        app.maxBox->setChecked(app.playback.maxQuality = c.max);
        app.bitBox->setChecked(app.playback.bitPerfect = c.bit);
        app.playback.upMode = 1;
        app.playback.playRate = 1.25;
        app.ratePopup->setCurrentIndex(5);
        choosePreset(app.fxPanel->state, QStringLiteral("록"));
        app.fxPanel->state.enabled = c.chain;
        // fxChanged drops the cached render: its file tells whether it ran.
        const QString cached = test::tempFile("cached.caf");
        test::writeFile(cached, "render");
        app.playback.fxCache = RenderCacheEntry{"key", cached, {}};
        c.act(app);

        UserDefaults d;
        QCOMPARE(app.maxBox->isChecked(), c.maxAfter);
        QCOMPARE(app.bitBox->isChecked() && app.playback.bitPerfect, c.bitAfter);
        QCOMPARE(std::tuple(d.boolean(keys::kMaxQuality), d.boolean(keys::kBitPerfect)),
                 std::tuple(c.maxAfter, c.bitAfter));
        QCOMPARE(d.boolean(keys::kGapless), app.gaplessBox->isChecked());
        QCOMPARE(d.intIfPresent(keys::kUpMode), c.upStored);
        QCOMPARE(app.status->stringValue(), c.status);
        QCOMPARE(!QFile::exists(cached), c.rerender);
        QCOMPARE(app.views.volume->isEnabled(), c.slider);
        QCOMPARE(app.upPopup->currentIndex(), c.upIndex);
        QCOMPARE(app.upPopup->isEnabled() && app.crossfadeBox->isEnabled() &&
                     app.levelingBox->isEnabled(),
                 !c.maxAfter && !c.bitAfter);
        // Bit-perfect sets 1x, never stored, and leaves it there when it ends.
        const bool wasBitPerfect = c.bitAfter || c.name == modeCases[5].name;
        QCOMPARE(app.ratePopup->currentIndex(), wasBitPerfect ? 3 : 5);
        QCOMPARE(app.playback.playRate, wasBitPerfect ? 1.0 : 1.25);
        QVERIFY(!d.realIfPresent(keys::kPlayRate));
        app.updateLockIcon();
        const SymbolButton& lock = *app.views.lockBtn;
        QCOMPARE(std::tuple(lock.image()->name(), lock.image()->pointSize(), lock.contentTint()),
                 c.bitAfter ? std::tuple(QString("lock.fill"), 17.0, Theme::accent())
                            : std::tuple(QString("lock.open"), 17.0, Theme::sub()));
        // A path is probed once, a failed probe (rate 0, no target) included;
        // the answer counts from when it comes.
        std::atomic<int> probes = 0;
        test::fakes(app).analysers.probeAudio = [&](const QString& path) {
            ++probes;
            return StreamFacts{"flac", path == "32k.flac" ? 32000.0 : 0, 16, 2, 3};
        };
        // Each path asked as the tick asks: again once its open has answered,
        // which a busy machine may hold past the short while the first call
        // waits for it.
        for (const char* path : {"32k.flac", "failed.flac"}) {
            QVERIFY(test::checkOnceOpened(app, [&app, path] { app.lookUpRate(Track{1, path}); }));
            QCOMPARE(app.trackRate(Track{1, path}), 0.0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(app.playback.rateProbing.isEmpty(), kWaitMs);
        for (const char* path : {"32k.flac", "32k.flac", "failed.flac", "failed.flac"})
            QCOMPARE(app.upsampleTarget(app.trackRate(Track{1, path})),
                     path[0] == '3' ? c.target : std::nullopt);
        QCOMPARE(probes, 2);
    }

    // Maximum quality plays a 44.1 kHz file at 176.4 kHz, four times the
    // frames; at 1.25x, ticking bit-perfect restarts it where it stood, and
    // the device hears the file's own samples at its own rate.
    void upsampledThenBitPerfect() {
        Rig rig;
        App& app = rig.app;
        const Track track{1, test::tempFile("cd.wav"), {}, {}, {}, 3, {}};
        QVERIFY(
            test::writeAudio(track.path, {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, kFrames}));
        app.maxBox->setChecked(true);
        app.play(track);
        QVERIFY(rig.loaded());
        rig.sink->advance(4 * kFrames + 8192); // to the end
        QVERIFY(QTest::qWaitFor([&] { return !app.isPlaying(); }, kWaitMs));
        QCOMPARE(rig.sink->sessions().front().format.rate, 176400.0);
        const std::vector<std::int32_t> up = rig.sink->recordedInt32(0);
        const auto last = std::find_if(up.rbegin(), up.rend(), [](auto v) { return v; });
        QVERIFY(std::abs((up.rend() - last) / 2 - 4 * kFrames) <= 64);

        app.playback.playRate = 1.25;
        app.play(track);
        QVERIFY(rig.loaded() && app.playback.audio->enableRate() && rig.heard(176400));
        const double at = *app.audioCurrentTime();
        app.bitBox->click();
        const int session = rig.sink->opens() - 1; // the restart's
        QVERIFY(rig.loaded() && rig.heard(22050) && test::fxFiles().isEmpty());
        QVERIFY(std::abs(*app.audioCurrentTime() - 0.5 - at) < 0.1);
        QVERIFY(!app.playback.audio->enableRate());
        QCOMPARE(rig.sink->sessions().back().format.rate, 44100.0);
        const std::vector<std::int32_t> heard = rig.sink->recordedInt32(session);
        const std::vector<std::int32_t> file = test::readSamples(track.path).data;
        // Past the 5 ms fade-in of a start at a position, sample for sample.
        const auto after = heard.begin() + 2 * 256;
        const auto from = std::search(file.begin(), file.end(), after, after + 64);
        QVERIFY(file.end() - from >= heard.end() - after && std::equal(after, heard.end(), from));
        app.applicationWillTerminate();
        QCOMPARE(test::fxFiles(), QStringList());
    }

    // A file the player cannot read goes down the decode road before its
    // rate is known; a rate that comes while the decode still runs sends the
    // request to the upsampling road it would have taken, a track already
    // heard is left alone.
    void aRateThatComesLateStillUpsamples_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<QString>("roads");
        QTest::newRow("comes while the decode runs") << 44100.0 << false << "decode render";
        QTest::newRow("no rate found") << 0.0 << false << "decode";
        QTest::newRow("comes once the track plays") << 44100.0 << true << "decode";
    }
    void aRateThatComesLateStillUpsamples() {
        QFETCH(double, rate);
        QFETCH(bool, playing);
        QFETCH(QString, roads);
        Rig rig;
        App& app = rig.app;
        QStringList taken;
        test::fakes(app).observer.fallbackRoad = [&](const char* road, const Track&, quint64) {
            taken << road;
        };
        test::fakes(app).analysers.probeAudio = [rate](const QString&) {
            return StreamFacts{"wavpack", rate, 16, 2, 3};
        };
        app.maxBox->setChecked(true);
        const Track track{1, test::tempFile("song.wv"), {}, {}, {}, 3, {}};
        QVERIFY(test::writeFile(track.path, "wvpk, not for our player"));
        QVERIFY(test::playTaken(app, track));
        if (playing)
            app.playback.loading = false;
        QTRY_VERIFY_WITH_TIMEOUT(app.playback.rateProbing.isEmpty(), kWaitMs);
        QCOMPARE(taken.join(' '), roads);
    }

    // The source rate never waits on ffprobe on the window's thread: a file
    // the player reads gives its header's rate at once (tags that make
    // ffprobe take minutes are never read), another is asked once in the
    // background. A run that could not finish keeps no rate and is not asked
    // again until the file is played.
    void rateLookupNeverWaits_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("probe"); // ffprobe's script; empty: none
        QTest::addColumn<double>("rate");      // once the probe has come
        QTest::addColumn<int>("launches");
        const QByteArray rate96k = "echo '{\"streams\":[{\"sample_rate\":\"96000\"}]}'\n";
        QTest::newRow("WAV: its header") << "wav" << rate96k << 48000.0 << 0;
        QTest::newRow("FLAC with tags libFLAC refuses: its header")
            << "tagged" << rate96k << 88200.0 << 0;
        QTest::newRow("ffprobe hangs: asked once")
            << "other" << QByteArray("exec sleep 60\n") << 0.0 << 1;
        QTest::newRow("ffprobe answers: kept") << "other" << rate96k << 96000.0 << 1;
        QTest::newRow("no audio: 0 kept") << "other" << QByteArray("echo '{}'\n") << 0.0 << 1;
        QTest::newRow("ffprobe missing: asked again once played")
            << "other" << QByteArray() << 0.0 << 0;
    }
    void rateLookupNeverWaits() {
        QFETCH(QString, file);
        QFETCH(QByteArray, probe);
        QFETCH(double, rate);
        QFETCH(int, launches);
        const QString log = test::tempFile("launches"), program = test::tempFile("ffprobe");
        QFile::remove(log);
        QFile::remove(program);
        const QByteArray counted = "echo x >> '" + log.toUtf8() + "'\n";
        QVERIFY(probe.isEmpty() || test::writeExecutable(program, counted + probe));
        const auto started = [&] { return test::readFile(log).count('x'); };
        Track track{1, test::tempFile("any.flac")};
        QFile::remove(track.path);
        if (file == "wav") {
            track.path = test::tempFile("any.wav");
            QVERIFY(test::writeAudio(
                track.path,
                {.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, .rate = 48000, .frames = 4800}));
        } else if (file == "tagged") {
            const QString plain = test::tempFile("plain.flac");
            QVERIFY(test::writeAudio(
                plain,
                {.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16, .rate = 88200, .frames = 4800}));
            QVERIFY(test::writeFile(track.path, test::withComments(test::readFile(plain), 100001)));
        }
        platform::Platform plat;
        App app(plat, test::fakeServices());
        QString tool = program;
        test::fakes(app).tools.probeTool = [&tool](const QString&) { return tool; };
        test::fakes(app).observer.fallbackRoad = [](const char*, const Track&, quint64) {};

        const bool header = file != "other";
        // The first look opens the file off the main thread and waits for
        // it only a short while, which a busy machine may outlast: once the
        // open has answered, as the tick's next look would find it.
        QVERIFY(test::checkOnceOpened(app, [&] { app.lookUpRate(track); }));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 5; ++i) {
            app.lookUpRate(track);
            QCOMPARE(app.trackRate(track), header ? rate : 0.0);
        }
        // Each call waited up to 3 s for ffprobe here before: 15 s in all.
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        if (launches)
            QTRY_COMPARE_WITH_TIMEOUT(started(), launches, kWaitMs);
        if (probe.startsWith("exec sleep")) {
            QTest::qWait(300);
            app.lookUpRate(track);
            QCOMPARE(app.trackRate(track), 0.0);
            QVERIFY(app.playback.rateProbing.contains(track.path));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(app.playback.rateProbing.isEmpty(), kWaitMs);
            for (int i = 0; i < 3; ++i)
                QCOMPARE(app.trackRate(track), rate);
        }
        QCOMPARE(started(), launches);
        if (!probe.isEmpty())
            return;
        // No ffprobe: nothing is kept and nothing asked until a play request.
        QVERIFY(test::writeExecutable(program, counted + "echo '{\"streams\":[{\"sample_rate\":"
                                                         "\"96000\"}]}'\n"));
        app.lookUpRate(track);
        QCOMPARE(app.trackRate(track), 0.0);
        QTest::qWait(300);
        QCOMPARE(started(), 0);
        app.play(track);
        QVERIFY(test::checkOnceOpened(app, [&] { app.lookUpRate(track); }));
        QTRY_COMPARE_WITH_TIMEOUT(app.trackRate(track), 96000.0, kWaitMs);
    }
};

QL_TEST_MAIN(ModesTest)
#include "ModesTest.moc"
