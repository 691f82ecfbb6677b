// Guards against: silence put into a gapless join (at another speed, or across sample
// rates); with gapless off, a track end never delivered, a track's frames cut or
// silence put into them, and an end taken as heard late (a cycle of silence more
// between every two tracks), as heard at a sound server's sink.
// The program's own succession (App, its tick's checks)
// plays to ALSA "default" on a private PipeWire graph, recorded inside the
// server at its null sink (SoundServerGraph); where a row can, it also runs
// on the simulated device in its sound-server mode with a real-time clock.
// A take the recorder fell behind on, or in which the machine kept the
// player from its device, is made again, and the row skipped if all were.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "effects/FXPanel.h"
#include "platform/alsa/AlsaPlatform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimNowPlaying.h"
#include "platform/sim/SimPlatform.h"
#include "platform/sim/SimSink.h"
#include "ui/SeekSlider.h"
#include "ui/WindowViews.h"

#include "CaseRows.h"
#include "EventWait.h"
#include "LogLines.h"
#include "OpenSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "SoundServerGraph.h"
#include "SoundStage.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "ToneRuns.h"
#include "TrackIds.h"

#include <QTest>
#include <QTimer>

#include <sndfile.h>

#include <algorithm>
#include <cmath>

using namespace ql;
using namespace ql::platform;
using test::addRows;
using test::tempFile;

