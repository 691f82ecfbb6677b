// Guards against: wrong peaks or meter segments, a seek bar jumping under the pointer, labels,
// meter or waveform not following what is heard, a hidden or needlessly repainted now-playing
// window, a waveform shown for a track left. Offscreen; simulated device (manual clock).
#include "analysis/AnalyzeFile.h"
#include "analysis/ComputeWaveform.h"
#include "analysis/LevelMeter.h"
#include "analysis/ProbeAudio.h"
#include "analysis/WaveformView.h"
#include "app/App.h"
#include "app/UserDefaults.h"
#include "listening/NowPlayingWindow.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/FormatTags.h"
#include "ui/ClickImageView.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "OpenSettled.h"
#include "ReadersSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

#include <sndfile.h>

using namespace ql;
using namespace ql::platform;
using namespace ql::test;
using Facts = PlayerFacts;

namespace {

constexpr int kRate = 44100;
const QRgb kPlayed = qRgb(0x72, 0x78, 0xef), kUnplayed = qRgb(0x3d, 0x3d, 0x3d);

// A generated 20 s full-scale 440 Hz sine, 16-bit.
QString sine(int channels) {
    const QString path = test::tempFile(QString("sine%1.wav").arg(channels));
    const test::AudioShape shape{.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                 .channels = channels,
                                 .frames = 20 * kRate,
                                 .signal = test::Signal::Sine,
                                 .frequency = 440,
                                 .amplitude = 1.0};
    if (!QFile::exists(path) && !test::writeAudio(path, shape))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Samples as ffmpeg writes them (s16le).
QByteArray stream(int n, std::function<qint16(int)> value) {
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out.append(char(value(i) & 0xff)).append(char((value(i) >> 8) & 0xff));
    return out;
}

// A press, optional moves and the release, at these x of the view.
void mouse(QWidget& w, const QList<double>& xs, Qt::MouseButton button = Qt::LeftButton) {
    for (int i = 0; i < xs.size(); ++i) {
        const auto t = i == 0              ? QEvent::MouseButtonPress
                       : i + 1 < xs.size() ? QEvent::MouseMove
                                           : QEvent::MouseButtonRelease;
        QMouseEvent e(t, QPointF(xs[i], 5), w.mapToGlobal(QPointF(xs[i], 5)), button,
                      t == QEvent::MouseButtonRelease ? Qt::NoButton : button, {});
        QCoreApplication::sendEvent(&w, &e);
    }
}
struct Rig {
    std::shared_ptr<SimSinkControl> sink =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20, 4096);
    test::RiggedApp rig{test::twoOutputs(), SimOutputs{SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;
    NowPlayingWindow& np = *app.nowPlaying;
    QStringList steps;
    std::int64_t played = 0;

    explicit Rig(std::optional<std::optional<Facts>> standIn = std::nullopt) {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.loadExtras(); // the waveforms' seeks
        app.playback.maxQuality = app.playback.rateMatchOn = false;
        if (standIn)
            test::fakes(app).clock.player = [facts = *standIn] { return facts; };
        test::fakes(app).observer.tickStep = [this](const char* s) { return steps << s, false; };
    }
    // The device plays `seconds` more; true once the engine has refilled it.
    bool advance(double seconds) {
        sink->advance(std::llround(seconds * kRate));
        played += std::llround(seconds * kRate);
        return QTest::qWaitFor([&] { return sink->framesWritten() > played + 4096 - 1024; });
    }
};
struct Paints : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        return count += e->type() == QEvent::Paint, false;
    }
};
struct PeaksCase {
    const char* name;
    QByteArray samples;
    std::function<float(int)> want; // none: no waveform
};
struct ViewCase {
    const char* name;
    std::function<void(WaveformView&)> act;
    double progress;
    QList<double> seeks;
};
// One meter tick, then both refreshes, with a stand-in player.
struct LabelCase {
    const char* name;
    std::optional<Facts> player;
    std::optional<Track> track;
    bool favourite, visible;
    const char* lang;
    QStringList texts;      // elapsed, remaining; the window's time, play, title, artist, heart
    QStringList steps;      // of the tick, in order
    double progress;        // of the shown views afterwards (each starts at 0.5)
    bool preparing = false; // a track asked to play is still being prepared
};
const Track kTrack{1, "/music/a.flac", "<b>Title</b>", "Artist", {}, 200.5, {}};
const QStringList kHidden{"meter", "lyrics", "abTick", "refreshTimes", "wave"};
const QStringList kShown = kHidden + QStringList{"nowPlayingWave"}, kIdle{"meter"};

// clang-format off
const std::vector<PeaksCase> peaksCases{
    {"900 samples: no waveform", stream(900, [](int) { return 1000; }), {}},
    {"901 samples: one per bucket, the last left out",
     stream(901, [](int i) { return i == 900 ? 32767 : 30 * i; }), [](int b) { return std::sqrt(b / 899.0f); }},
    {"silence: 900 zeros", stream(1800, [](int) { return 0; }), [](int) { return 0.0f; }},
    {"-32768 is full scale, no overflow", stream(1800, [](int i) { return i == 7 ? -32768 : 16384; }),
     [](int b) { return b == 3 ? 1.0f : std::sqrt(0.5f); }},
    {"a quiet file keeps its level relative to 0.05", stream(1800, [](int) { return 1024; }),
     [](int) { return std::sqrt(1024 / 32768.0f / 0.05f); }},
};

const std::vector<ViewCase> viewCases{
    {"1.5 is kept as 1", [](WaveformView& v) { v.setProgress(1.5); }, 1.0, {}},
    {"-3 is kept as 0", [](WaveformView& v) { v.setProgress(0.5), v.setProgress(-3); }, 0, {}},
    {"a move of 0.0004 changes nothing", [](WaveformView& v) { v.setProgress(0.5), v.setProgress(0.5004); }, 0.5, {}},
    {"playback is ignored during a drag", [](WaveformView& v) { mouse(v, {150}), v.setProgress(0.9); }, 0.25, {}},
    {"released left of the view: 0", [](WaveformView& v) { mouse(v, {300, 100, -40}); }, 0, {0.0}},
    {"released right of the view: 1", [](WaveformView& v) { mouse(v, {300, 900}); }, 1, {1.0}},
    {"a click: one seek to its place", [](WaveformView& v) { mouse(v, {150, 150}); }, 0.25, {0.25}},
    {"a right click: nothing", [](WaveformView& v) { mouse(v, {150, 150}, Qt::RightButton); }, 0, {}},
};

const std::vector<LabelCase> labelCases{
    {"no player, no track", std::nullopt, std::nullopt, false, true, "ko",
     {"--:--", "--:--", "0:00 / 0:00", "▶", "음악을 선택하세요", "", "♡"}, kIdle, 0.5},
    {"no track in English", std::nullopt, std::nullopt, false, true, "en",
     {"--:--", "--:--", "0:00 / 0:00", "▶", "Select music", "", "♡"}, kIdle, 0.5},
    {"10.2 s of 200.5 s, playing, a favourite", Facts{200.5, 10.2, true}, kTrack, true, true, "ko",
     {"0:10", "-3:10", "0:10 / 3:20", "⏸", "<b>Title</b>", "Artist", "♥"}, kShown, 10.2 / 200.5},
    {"beyond the end, paused", Facts{100, 120, false}, kTrack, false, true, "ko",
     {"2:00", "-0:00", "2:00 / 1:40", "▶", "<b>Title</b>", "Artist", "♡"}, kIdle, 0.5},
    {"over an hour", Facts{5000, 4503, true}, kTrack, false, true, "ko",
     {"75:03", "-8:17", "75:03 / 83:20", "⏸", "<b>Title</b>", "Artist", "♡"}, kShown, 4503.0 / 5000},
    {"duration 0: progress 0", Facts{0, 5, true}, kTrack, false, true, "ko",
     {"0:05", "-0:00", "0:05 / 0:00", "⏸", "<b>Title</b>", "Artist", "♡"}, kShown, 0},
    {"a track being prepared: no player to pause", std::nullopt, kTrack, false, true, "ko",
     {"--:--", "--:--", "0:00 / 0:00", "▶", "<b>Title</b>", "Artist", "♡"}, kIdle, 0.5, true},
    {"prepared again after its player's first read: paused", Facts{200.5, 0, false}, kTrack, false,
     true, "ko", {"0:00", "-3:20", "0:00 / 3:20", "▶", "<b>Title</b>", "Artist", "♡"}, kIdle, 0.5, true},
    {"window hidden: nothing written", Facts{200.5, 10.2, true}, kTrack, true, false, "ko",
     {"0:10", "-3:10", "0:00 / 0:00", "▶", "", "", "♡"}, kHidden, 10.2 / 200.5},
};

// clang-format on

} // namespace

