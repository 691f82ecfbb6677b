// Guards against: a track only the decode road plays cut, delayed or left loading
// between two others, as heard at a sound server's sink.
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

// clang-format off
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

class ServerDecodedTest : public QObject {
    Q_OBJECT
private slots:
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

QL_TEST_MAIN(ServerDecodedTest)
#include "ServerDecodedTest.moc"
