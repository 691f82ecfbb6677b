// Guards against: time labels, meter or waveform that do not follow what is
// heard, a now-playing window written while hidden or repainted for nothing,
// and a waveform shown for a track the user has left.
// The controller on the simulated device (manual clock) with generated WAV
// files, and with a stand-in player for the label and order tables.
#include "analysis/LevelMeter.h"
#include "analysis/WaveformView.h"
#include "app/App.h"
#include "app/UserDefaults.h"
#include "listening/NowPlayingWindow.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/ClickImageView.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QThreadPool>

#include <sndfile.h>

using namespace ql;
using namespace ql::platform;
using test::addRows;
using test::currentCase;
using Facts = AppSeams::PlayerFacts;

namespace {

constexpr int kRate = 44100;

QString sine(int channels) {
    const QString path = test::tempFile(QString("sine%1.wav").arg(channels));
    test::AudioShape shape{SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                           kRate,
                           channels,
                           20 * kRate,
                           test::Signal::Sine,
                           440,
                           1.0};
    if (!QFile::exists(path) && !test::writeAudio(path, shape))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

struct Rig {
    std::shared_ptr<SimSinkControl> sink =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20, 4096);
    test::RiggedApp rig{test::twoOutputs(), SimOutputs{SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;
    NowPlayingWindow& np = *app.nowPlaying;
    QStringList steps;
    std::int64_t played = 0;

    explicit Rig(std::optional<Facts> facts = std::nullopt, bool standIn = false) {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.loadExtras(); // the waveforms' seeks
        app.playback.maxQuality = app.playback.rateMatchOn = false;
        if (standIn)
            app.seams.player = [facts] { return facts; };
        app.seams.tickStep = [this](const char* s) { return steps << s, false; };
    }
    // The device plays `seconds` more; true once the engine has refilled it.
    bool advance(double seconds) {
        sink->advance(std::llround(seconds * kRate));
        played += std::llround(seconds * kRate);
        return QTest::qWaitFor([&] { return sink->framesWritten() > played + 4096 - 1024; });
    }
    QStringList npTexts() const {
        return {np.timeLabel->text(), np.playButton->text(), np.titleLabel->text(),
                np.artistLabel->text(), np.favButton->text()};
    }
};

void click(QWidget& w, double x) {
    for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(t, QPointF(x, 5), w.mapToGlobal(QPointF(x, 5)), Qt::LeftButton,
                      t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, {});
        QCoreApplication::sendEvent(&w, &e);
    }
}

struct LabelCase {
    const char* name;
    std::optional<Facts> player;
    bool track = true, favourite = false, visible = true;
    const char* lang = "ko";
    QStringList times;  // elapsed, remaining
    QStringList window; // time, play, title, artist, heart
};

const Track kTrack{1, "/music/a.flac", "<b>Title</b>", "Artist", {}, 200.5, {}};

// clang-format off
const std::vector<LabelCase> labelCases{
    {"no player, no track", std::nullopt, false, false, true, "ko", {"--:--", "--:--"},
     {"0:00 / 0:00", "▶", "음악을 선택하세요", "", "♡"}},
    {"no track in English", std::nullopt, false, false, true, "en", {"--:--", "--:--"},
     {"0:00 / 0:00", "▶", "Select music", "", "♡"}},
    {"10.2 s of 200.5 s, playing, a favourite", Facts{200.5, 10.2, true}, true, true, true, "ko",
     {"0:10", "-3:10"}, {"0:10 / 3:20", "⏸", "<b>Title</b>", "Artist", "♥"}},
    {"beyond the end, paused", Facts{100, 120, false}, true, false, true, "ko", {"2:00", "-0:00"},
     {"2:00 / 1:40", "▶", "<b>Title</b>", "Artist", "♡"}},
    {"over an hour", Facts{5000, 4503, true}, true, false, true, "ko", {"75:03", "-8:17"},
     {"75:03 / 83:20", "⏸", "<b>Title</b>", "Artist", "♡"}},
    {"window hidden: nothing written", Facts{200.5, 10.2, true}, true, true, false, "ko",
     {"0:10", "-3:10"}, {"0:00 / 0:00", "▶", "", "", "♡"}},
};
// clang-format on

struct MirrorCase {
    const char* name;
    std::function<void(App&)> change;
    bool coverPainted, wavePainted;
};

// clang-format off
const std::vector<MirrorCase> mirrorCases{
    {"nothing changed", [](App&) {}, false, false},
    {"the same cover object again", [](App& a) { a.art->setImage(a.art->image()); }, false, false},
    {"a new cover that looks the same", [](App& a) { a.art->setImage(a.art->image().copy()); },
     true, false},
    {"no cover any more", [](App& a) { a.art->setImage({}); }, true, false},
    {"new peaks", [](App& a) { a.wave->setPeaks(WavePeaks(900, 0.3f)); }, false, true},
};
// clang-format on

struct Paints : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        return count += e->type() == QEvent::Paint, false;
    }
};

struct TickCase {
    const char* name;
    std::optional<Facts> player;
    bool visible;
    QStringList steps;
    double progress; // of both views afterwards (each starts at 0.5)
};

const QStringList kPlaying{"meter", "lyrics", "abTick", "refreshTimes", "wave"};
// clang-format off
const std::vector<TickCase> tickCases{
    {"playing, window hidden", Facts{200, 50, true}, false, kPlaying, 0.25},
    {"playing, window shown", Facts{200, 50, true}, true, kPlaying + QStringList{"nowPlayingWave"}, 0.25},
    {"duration 0: progress 0", Facts{0, 5, true}, true, kPlaying + QStringList{"nowPlayingWave"}, 0},
    {"paused: the meter only", Facts{200, 50, false}, true, {"meter"}, 0.5},
    {"no player: the meter only", std::nullopt, true, {"meter"}, 0.5},
};
// clang-format on

} // namespace