class WaveformTest : public QObject {
    Q_OBJECT
private slots:
    void peaksOfTheStream_data() { addRows(peaksCases); }
    void peaksOfTheStream() {
        const PeaksCase& c = currentCase(peaksCases);
        const WavePeaks got = waveformPeaks(c.samples);
        QCOMPARE(got.size(), c.want ? std::size_t(900) : std::size_t(0));
        for (int b = 0; b < int(got.size()); ++b)
            QVERIFY(std::abs(got[std::size_t(b)] - c.want(b)) < 1e-6f);
    }

    void pointerAndProgress_data() { addRows(viewCases); }
    void pointerAndProgress() {
        const ViewCase& c = currentCase(viewCases);
        WaveformView view;
        view.resize(600, 30);
        QList<double> seeks;
        view.onSeek = [&](double f) { seeks << f; };
        c.act(view);
        QCOMPARE(view.progress(), c.progress);
        QCOMPARE(seeks, c.seeks);
    }

    // Grabs at progress 0.5: pixels in the played (p) or unplayed (u) colour, or clear (.).
    void bars_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("peaks");
        QTest::addColumn<QList<QPoint>>("at");
        QTest::addColumn<QString>("want");
        QTest::newRow("ramp: bar 0 played, the bar at 450 not, gaps clear")
            << 600 << true
            << QList<QPoint>{{0, 15}, {1, 15}, {297, 15}, {450, 15}, {304, 15}, {2, 15}, {450, 3}}
            << "pppuu..";
        QTest::newRow("no peaks: one 2-px line")
            << 600 << false << QList<QPoint>{{1, 14}, {598, 15}, {300, 13}, {300, 16}} << "uu..";
        QTest::newRow("2 px wide: one bar")
            << 2 << true << QList<QPoint>{{0, 15}, {1, 15}, {0, 3}} << "pp.";
    }
    void bars() {
        QFETCH(int, width);
        QFETCH(bool, peaks);
        QFETCH(QList<QPoint>, at);
        QFETCH(QString, want);
        WaveformView view;
        view.resize(width, 30);
        WavePeaks ramp(peaks ? 900 : 0);
        for (std::size_t i = 0; i < ramp.size(); ++i)
            ramp[i] = 0.5f + float(i) / 1800;
        view.setPeaks(ramp);
        view.setProgress(0.5);
        const QImage img = view.grab().toImage();
        QString got;
        for (const QPoint& p : at)
            got += img.pixel(p) == kPlayed ? 'p' : img.pixel(p) == kUnplayed ? 'u' : '.';
        QCOMPARE(got, want);
    }

    // The meter fed one level in dB, then `silent` calls of −60 (both channels alike): the
    // level lights what lies strictly below it, the peak its own segment.
    void meterSegments_data() {
        QTest::addColumn<float>("db");
        QTest::addColumn<int>("silent");
        QTest::addColumn<QList<int>>("lit");
        QTest::addColumn<bool>("peakAbove0");
        const QList<int> upTo11{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
        QTest::newRow("at rest: segment 0") << -60.0f << 0 << QList<int>{0} << false;
        QTest::newRow("just below 12/21: 0-11") << 0.5714f * 60 - 60 << 0 << upTo11 << true;
        QTest::newRow("just above 12/21: 0-12")
            << 0.5715f * 60 - 60 << 0 << upTo11 + QList{12} << true;
        QTest::newRow("3 calls after full scale: 0-11, the peak 20")
            << 0.0f << 3 << upTo11 + QList{20} << true;
        QTest::newRow("83 calls: the peak still above 0") << 0.0f << 83 << QList<int>{0} << true;
        QTest::newRow("84 calls: at rest") << 0.0f << 84 << QList<int>{0} << false;
    }
    void meterSegments() {
        QFETCH(float, db);
        QFETCH(int, silent);
        QFETCH(QList<int>, lit);
        QFETCH(bool, peakAbove0);
        LevelMeter meter;
        meter.resize(meter.sizeHint());
        meter.set({db, db});
        for (int i = 1; i <= silent; ++i) {
            meter.set({-60, -60});
            if (i == 20) // a second of silence after full scale
                QVERIFY(meter.levels()[0] < 0.02 && meter.levels()[1] < 0.02);
        }
        QCOMPARE(meter.peaks()[0] > 0, peakAbove0);
        const QImage img = meter.grab().toImage();
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < LevelMeter::kSegments; ++i)
                QCOMPARE(QColor(img.pixel(6 * i + 2, 5 + 11 * c)),
                         lit.contains(i) ? LevelMeter::segmentColor(i) : Theme::meterUnlit());
    }

    void labels_data() { addRows(labelCases); }
    void labels() {
        const LabelCase& c = currentCase(labelCases);
        Rig r(c.player);
        L10n::setLanguage(c.lang);
        r.app.playback.current = c.track;
        r.app.playback.loading = c.preparing;
        r.app.listening.favorites = c.favourite ? QSet{kTrack.path} : QSet<QString>{};
        r.np.window->setVisible(c.visible);
        r.app.wave->setProgress(0.5);
        r.np.wave->setProgress(0.5);
        r.app.meterTick();
        r.app.refreshTimes();
        r.app.updateNowPlaying();
        QCOMPARE(r.steps, c.steps);
        QCOMPARE(r.app.wave->progress(), c.progress);
        QCOMPARE(r.np.wave->progress(), c.visible ? c.progress : 0.5);
        QCOMPARE(
            (QStringList{r.app.views.elapsedLabel->text(), r.app.views.remainLabel->text(),
                         r.np.timeLabel->text(), r.np.playButton->text(), r.np.titleLabel->text(),
                         r.np.artistLabel->text(), r.np.favButton->text()}),
            c.texts);
    }

    // What the mirror repaints after one change on the transport bar.
    void mirrorRepaintsOnlyWhatChanged_data() {
        QTest::addColumn<int>("change");
        QTest::addColumn<QString>("painted");
        QTest::newRow("the same cover object again") << 0 << "";
        QTest::newRow("a new cover that looks the same") << 1 << "cover";
        QTest::newRow("no cover any more") << 2 << "cover";
        QTest::newRow("new peaks") << 3 << "wave";
    }
    void mirrorRepaintsOnlyWhatChanged() {
        QFETCH(int, change);
        QFETCH(QString, painted);
        Rig r;
        r.app.art->setImage(QImage(8, 8, QImage::Format_RGB32));
        r.app.wave->setPeaks(WavePeaks(900, 0.7f));
        r.np.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(r.np.window.get()));
        r.app.updateNowPlaying();
        QTest::qWait(30);
        Paints coverPaints, wavePaints;
        r.np.art->installEventFilter(&coverPaints);
        r.np.wave->installEventFilter(&wavePaints);
        const QImage changed[] = {r.app.art->image(), r.app.art->image().copy(), QImage()};
        if (change < 3)
            r.app.art->setImage(changed[change]);
        else
            r.app.wave->setPeaks(WavePeaks(900, 0.3f));
        r.app.updateNowPlaying();
        QTest::qWait(30);
        QCOMPARE(QString(coverPaints.count ? "cover" : "") + (wavePaints.count ? "wave" : ""),
                 painted);
        QCOMPARE(r.np.art->image().cacheKey(), r.app.art->image().cacheKey());
        QCOMPARE(r.np.wave->peaks(), r.app.wave->peaks());
    }

    // Results of the background computation: the cache and what is shown.
    void waveformArrival_data() {
        QTest::addColumn<int>("cached"); // entries before
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("cachedAfter");
        QTest::newRow("switched away: cached, not shown") << 0 << "away" << 1;
        QTest::newRow("no ffmpeg: nothing cached") << 0 << "/nonexistent/ffmpeg" << 0;
        QTest::newRow("41 cached and a new one: only it") << 41 << "" << 1;
        QTest::newRow("40 cached and a new one: 41") << 40 << "" << 41;
    }
    void waveformArrival() {
        QFETCH(int, cached);
        QFETCH(QString, what);
        QFETCH(int, cachedAfter);
        Rig r;
        for (int i = 0; i < cached; ++i)
            r.app.waveCache.insert(QString::number(i), WavePeaks(900, 0.5f));
        if (what.startsWith('/'))
            test::fakes(r.app).tools.probeTool = [what](const QString&) { return what; };
        const Track a{1, sine(2), "A", {}, {}, 20, {}};
        r.app.playback.current = a;
        r.app.loadWaveform(a);
        if (what == "away")
            r.app.playback.current = Track{2, "/music/b.flac", "B", {}, {}, 20, {}};
        QVERIFY(test::readersSettled());
        QCOMPARE(r.app.waveCache.size(), cachedAfter);
        QCOMPARE(r.app.wave->peaks().size(), std::size_t(what.isEmpty() ? 900 : 0));
    }

    // Quick starts: each start stops the computation of the track before (its reader
    // would read a whole file nobody looks at), only the current track gets its peaks,
    // and the view only ever shows the current track's. Track k is a 2 s tone and k s
    // of silence, so each has peaks of its own.
    void waveformRuns_data() {
        QTest::addColumn<QString>("starts");
        QTest::newRow("skipping through five tracks") << "12345";
        QTest::newRow("back to the first: computed again") << "121";
    }
    void waveformRuns() {
        QFETCH(QString, starts);
        Rig r;
        const QString log = tempFile("wave-runs.log"), ffmpeg = tempFile("wave-ffmpeg.sh");
        QVERIFY(QFile::resize(log, 0) || !QFile::exists(log));
        QVERIFY(writeExecutable(ffmpeg, "echo \"$@\" >>'" + log.toUtf8() +
                                            "'; sleep .3; exec ffmpeg \"$@\""));
        test::fakes(r.app).tools.probeTool = [ffmpeg](const QString&) { return ffmpeg; };
        const auto file = [](QChar k) {
            const QString path = tempFile(QString("tone-then-%1.wav").arg(k));
            if (!QFile::exists(path))
                runFfmpeg({"-f", "lavfi", "-i", "sine=duration=2", "-af",
                           QString("apad=pad_dur=%1").arg(k), path});
            return path;
        };
        for (const QChar k : starts) // made first: the starts come in quick succession
            QVERIFY(QFile::exists(file(k)));
        for (const QChar k : starts) {
            r.app.playback.current = Track{1, file(k), "T", {}, {}, 20, {}};
            r.app.loadWaveform(*r.app.playback.current);
        }
        const auto shownIsCurrent = [&] {
            const WavePeaks& shown = r.app.wave->peaks();
            return shown.empty() || shown == r.app.waveCache.value(r.app.playback.current->path);
        };
        while (!test::readersIdle()) {
            QTest::qWait(5);
            QVERIFY(shownIsCurrent());
        }
        QCoreApplication::processEvents();
        QVERIFY(shownIsCurrent() && r.app.wave->peaks().size() == 900);
        QString ran;
        for (const QByteArray& line : readFile(log).split('\n'))
            ran += line.isEmpty() ? "" : line.mid(line.indexOf(".wav") - 1, 1);
        QVERIFY2(ran.contains(starts.back()), qPrintable(ran)); // the current one ran
        QCOMPARE(r.app.waveCache.keys(), QList<QString>{r.app.playback.current->path});
        QVERIFY(!r.app.waveRun);
    }

    // A file whose tags ffmpeg would gather at a cost that grows with their
    // square (a FLAC's 20,000 comments behind an ID3v2 tag; an MP3's 20,000
    // TXXX frames; 20,000 Ogg Vorbis or Opus comments; an .m4a's 20,000
    // freeform tags) is read by none of the side readers: no program starts,
    // and each finds nothing.
    void crowdedFlacIsNeverRead_data() {
        QTest::addColumn<QString>("reader");
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"FLAC", "MP3", "Ogg Vorbis", "Opus", "m4a"})
            for (const char* reader : {"waveform", "sonic features", "stream probe", "genre tag"})
                QTest::addRow("%s: %s", kind, reader) << reader << kind;
    }
    void crowdedFlacIsNeverRead() {
        QFETCH(QString, reader);
        QFETCH(QString, kind);
        const QString plain = tempFile("crowded-plain.flac");
        QString path = tempFile("crowded.flac");
        if (kind == "FLAC") {
            QVERIFY(QFile::exists(plain) ||
                    runFfmpeg({"-f", "lavfi", "-i", "sine=duration=5", "-c:a", "flac", plain}));
            QVERIFY(writeFile(path, shapedFlac(readFile(plain), FlacShape::Id3Before, 20000)));
        } else {
            const Crowded crowded = kind == "MP3"          ? Crowded::Mp3
                                    : kind == "Ogg Vorbis" ? Crowded::Vorbis
                                    : kind == "Opus"       ? Crowded::Opus
                                                           : Crowded::M4a;
            path = crowdedFile(crowded, 20000);
        }
        const QString log = tempFile("crowded.log"), program = tempFile("crowded-tool.sh");
        QFile::remove(log);
        // Answers every reader at once, as if it had read the file.
        QVERIFY(
            writeExecutable(program, "echo \"$@\" >>'" + log.toUtf8() +
                                         "'\necho '{\"streams\":[{\"sample_rate\":\"48000\"}]}'\n"
                                         "head -c 400000 /dev/zero | tr '\\0' '\\100'\n"));
        bool foundSomething = true;
        if (reader == "waveform")
            foundSomething = !computeWaveform(path, {program}).empty();
        else if (reader == "sonic features")
            foundSomething = analyzeSonic(path, {program, program, nullptr, nullptr}) != Sonic{};
        else if (reader == "stream probe")
            foundSomething = probeAudio(path, {program}).rate > 0;
        else // in-process: the file's own genre, had its comments been read
            foundSomething = platform::tagLines("file:" + path, "genre") != QByteArray();
        QVERIFY(!foundSomething);
        QVERIFY2(!QFile::exists(log), readFile(log).constData()); // no program started
    }

    // With nothing playing the meter timer runs until the meter has fallen to rest, then
    // sleeps: the meter shows what further ticks would show. A player that starts wakes it.
    void meterTimerSleepsAtRest() {
        Facts facts{100, 10, false};
        Rig r{std::optional<Facts>(facts)};
        test::fakes(r.app).clock.player = [&facts] { return std::optional<Facts>(facts); };
        r.app.startMeterTimer();
        const QTimer& timer = *r.app.meterTimer;
        r.app.meter->resize(r.app.meter->sizeHint());
        r.app.meter->set({0, 0}); // full scale: the peaks fall 0.012 a tick
        int ticks = 0;
        while (timer.isActive() && ticks < 500) {
            r.app.meterTick();
            ++ticks;
            QCOMPARE(timer.isActive(), !r.app.meter->atRest());
        }
        QVERIFY(ticks > 60 && ticks < 100);
        const QImage asleep = r.app.meter->grab().toImage();
        for (int i = 0; i < 40; ++i)
            r.app.meter->set({-60, -60});
        QCOMPARE(r.app.meter->grab().toImage(), asleep);
        r.app.extrasTick(); // paused: still asleep
        QVERIFY(!timer.isActive());
        facts.playing = true;
        r.app.extrasTick();
        QVERIFY(timer.isActive());
        r.app.meterTick();
        QVERIFY(timer.isActive());
    }

    // A full-scale sine: the flat line, then 900 peaks near 1; the meter near −3 dB in both
    // rows; time and played part follow the device; a click at 75 % seeks to 15 s.
    void playingTrack_data() {
        QTest::addColumn<int>("channels");
        QTest::newRow("stereo") << 2;
        QTest::newRow("mono fills both rows") << 1;
    }
    void playingTrack() {
        QFETCH(int, channels);
        Rig r;
        r.app.wave->resize(400, 30);
        r.app.startMeterTimer();
        r.app.meterTimer->stop(); // asleep, as at rest
        QVERIFY(test::playTaken(r.app, Track{1, sine(channels), "Sine", {}, {}, 20, {}}));
        QVERIFY(r.app.isPlaying() && r.advance(0) && r.app.wave->peaks().empty());
        QVERIFY(r.app.meterTimer->isActive()); // woken by the start
        r.app.meterTimer->stop(); // from here the test ticks by hand, at the times it sets
        QTRY_COMPARE_WITH_TIMEOUT(r.app.wave->peaks().size(), std::size_t(900),
                                  ql::test::kOutcomeMs);
        for (float v : r.app.wave->peaks())
            QVERIFY(std::abs(v - 1.0f) < 0.01f);
        r.app.meterTick(); // switches metering on
        QVERIFY(r.advance(2.1));
        QTRY_VERIFY(std::abs(r.app.playback.audio->currentTime() - 2.1) < 1e-3);
        r.app.meterTick();
        for (double level : r.app.meter->levels())
            QVERIFY(std::abs(level - 0.95) < 0.01);
        QCOMPARE(r.app.views.elapsedLabel->text() + r.app.views.remainLabel->text(), "0:02-0:17");
        const QImage bar = r.app.wave->grab().toImage();
        QVERIFY(bar.pixel(30, 15) == kPlayed && bar.pixel(60, 15) == kUnplayed); // 7.5 %, 15 %
        mouse(*r.app.wave, {300, 300});
        QTRY_VERIFY(std::abs(r.app.playback.audio->currentTime() - 15.0) < 1024.0 / kRate);
    }
};

QL_TEST_MAIN(WaveformTest)
#include "WaveformTest.moc"