namespace {

constexpr int kSinkRate = test::SoundServerGraph::kRate;
constexpr int kWaitMs = 60000;
constexpr double kHz = 997;

using test::Device;
// The simulated server holds 200 ms, as a server's own queue does.
struct Stage : test::SoundStage {
    explicit Stage(Device d, std::int64_t wobble = 0)
        : SoundStage(d, test::SimServer{9600, 1024, wobble}) {}
};

struct Rig : test::TrackIds<Rig> {
    std::unique_ptr<App> owned;
    App& app;
    explicit Rig(Stage& s) : owned(std::make_unique<App>(*s.platform)), app(*owned) {
        UserDefaults().clear();
    }
    platform::AudioPlayer& audio() { return *app.playback.audio; }
};

// `seconds` of a 997 Hz sine at -6 dBFS at `rate`, starting `phase` seconds
// into it, as a float WAV.
QString sineFile(const QString& name, int rate, double seconds, double phase) {
    std::vector<double> v;
    const auto frames = std::int64_t(std::llround(seconds * rate));
    for (std::int64_t f = 0; f < frames; ++f) {
        const double x = 0.5 * std::sin(2 * M_PI * kHz * (phase + double(f) / rate));
        v.insert(v.end(), {x, x});
    }
    const QString path = tempFile(name);
    if (!test::writeFloatWav(path, rate, 2, v))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// What is wrong with a recording that should be one unbroken sine: two or
// more frames of exact zeros in a row (the sine, at 24 bits, may hold one),
// or a 10 ms block more than 3 dB below the median block; empty when neither.
QString breakInSine(const std::vector<double>& v) {
    const std::size_t n = v.size() / 2;
    if (n < std::size_t(kSinkRate))
        return QStringLiteral("only %1 frames recorded").arg(n);
    for (const test::Stretch& s : test::stretchesOf(v, 1))
        if (s.silent)
            return QStringLiteral("%1 ms of digital silence at %2 s of %3 s")
                .arg(1000.0 * double(s.frames) / kSinkRate)
                .arg(double(s.from) / kSinkRate)
                .arg(double(n) / kSinkRate);
    constexpr std::size_t kBlock = kSinkRate / 100;
    std::vector<double> levels;
    for (std::size_t at = 0; at + kBlock <= n; at += kBlock) {
        double sum = 0;
        for (std::size_t i = at; i < at + kBlock; ++i)
            sum += v[2 * i] * v[2 * i];
        levels.push_back(10 * std::log10(sum / kBlock + 1e-30));
    }
    std::vector<double> sorted = levels;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                     sorted.end());
    const double median = sorted[sorted.size() / 2];
    for (std::size_t k = 0; k < levels.size(); ++k)
        if (levels[k] < median - 3)
            return QStringLiteral("a 10 ms block %1 dB below the others at %2 s")
                .arg(median - levels[k])
                .arg(double(k * kBlock) / kSinkRate);
    return {};
}

// The ramp's frame number in a sample of its left channel (-1: none of its).
std::int64_t rampFrame(double v) {
    const double f = (v + 1.0) * 2147483648.0 / double(test::kRampStep);
    const double whole = std::round(f);
    return std::abs(f - whole) < 1e-3 && whole >= 0 ? std::int64_t(whole) : -1;
}

// What is wrong with ramp frames [from, to) heard from the recorded frame
// `at` on, each following the one before (the recording may end first);
// empty when nothing.
QString rampFault(const std::vector<double>& v, std::size_t at, std::int64_t from,
                  std::int64_t to) {
    const std::size_t n = v.size() / 2;
    for (std::int64_t want = from; at < n && want < to; ++at, ++want)
        if (rampFrame(v[2 * at]) != want)
            return QStringLiteral("ramp frame %1 missing at %2 s (heard %3)")
                .arg(want)
                .arg(double(at) / kSinkRate)
                .arg(rampFrame(v[2 * at]));
    return {};
}

// A track of this many frames starts on the first frame of one of the
// graph's cycles and ends 64 frames into another, whatever the cycle (a
// power of two up to 8192 frames): the program has most of a cycle, after
// the last frame is heard, to have the next track's first frames in the
// next cycle.
constexpr std::int64_t kFollowFrames = 12 * 8192 + 64; // 2.05 s
// Track changes heard in each row: enough that a loaded machine does not
// hold the program back at every one of them.
constexpr int kChanges = 4;

// clang-format off
// playNext: a third track follows the first in the list and is armed first; the second is
// then chosen with the row menu's "다음에 재생". lastSecond: chosen 1.0 s before the end, and
// no tick comes after it inside the arming window (the next one would come past its edge).
struct JoinCase { const char* name; Device device; double speed; int firstRate, secondRate; bool playNext = false; bool lastSecond = false; };
const std::vector<JoinCase> joinCases{
    {"simulated: chosen to play next after the list's next was armed", Device::Simulated, 1.0, kSinkRate, kSinkRate, true},
    {"pipewire: chosen to play next after the list's next was armed", Device::PipeWire, 1.0, kSinkRate, kSinkRate, true},
    {"simulated: chosen to play next 1.0 s before the end", Device::Simulated, 1.0, kSinkRate, kSinkRate, true, true},
    {"pipewire: chosen to play next 1.0 s before the end", Device::PipeWire, 1.0, kSinkRate, kSinkRate, true, true},
    {"simulated: 0.75x", Device::Simulated, 0.75, kSinkRate, kSinkRate},
    {"simulated: 1.25x", Device::Simulated, 1.25, kSinkRate, kSinkRate},
    {"simulated: 1.5x", Device::Simulated, 1.5, kSinkRate, kSinkRate},
    {"pipewire: 0.75x", Device::PipeWire, 0.75, kSinkRate, kSinkRate},
    {"pipewire: 1.25x", Device::PipeWire, 1.25, kSinkRate, kSinkRate},
    {"pipewire: 1.5x", Device::PipeWire, 1.5, kSinkRate, kSinkRate},
    {"pipewire: 44.1 kHz to 44.1 kHz", Device::PipeWire, 1.0, 44100, 44100},
    {"pipewire: 96 kHz to 96 kHz", Device::PipeWire, 1.0, 96000, 96000},
    {"pipewire: 44.1 kHz to 48 kHz", Device::PipeWire, 1.0, 44100, 48000},
    {"pipewire: 96 kHz to 44.1 kHz", Device::PipeWire, 1.0, 96000, 44100},
};
// Next: tracks 1 and 2 in the list, the last one's end plays the first
// again. Rendered: the same through the effects, each track's render made
// while the one before plays.
enum class Follow { Next, Repeat, Rendered };
struct FollowCase { const char* name; Device device; Follow follow; std::int64_t wobble = 0; };
const std::vector<FollowCase> followCases{
    {"simulated: the next track, and the last back to the first", Device::Simulated, Follow::Next},
    {"simulated: a delay that wobbles, the next track follows", Device::Simulated, Follow::Next, 256},
    {"simulated: repeat, the track plays again", Device::Simulated, Follow::Repeat},
    {"pipewire: the next track, and the last back to the first", Device::PipeWire, Follow::Next},
    {"pipewire: repeat, the track plays again", Device::PipeWire, Follow::Repeat},
    {"pipewire: effects on, the next track plays its render made ahead", Device::PipeWire, Follow::Rendered},
};
// A track that only the decode road plays (middle) between two FLAC files.
enum class Middle { HeaderlessVbrMp3, WavPack };
struct DecodedCase { const char* name; Device device; bool gapless; Middle middle; };
const std::vector<DecodedCase> decodedCases{
    {"pipewire: gapless on, FLAC, headerless VBR MP3, FLAC", Device::PipeWire, true, Middle::HeaderlessVbrMp3},
    {"pipewire: gapless off, FLAC, headerless VBR MP3, FLAC", Device::PipeWire, false, Middle::HeaderlessVbrMp3},
    {"pipewire: gapless on, FLAC, WavPack, FLAC", Device::PipeWire, true, Middle::WavPack},
    {"pipewire: gapless off, FLAC, WavPack, FLAC", Device::PipeWire, false, Middle::WavPack},
    {"simulated: gapless on, FLAC, headerless VBR MP3, FLAC", Device::Simulated, true, Middle::HeaderlessVbrMp3},
};
// clang-format on

} // namespace