class MeterTickTest : public QObject {
    Q_OBJECT
private slots:
    void labels_data() { addRows(labelCases); }
    void labels() {
        const LabelCase& c = currentCase(labelCases);
        Rig r(c.player, true);
        L10n::setLanguage(c.lang);
        if (c.track)
            r.app.playback.current = kTrack;
        if (c.favourite)
            r.app.listening.favorites.insert(kTrack.path);
        r.np.window->setVisible(c.visible);
        r.app.refreshTimes();
        r.app.updateNowPlaying();
        QCOMPARE((QStringList{r.app.views.elapsedLabel->text(), r.app.views.remainLabel->text()}),
                 c.times);
        QCOMPARE(r.npTexts(), c.window);
    }

    void mirrorRepaintsOnlyWhatChanged_data() { addRows(mirrorCases); }
    void mirrorRepaintsOnlyWhatChanged() {
        const MirrorCase& c = currentCase(mirrorCases);
        Rig r;
        QImage cover(8, 8, QImage::Format_RGB32);
        cover.fill(Qt::red);
        r.app.art->setImage(cover);
        r.app.wave->setPeaks(WavePeaks(900, 0.7f));
        r.np.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.np.window.get()));
        r.app.updateNowPlaying();
        QTest::qWait(30);
        Paints cover_, wave_;
        r.np.art->installEventFilter(&cover_);
        r.np.wave->installEventFilter(&wave_);
        c.change(r.app);
        r.app.updateNowPlaying();
        QTest::qWait(30);
        QCOMPARE(cover_.count > 0, c.coverPainted);
        QCOMPARE(wave_.count > 0, c.wavePainted);
        QCOMPARE(r.np.art->image().cacheKey(), r.app.art->image().cacheKey());
        QCOMPARE(r.np.wave->peaks(), r.app.wave->peaks());
    }

    void tickOrder_data() { addRows(tickCases); }
    void tickOrder() {
        const TickCase& c = currentCase(tickCases);
        Rig r(c.player, true);
        r.np.window->setVisible(c.visible);
        r.app.wave->setProgress(0.5);
        r.np.wave->setProgress(0.5);
        r.app.meterTick();
        QCOMPARE(r.steps, c.steps);
        QCOMPARE(r.app.wave->progress(), c.progress);
        QCOMPARE(r.np.wave->progress(), c.visible ? c.progress : 0.5);
    }

    // A result for a track the user has left is kept but not shown; a run
    // that gives nothing keeps nothing.
    void waveformArrival_data() {
        QTest::addColumn<bool>("switchAway");
        QTest::addColumn<QString>("ffmpeg");
        QTest::newRow("switched away: cached, not shown") << true << "";
        QTest::newRow("no ffmpeg: nothing cached") << false << "/nonexistent/ffmpeg";
    }
    void waveformArrival() {
        QFETCH(bool, switchAway);
        QFETCH(QString, ffmpeg);
        Rig r;
        if (!ffmpeg.isEmpty())
            r.app.seams.probeTool = [ffmpeg](const QString&) { return ffmpeg; };
        const Track a{1, sine(2), "A", {}, {}, 20, {}};
        r.app.playback.current = a;
        r.app.loadWaveform(a);
        if (switchAway)
            r.app.playback.current = Track{2, "/music/b.flac", "B", {}, {}, 20, {}};
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(20);
        QCOMPARE(r.app.waveCache.contains(a.path), switchAway);
        QVERIFY(r.app.wave->peaks().empty());
    }

    // A full-scale sine plays: the flat line, then the peaks; the meter reads
    // about −3 dB in both rows (mono too); the time and the played part follow
    // the device; a click at 75 % of the bar seeks to 15 s.
    void playingTrack_data() {
        QTest::addColumn<int>("channels");
        QTest::newRow("stereo") << 2;
        QTest::newRow("mono fills both rows") << 1;
    }
    void playingTrack() {
        QFETCH(int, channels);
        Rig r;
        const Track t{1, sine(channels), "Sine", {}, {}, 20, {}};
        r.app.wave->resize(400, 30);
        r.app.play(t);
        QVERIFY(r.app.isPlaying() && r.advance(0));
        QVERIFY(r.app.wave->peaks().empty());
        QTRY_COMPARE(r.app.wave->peaks().size(), std::size_t(900));
        r.app.meterTick(); // switches metering on
        QVERIFY(r.advance(2.1));
        QTRY_VERIFY(std::abs(r.app.playback.audio->currentTime() - 2.1) < 1e-3);
        r.app.meterTick();
        for (double level : r.app.meter->levels())
            QVERIFY2(std::abs(level - 0.95) < 0.01, qPrintable(QString::number(level)));
        QCOMPARE(r.app.views.elapsedLabel->text(), QString("0:02"));
        QCOMPARE(r.app.views.remainLabel->text(), QString("-0:17"));
        const QImage bar = r.app.wave->grab().toImage();
        QCOMPARE(QColor(bar.pixel(30, 15)).name(), QString("#7278ef")); // 7.5 %
        QCOMPARE(QColor(bar.pixel(60, 15)).name(), QString("#3d3d3d")); // 15 %
        click(*r.app.wave, 300);
        QTRY_VERIFY(std::abs(r.app.playback.audio->currentTime() - 15.0) < 1024.0 / kRate);
    }
};

QL_TEST_MAIN(MeterTickTest)
#include "MeterTickTest.moc"
