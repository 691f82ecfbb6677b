// Guards against: with gapless off, a track end never delivered, a track's frames cut
// or silence put into them, and an end taken as heard late (a cycle of silence more
// between every two tracks), as heard at a sound server's sink.
// The program's own succession on the stages of ServerStage.h; a take the
// recorder fell behind on, or in which the machine kept the player from its
// device, is made again, and the row skipped if all were.
#include "CaseRows.h"
#include "ServerStage.h"

using namespace ql;
using namespace ql::test::server;
using test::addRows;
using test::tempFile;

namespace {

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
// clang-format on

} // namespace

class ServerFollowTest : public QObject {
    Q_OBJECT
private slots:
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
};

QL_TEST_MAIN(ServerFollowTest)
#include "ServerFollowTest.moc"