class ServerJoinTest : public QObject {
    Q_OBJECT
private slots:
    // A sine split in two files at an odd point, joined by the program's
    // gapless succession: from a few seconds before the join to a second
    // after it, the sound is the sine unbroken.
    void gaplessJoinInsertsNothing_data() { addRows(joinCases); }
    void gaplessJoinInsertsNothing() {
        const JoinCase& c = test::currentCase(joinCases);
        Stage stage(c.device);
        if (!stage.skip.isEmpty())
            QSKIP(qPrintable(stage.skip));
        // More than the 5 s a track must last to be followed gaplessly.
        const double firstSeconds = 5.5 + 777.0 / c.firstRate;
        const QString first = sineFile("first.wav", c.firstRate, firstSeconds, 0);
        const QString second = sineFile("second.wav", c.secondRate, 3.0, firstSeconds);
        std::vector<double> v;
        const bool judged = test::judgeableTake(stage, [&] {
            Rig r(stage);
            r.add(1, first);
            r.add(2, second);
            r.show({1, 2});
            if (c.playNext) {
                r.add(3, sineFile("other.wav", c.secondRate, 3.0, 0));
                r.show({1, 3, 2});
                test::showTrackList(r.app);
            }
            r.app.playback.gaplessOn = true;
            r.app.playback.playRate = c.speed;
            QVERIFY(test::playTaken(r.app, r.track(1)));
            QVERIFY(r.app.playback.audio && r.app.isPlaying());
            // About three seconds of listening before the end, where the
            // tick would arm the successor; recorded from there, once the
            // seek's own fade and refill are over.
            QVERIFY(QTest::qWaitFor([&] { return r.audio().currentTime() > 0.2; }, kWaitMs));
            const double target = r.audio().duration() - 3.6 * c.speed;
            r.audio().setCurrentTime(target);
            QVERIFY(QTest::qWaitFor(
                [&] { return r.audio().currentTime() > target + 0.6 * c.speed; }, kWaitMs));
            QVERIFY(stage.record());
            QVERIFY(test::gaplessCheckOpened(r.app));
            if (c.playNext) {
                QVERIFY(r.app.playback.prepared && r.app.playback.prepared->track.id == 3);
                if (c.lastSecond)
                    QVERIFY(QTest::qWaitFor(
                        [&] { return r.audio().currentTime() > r.audio().duration() - 1.0; },
                        kWaitMs));
                test::pressTrackRow(r.app, 2);
                r.app.menuPlayNext();
            }
            // As the tick does, until the look ahead has read the successor;
            // in the last second only its answer arms it.
            QVERIFY2(QTest::qWaitFor(
                         [&] {
                             if (!c.lastSecond)
                                 r.app.gaplessCheck();
                             return r.app.playback.preparedAs(PreparedNext::Kind::Scheduled) &&
                                    r.app.playback.prepared->track.id == 2;
                         },
                         2000),
                     "the successor was not armed");
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return r.currentId() == std::optional<qint64>(2) &&
                           r.audio().currentTime() > 1.0;
                },
                kWaitMs));
            v = stage.recording();
        });
        if (!judged)
            return;
        const QString fault = breakInSine(v);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // Gapless off: tracks follow one another as the program's tick and
    // the end of each track make them, kChanges times. Each is heard whole,
    // every frame of it in order (no tail cut by an end taken as heard too
    // early, no start cut short, no queue dropped, no silence inside); each
    // next track is the one the end asks for, played on the player opened
    // ahead (or from its render made ahead). Between two tracks the silence
    // is what is left of the cycle that played the last frame: under a
    // cycle at the quickest change of the row (an end taken as heard a
    // cycle late makes every change a cycle longer), and a loaded machine
    // holds the program back long at one change at most (joinFault).
    void tracksFollowWhole_data() { addRows(followCases); }
    void tracksFollowWhole() {
        const FollowCase& c = test::currentCase(followCases);
        Stage stage(c.device, c.wobble);
        if (!stage.skip.isEmpty())
            QSKIP(qPrintable(stage.skip));
        const QString first = tempFile("first.wav"), second = tempFile("second.wav");
        QVERIFY(test::writeSamples(first, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                                   test::ramp(0, kFollowFrames, kSinkRate)));
        QVERIFY(test::writeSamples(second, SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                                   test::ramp(kFollowFrames, 2 * kFollowFrames, kSinkRate)));
        const bool rendered = c.follow == Follow::Rendered;
        std::vector<double> v;
        QList<qint64> played;  // the track each change started
        QString fromElsewhere; // the change that did not take what was made ahead
        const bool judged = test::judgeableTake(stage, [&] {
            const test::LogLines log(QStringLiteral("quavelark.playback.debug=true"));
            Rig r(stage);
            r.add(1, first);
            r.add(2, second);
            r.show({1, 2});
            r.app.playback.gaplessOn = false;
            r.app.playback.repeatOn = c.follow == Follow::Repeat;
            // Full volume: the samples reach the sink as the files hold them.
            r.app.views.volume->setDoubleValue(100);
            if (rendered) {
                r.app.playback.maxQuality = false;
                r.app.fxPanel->bypass = false;
                r.app.fxPanel->state.enabled = true;
                r.app.fxPanel->state.gains = {6, 3, 0, 0, 0};
            }
            // The succession checks of the program's half-second tick, which
            // open the file the end will play a few seconds ahead.
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, &r.app, [&r] {
                r.app.gaplessCheck();
                r.app.openAhead();
            });
            tick.start(500);
            QVERIFY(stage.record());
            QVERIFY(test::playTaken(r.app, r.track(1)));
            if (rendered) // its own render first
                QVERIFY(QTest::qWaitFor([&] { return !r.app.playback.loading; }, kWaitMs));
            QVERIFY(r.app.playback.audio && r.app.isPlaying());
            // Each end reaches the program as a queued call: answered as its
            // own event loop would, at once, not after the next 10 ms nap.
            played.clear();
            fromElsewhere.clear();
            quint64 generation = r.app.playback.generation;
            const AudioPlayer* ahead = nullptr;
            const bool followed = test::waitInEventLoop(
                [&] {
                    const PlaybackState& p = r.app.playback;
                    if (p.generation != generation) {
                        generation = p.generation;
                        played << r.currentId().value_or(-1);
                        if (!rendered && (!ahead || p.audio.get() != ahead))
                            fromElsewhere = QStringLiteral("change %1").arg(played.size());
                        ahead = nullptr;
                    }
                    if (const PreparedNext* opened = p.preparedAs(PreparedNext::Kind::OpenedAhead))
                        ahead = opened->player.get();
                    return played.size() >= kChanges && p.audio && !p.loading &&
                           p.audio->currentTime() > 0.5;
                },
                kWaitMs);
            v = stage.recording();
            QVERIFY2(followed, qPrintable(QStringLiteral("%1 of %2 track ends delivered")
                                              .arg(played.size())
                                              .arg(kChanges)));
            if (rendered) {
                int fromRender = 0;
                for (const test::LogLine& l : test::LogLines::ours())
                    fromRender +=
                        l.text.contains(QStringLiteral("from the effects render made ahead"));
                if (fromRender < kChanges)
                    fromElsewhere =
                        QStringLiteral("%1 of %2 changes").arg(kChanges - fromRender).arg(kChanges);
            }
        });
        if (!judged)
            return;

        QList<qint64> asked;
        for (int k = 1; k <= kChanges; ++k)
            asked << (c.follow == Follow::Repeat || k % 2 == 0 ? 1 : 2);
        QCOMPARE(played, asked);
        QVERIFY2(fromElsewhere.isEmpty(), qPrintable(fromElsewhere + ": not what was made ahead (" +
                                                     (rendered ? "render" : "player") + ")"));
        // No ramp, nor its render, holds a frame of exact zeros.
        const test::TracksHeard heard = test::tracksHeard(v, kFollowFrames, 0);
        QVERIFY2(heard.fault.isEmpty(), qPrintable(heard.fault));
        QCOMPARE(heard.starts.size(), std::size_t(kChanges + 1));
        for (std::size_t k = 0; k < heard.starts.size() && !rendered; ++k) {
            const std::int64_t from = k == 0 || asked[int(k) - 1] == 1 ? 0 : kFollowFrames;
            const QString fault = rampFault(v, heard.starts[k], from, from + kFollowFrames);
            QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("track %1: ").arg(k + 1) + fault));
        }
        qInfo("%s", qPrintable(test::joinsText(stage, heard.gaps)));
        const QString late = test::joinFault(stage, heard.gaps);
        QVERIFY2(late.isEmpty(), qPrintable(late));
    }

    // A track only the decode road plays, between two FLAC files: each of
    // the three is heard whole, the change into it waits for no decode
    // (decoded ahead while the one before played), and the desktop is told
    // "playing" throughout. Joined gaplessly it starts within 150 ms of the
    // end of the one before; with gapless off its request plays its decode
    // made ahead at once, and the silences of the two track ends are the end
    // road's (judged as tracksFollowWhole judges them).
    void decodeRoadTracksAreHeardWhole_data() { addRows(decodedCases); }
    void decodeRoadTracksAreHeardWhole() {
        const DecodedCase& c = test::currentCase(decodedCases);
        const test::LogLines log(QStringLiteral("quavelark.playback.debug=true"));
        Stage stage(c.device);
        if (!stage.skip.isEmpty())
            QSKIP(qPrintable(stage.skip));
        constexpr double kFirst = 7, kMiddle = 4, kLast = 3;
        const auto flac = [](const char* name, double hz, double seconds) {
            test::AudioShape shape;
            shape.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
            shape.frames = std::int64_t(seconds * shape.rate);
            shape.signal = test::Signal::Sine;
            shape.frequency = hz;
            return test::writeTemp(name, shape);
        };
        const QString first = flac("first.flac", 500, kFirst);
        const QString middle = tempFile(c.middle == Middle::WavPack ? "middle.wv" : "middle.mp3");
        const QString sine = QStringLiteral("sine=f=1500:d=%1:r=44100").arg(kMiddle);
        QVERIFY(c.middle == Middle::WavPack
                    ? test::runFfmpeg(
                          {"-f", "lavfi", "-i", sine, "-ac", "2", "-c:a", "wavpack", middle})
                    : test::runFfmpeg({"-f", "lavfi", "-i", sine, "-ac", "2", "-c:a", "libmp3lame",
                                       "-q:a", "6", "-write_xing", "0", middle}));
        const QString last = flac("last.flac", 2500, kLast);
        std::vector<double> v;
        std::vector<PlaybackStatus> statusesSeen;
        qsizetype takeLog = 0; // the judged take's first log line
        bool middleWaited = false;
        // A take in which the loaded machine starved the device, or the
        // recorder fell behind, is made again: silence inside a track is then
        // the program's.
        const bool judged = test::judgeableTake(stage, [&] {
            takeLog = test::LogLines::ours().size();
            auto center = std::make_unique<SimNowPlaying>();
            SimNowPlaying& published = *center;
            stage.platform->nowPlaying = std::move(center);
            Rig r(stage);
            r.add(1, first);
            r.add(2, middle);
            r.add(3, last);
            r.show({1, 2, 3});
            r.app.playback.gaplessOn = c.gapless;
            r.app.views.volume->setDoubleValue(100);
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, &r.app, [&r] {
                r.app.extrasTick();
                r.app.publish();
            });
            tick.start(500);
            QVERIFY(stage.record());
            QVERIFY(test::playTaken(r.app, r.track(1)));
            QVERIFY(r.app.playback.audio && r.app.isPlaying());
            const std::size_t firstPublication = published.publications.size();
            middleWaited = false;
            QVERIFY(test::waitInEventLoop(
                [&] {
                    // Its request handed back to the event loop before it
                    // played: it waited for a decode, an open or a tick.
                    if (r.currentId() == std::optional<qint64>(2) && r.app.playback.loading)
                        middleWaited = true;
                    return r.currentId() == std::optional<qint64>(3) && r.app.isPlaying() &&
                           r.app.playback.audio->currentTime() > 1.0;
                },
                kWaitMs));
            tick.stop();
            v = stage.recording();
            statusesSeen.clear();
            for (std::size_t i = firstPublication; i < published.publications.size(); ++i)
                statusesSeen.push_back(published.publications[i].status);
        });
        if (!judged)
            return;

        QStringList statuses;
        for (std::size_t i = 0; i < statusesSeen.size(); ++i)
            if (statusesSeen[i] != PlaybackStatus::Playing)
                statuses << QStringLiteral("publication %1 not playing").arg(i);
        const std::vector<test::ToneRun> runs = test::toneRuns(v, kSinkRate);
        qInfo("%s", qPrintable(test::describeRuns(runs)));
        // Each track from the first to the last run of its tone (50 ms or
        // more: a block holding two tones reads as a third).
        const auto span = [&](int hz) {
            test::ToneRun whole{hz, 0, 0};
            for (const test::ToneRun& run : runs) {
                if (run.hz != hz || run.seconds < 0.05)
                    continue;
                if (whole.seconds == 0)
                    whole.from = run.from;
                whole.seconds = run.end() - whole.from;
            }
            return whole;
        };
        const QString heard = test::describeRuns(runs);
        // Each track is one stretch of its tone: a gap inside it is silence
        // put in or frames lost.
        for (const int hz : {500, 1500, 2500}) {
            const auto pieces =
                std::count_if(runs.begin(), runs.end(), [hz](const test::ToneRun& r) {
                    return r.hz == hz && r.seconds >= 0.05;
                });
            QVERIFY2(pieces == 1,
                     qPrintable(
                         QStringLiteral("%1 Hz in %2 pieces: %3").arg(hz).arg(pieces).arg(heard)));
        }
        QVERIFY2(span(500).seconds > kFirst - 0.05, qPrintable(heard));
        QVERIFY2(span(1500).seconds > kMiddle - 0.1, qPrintable(heard));
        QVERIFY2(span(2500).seconds > 0.9, qPrintable(heard));
        // The silence between two tracks (an MP3's own padding included).
        // Joined gaplessly, the middle track follows the first at the sink:
        // only that padding and a block of the measure lie between them.
        // After it, too short to be joined gaplessly (5 s at least), the last
        // track follows by the ordinary end road, bounded more loosely here
        // (a loaded machine) and judged by tracksFollowWhole.
        const double into = span(1500).from - span(500).end();
        const double after = span(2500).from - span(1500).end();
        qInfo("%.3f s into the middle track, %.3f s after it", into, after);
        QVERIFY2(into >= 0 && after >= 0, qPrintable(heard));
        if (c.gapless) {
            QVERIFY2(into <= 0.15, qPrintable(heard));
            QVERIFY2(after <= 0.5, qPrintable(heard));
        } else {
            // Both changes are the end road's: the player's end heard, then
            // the next track started. How soon the sink hears it after that is
            // the machine's as much as the program's (on a loaded machine a
            // change with the next player ready in the same turn was heard
            // after 0.2 to 0.7 s), as it is in tracksFollowWhole, whose bounds
            // hold here: no more than a cycle and kMachineHoldSeconds at the
            // quicker change, kMachineStallSeconds at the other. That the
            // change into the middle track waited for no decode, open or
            // tick is told by the road it took (below) and by the track never
            // being left loading.
            const double cycle = double(stage.cycleFrames()) / kSinkRate;
            const double padding = 0.05; // the MP3's, and the measure's block
            QVERIFY2(stage.cycleFrames() > 0, "the server's cycle was not read");
            QVERIFY2(std::min(into, after) <= padding + cycle + test::kMachineHoldSeconds,
                     qPrintable(heard));
            QVERIFY2(std::max(into, after) <= padding + cycle + test::kMachineStallSeconds,
                     qPrintable(heard));
            // The request for it took its road within itself: the next line
            // of playback after it tells that it plays.
            QStringList requestLines;
            for (const test::LogLine& l : test::LogLines::ours().mid(takeLog))
                if (l.category == "quavelark.playback")
                    requestLines << l.text;
            const auto request =
                std::find_if(requestLines.begin(), requestLines.end(), [](const QString& l) {
                    return l.startsWith(QStringLiteral("play track 2 "));
                });
            QVERIFY2(request != requestLines.end() && request + 1 != requestLines.end() &&
                         request[1].startsWith(
                             QStringLiteral("track 2 plays on the direct road, from its "
                                            "decode made ahead")),
                     qPrintable(test::LogLines::dump()));
        }
        QVERIFY2(!middleWaited, "the middle track was left loading after its end came");
        QVERIFY2(statuses.isEmpty(), qPrintable(statuses.join(", ")));
        // Decoded while the first track played, not once its turn came.
        QVERIFY2(!test::LogLines::has("quavelark.playback", QtDebugMsg,
                                      QStringLiteral("track 2 takes the decode road")),
                 qPrintable(test::LogLines::dump()));
    }
};

QL_TEST_MAIN(ServerJoinTest)
#include "ServerJoinTest.moc"
