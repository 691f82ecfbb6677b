// Guards against: silence put into a gapless join (at another speed, or across sample
// rates), as heard at a sound server's sink.
// The program's own succession (App, its tick's checks) plays to ALSA
// "default" on a private PipeWire graph, recorded inside the server at its
// null sink (SoundServerGraph); where a row can, it also runs on the
// simulated device in its sound-server mode with a real-time clock
// (ServerStage.h). A take the recorder fell behind on, or in which the
// machine kept the player from its device, is made again, and the row
// skipped if all were.
#include "CaseRows.h"
#include "ServerStage.h"

using namespace ql;
using namespace ql::test::server;
using test::addRows;
using test::tempFile;

namespace {

// Built three times: the rows at 1x, and (programs of their own, as each of
// their takes plays through the time-stretch, and may be made again) the
// rows at another speed on the simulated server and on PipeWire.
enum class Rows { AtOneX, SimulatedAtAnotherSpeed, PipeWireAtAnotherSpeed };
constexpr Rows kRows = Rows::QL_JOIN_ROWS;

// The rows at another speed begin with the player's buffer full. Under the
// loaded runs (two busy processes per core, and the other work of a shared
// machine) the time-stretch took the decoder thread about a fifth of a core
// per second heard (a tenth on a quiet machine), and the thread
// was given less: it waited to run most of the time while its buffer stayed
// empty, and the device ran dry every few blocks. No depth of buffer keeps
// up a stretch that runs slower than real time; a full one (the decoder
// stops with room left for one more piece, about 0.8 s of the 2.7 s it
// holds) covers the seconds a take records, so that a take that still runs
// dry was spoiled by the machine. Filled while paused, then played for
// kResumeSeconds before the recording starts.
constexpr double kFullSeconds = 1.8;
constexpr double kResumeSeconds = 0.2;

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
// clang-format on

} // namespace

class ServerJoinTest : public QObject {
    Q_OBJECT
private slots:
    // A sine split in two files at an odd point, joined by the program's
    // gapless succession: from a few seconds before the join to a second
    // after it, the sound is the sine unbroken.
    void gaplessJoinInsertsNothing_data() {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < joinCases.size(); ++i)
            if (joinCases[i].speed == 1.0 ? kRows == Rows::AtOneX
                                          : kRows == (joinCases[i].device == Device::Simulated
                                                          ? Rows::SimulatedAtAnotherSpeed
                                                          : Rows::PipeWireAtAnotherSpeed))
                QTest::newRow(joinCases[i].name) << int(i);
    }
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
            const bool stretched = c.speed != 1.0;
            const double resumeSeconds = stretched ? kResumeSeconds : 0.0;
            QVERIFY(QTest::qWaitFor([&] { return r.audio().currentTime() > 0.2; }, kWaitMs));
            const double target = r.audio().duration() - (3.6 + resumeSeconds) * c.speed;
            r.audio().setCurrentTime(target);
            QVERIFY(QTest::qWaitFor(
                [&] { return r.audio().currentTime() > target + 0.6 * c.speed; }, kWaitMs));
            if (stretched) {
                // Paused until the player's buffer is full, then resumed
                // (see kFullSeconds); recorded once the resume's fade-in
                // has been heard.
                r.app.toggle();
                QVERIFY(!r.app.isPlaying());
                QVERIFY2(QTest::qWaitFor(
                             [&] { return r.audio().bufferedSeconds() >= kFullSeconds; }, kWaitMs),
                         qPrintable(QStringLiteral("paused, the player buffered only %1 s")
                                        .arg(r.audio().bufferedSeconds())));
                const double resumedAt = r.audio().currentTime();
                r.app.toggle();
                QVERIFY(r.app.isPlaying());
                QVERIFY(QTest::qWaitFor(
                    [&] { return r.audio().currentTime() > resumedAt + resumeSeconds * c.speed; },
                    kWaitMs));
            }
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
};

QL_TEST_MAIN(ServerJoinTest)
#include "ServerJoinTest.moc"
