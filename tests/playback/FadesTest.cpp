// Guards against: wrong gains in a crossfade or sleep fade, and a wrong loudness measure.
// The crossfade, the sleep timer and the loudness measurement on the simulated
// device (manual clock) with a driven monotonic clock. Tracks 1 (0.5) and 2, 3
// (0.25) are 13 s of constant level, so with the slider at 100 a recorded frame
// is the sum of the two players' gains times those levels.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "OpenSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TrackIds.h"

#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QToolButton>

#include <sndfile.h>

using namespace ql;
using namespace ql::platform;
using test::tempFile;

namespace {

constexpr int kRate = 44100;
constexpr std::int64_t kStep = kRate / 10; // device frames of one 0.1 s fade step
// How long the rig waits for what the player does on its own threads (the
// device buffer refilled, a position heard): through the 2x time-stretch of
// the sanitized build on a machine whose cores are shared, a refill that
// takes a few milliseconds on an idle one has taken over 5 s.
constexpr int kWaitMs = 30000;

struct Rig : test::TrackIds<Rig> {
    std::shared_ptr<SimSinkControl> sink =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20, 4096);
    test::RiggedApp rig{test::twoOutputs(), SimOutputs{SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;
    double clock = 100.0;    // the driven monotonic clock
    std::int64_t played = 0; // device frames handed out
    int requests = 0;        // play requests

    Rig() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        test::fakes(app).clock.monotonic = [this] { return clock; };
        test::fakes(app).observer.playRequest = [this](const Track&) { ++requests; };
        app.listening.crossfadeOn = true;
        app.playback.maxQuality = app.playback.rateMatchOn = false;
        app.views.volume->setDoubleValue(100);
        for (const auto& [id, value, seconds] :
             {std::tuple(1, 0.5, 13), {2, 0.25, 13}, {3, 0.25, 13}, {4, 0.5, 12}}) {
            add(id, tempFile(QString("c%1.wav").arg(id)));
            QVERIFY(test::writeFloatWav(track(id).path, kRate, 2,
                                        std::vector<double>(2 * seconds * kRate, value)));
        }
        show({1, 2});
    }
    AudioPlayer& audio() const { return *app.playback.audio; }
    bool start(qint64 id) {
        return test::playTaken(app, track(id)) && app.isPlaying() && advance(0);
    }
    // Hands the device `frames` more and waits until its buffer is full again
    // (the engine writes whole blocks of 1024 frames).
    bool advance(std::int64_t frames) {
        sink->advance(frames);
        played += frames;
        return QTest::qWaitFor([&] { return sink->framesWritten() > played + 4096 - 1024; },
                               kWaitMs);
    }
    // Plays the current file up to `seconds` of it (at 2x within 20 ms).
    bool playTo(double seconds) {
        const double speed = audio().enableRate() ? double(audio().rate()) : 1.0;
        const double within = speed == 1.0 ? 1e-6 : 0.02;
        return advance(std::llround((seconds - audio().currentTime()) * kRate / speed)) &&
               QTest::qWaitFor([&] { return std::abs(audio().currentTime() - seconds) < within; },
                               kWaitMs);
    }
    // 0.1 s passes on the device and the clock; then the fade's timer fires.
    bool fadeStep() {
        clock += 0.1;
        return advance(kStep) &&
               (!app.playback.fadeTimer ||
                QMetaObject::invokeMethod(app.playback.fadeTimer.get(), "timeout"));
    }
    void elapse(double seconds) { clock += seconds, app.sleepTick(); }
};

// clang-format off
struct FadeCase {
    const char* name;
    double left = 5.0;                     // seconds of file left at the check
    std::function<void(Rig&)> setUp = {};  // before track 1 (`playing`) starts
    std::function<void(Rig&)> atEnd = {};  // while it plays, before the check
    qint64 playing = 1;
    QList<qint64> visible{1, 2}, radio{};
    double length = 0;  // the fade's length; 0: no fade
    bool gaveUp = false;
    QList<qint64> radioAfter{};
    bool mix = true; // the recording is checked (1x only)
};

const auto atTwice = [](Rig& r) { r.app.playback.playRate = 2.0; };
const std::vector<FadeCase> fadeCases{
    {.name = "13 s track, 5 s left: a 5 s fade", .length = 5.0},
    {.name = "5.5 s left: not yet", .left = 5.5},
    {.name = "a 12.0 s track never fades", .left = 3.0, .playing = 4, .visible = {4, 2}},
    {.name = "0.3 s left at the first eligible tick: a 0.5 s fade", .left = 0.3, .length = 0.5},
    {.name = "the radio's successor leaves the queue with the unknown ids before it",
     .visible = {1, 3}, .radio = {99, 2, 3}, .length = 5.0, .radioAfter = {3}},
    {.name = "an armed gapless successor is cancelled first: one new voice", .left = 4.0,
     .atEnd = [](Rig& r) {
         r.app.listening.crossfadeOn = false;
         QVERIFY(test::gaplessCheckOpened(r.app));
         r.app.listening.crossfadeOn = r.app.playback.preparedAs(PreparedNext::Kind::Scheduled) != nullptr;
     }, .length = 4.0},
    {.name = "bit-perfect: no fade", .atEnd = [](Rig& r) { r.app.playback.bitPerfect = true; }},
    {.name = "maximum quality: no fade", .atEnd = [](Rig& r) { r.app.playback.maxQuality = true; }},
    {.name = "repeat on: no fade", .atEnd = [](Rig& r) { r.app.playback.repeatOn = true; }},
    {.name = "at 2x, 5 track-seconds left: a 5 s fade", .setUp = atTwice, .length = 5.0, .mix = false},
    {.name = "at 2x, 5.5 track-seconds left: not yet", .left = 5.5, .setUp = atTwice},
    {.name = "only the successor needs processing: gives up", .atEnd = [](Rig& r) {
         // The first question is about the playing track.
         test::fakes(r.app).analysers.fxSignature = [n = 0]() mutable { return ++n > 1 ? std::optional<QString>("eq") : std::nullopt; };
     }, .gaveUp = true},
    {.name = "the chosen device refuses the new player: gives up",
     .atEnd = [](Rig& r) { r.app.playback.outputUID = QStringLiteral("usb:gone"); }, .gaveUp = true},
    {.name = "no other track: gives up", .visible = {1}, .gaveUp = true},
};

struct SleepCase {
    const char* name;
    std::function<void(Rig&)> act;
    QString face, status;
    double factor = 1.0;
    bool playing = true;
};

constexpr double kTimer = 15 * 60;
const QString kIdle = "😴 수면 타이머", kStopped = "😴 수면 타이머로 멈췄습니다.",
              kChosen = "😴 15분 뒤 서서히 줄이며 멈춥니다.";
const auto pick15 = [](Rig& r, double elapsed) { r.app.sleepChanged(1), r.elapse(elapsed); };

const std::vector<SleepCase> sleepCases{
    {"15 minutes: the message, then the face after one tick", [](Rig& r) { pick15(r, 0.5); }, "😴 15분 남음", kChosen},
    {"61 s left: 2 minutes; 60 s left: 1 minute", [](Rig& r) {
         pick15(r, kTimer - 61);
         QCOMPARE(r.app.sleepPopup->text(), "😴 2분 남음");
         r.elapse(1);
     }, "😴 1분 남음", kChosen},
    {"29 s left: the fade", [](Rig& r) { pick15(r, kTimer - 29); }, "😴 1분 남음", kChosen, 29.0 / 30.0},
    {"at zero: paused", [](Rig& r) { pick15(r, kTimer); }, kIdle, kStopped, 1.0, false},
    {"at zero during a crossfade: the fade ends, the new track pauses", [](Rig& r) {
         r.app.sleepChanged(1);
         QVERIFY(r.playTo(8.0));
         QVERIFY(test::checkOnceOpened(r.app, [&r] { r.app.crossfadeCheck(); }));
         QVERIFY(r.app.playback.fadingOut && r.currentId() == 2);
         r.elapse(kTimer);
         QVERIFY(!r.app.playback.fadingOut && !r.app.playback.fadeTimer);
     }, kIdle, kStopped, 1.0, false},
    {"at zero with an armed successor: it is cancelled", [](Rig& r) {
         r.app.listening.crossfadeOn = false;
         QVERIFY(r.playTo(10.0));
         QVERIFY(test::gaplessCheckOpened(r.app));
         QVERIFY(r.app.playback.preparedAs(PreparedNext::Kind::Scheduled));
         pick15(r, kTimer);
         QVERIFY(!r.app.playback.prepared);
     }, kIdle, kStopped, 1.0, false},
    {"at zero, paused: the message", [](Rig& r) { r.app.toggle(), r.app.sleepChanged(4), r.elapse(90 * 60); },
     kIdle, kStopped, 1.0, false},
    {"off in the last 30 s: full volume at once", [](Rig& r) { pick15(r, kTimer - 10), r.app.sleepChanged(5); },
     kIdle, "수면 타이머를 껐습니다."},
    {"the face item changes nothing", [](Rig& r) { r.app.sleepChanged(0), r.elapse(kTimer); }, "", "-"},
    {"English: the face after each tick", [](Rig& r) { L10n::setLanguage("en"), pick15(r, 0.5); },
     "😴 15 min left", "😴 15 minutes from now, the music fades out and stops."},
    {"a stop while a slow decode prepares a track: it never starts, play/pause starts it", [](Rig& r) {
         // The decode holds while "hold" exists, as a slow one would.
         const QString hold = tempFile("hold"), wv = tempFile("sleep.wv"), ffmpeg = tempFile("held");
         QVERIFY(test::writeFile(hold, "1") && test::runFfmpeg({"-y", "-f", "lavfi", "-i", "sine", "-t", "2", wv}));
         QVERIFY(test::writeExecutable(ffmpeg, "for out; do :; done\n[ -e '" + hold.toUtf8() +
                                       "' ] && printf partial > \"$out\" && exec sleep 60\nexec ffmpeg \"$@\"\n"));
         test::fakes(r.app).tools.decodeProgram = [ffmpeg] { return ffmpeg; };
         r.add(9, wv);
         QVERIFY(test::playTaken(r.app, r.track(9)));
         QVERIFY(r.app.playback.roadDecode);
         const QString partial = r.app.playback.roadDecode->job.output;
         pick15(r, kTimer);
         QVERIFY(!r.app.playback.roadDecode && !QFile::exists(partial) && QFile::remove(hold));
         QTest::qWait(100);
         QVERIFY(!r.app.playback.loading && !r.app.playback.audio);
         r.app.toggle();
         QVERIFY(QTest::qWaitFor([&] { return r.app.isPlaying() && r.currentId() == 9; }, kWaitMs));
     }, kIdle, kStopped},
};

// The stub ffmpeg, run in its folder: "args" (its arguments, one a line),
// "peaks" (one line per run: how many ran at its start), "stderr" (what it
// writes there).
const QByteArray kStub = "\nmkdir -p on; : > on/$$; ls on | wc -l >> peaks\n"
                         "printf '%s\\n' \"$@\" > args; sleep 0.2; cat stderr >&2; rm on/$$\n";
struct LoudCase {
    const char* name;
    QByteArray meter;              // the stub's standard error; empty: the real ffmpeg
    std::function<void(Rig&)> act; // leveling is on, track 1 plays unmeasured
    QHash<qint64, double> stored;  // by track id, within 0.3 LU
    int runs = 1;
    float volume = 1.0f; // track 1's player afterwards
    test::AudioShape sine{}; // track 30 for the real ffmpeg
};

const QByteArray kSummary = "  I:  -30.0 LUFS\n[Parsed_ebur128_0] Summary:\n    I:         -6.0 LUFS\n"
                            "    Threshold: -16.0 LUFS\n";
// 10 s of a 1 kHz stereo sine.
const auto sine = [](double amplitude) {
    return test::AudioShape{.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24, .frames = 10 * kRate,
                            .signal = test::Signal::Sine, .amplitude = amplitude};
};
const auto measure = [](qint64 id) { return [id](Rig& r) { r.app.ensureLoudness(r.track(id)); }; };
bool measured(Rig& r) { return QTest::qWaitFor([&] { return r.app.playback.loudPending.isEmpty(); }, kWaitMs); }

const std::vector<LoudCase> loudCases{
    {"the last I: line wins; the playing track's volume follows", kSummary, measure(1), {{1, -6.0}}, 1, 0.31622776f},
    {"-70.0 is not stored", "I: -70.0 LUFS\n", measure(1), {}},
    {"-69.9 is stored", "I: -69.9 LUFS\n", measure(1), {{1, -69.9}}},
    {"no match: pending ends, a later start measures again", "I: n/a\n",
     [](Rig& r) { measure(1)(r), measured(r), measure(1)(r); }, {}, 2},
    {"leveling off: no process", kSummary, [](Rig& r) { r.app.listening.levelingOn = false, measure(1)(r); }, {}, 0},
    {"two quick starts of one track: one process", kSummary, [](Rig& r) { measure(2)(r), measure(2)(r); }, {{2, -6.0}}},
    {"a track no longer current: stored, the playing volume untouched", kSummary, measure(3), {{3, -6.0}}},
    {"ten tracks at once: never more than two measured at a time", "I: n/a\n", [](Rig& r) {
         for (qint64 id = 10; id < 20; ++id)
             r.add(id, tempFile(QString("many-%1.wav").arg(id))), measure(id)(r);
     }, {}, 10},
    {"real ffmpeg: a -20 dBFS sine is -20 LUFS", {}, measure(30), {{30, -20.0}}, 0, 1.0f, sine(0.1)},
    {"real ffmpeg: digital silence stores nothing", {}, measure(30), {}, 0, 1.0f, sine(0.0)},
};
// clang-format on

} // namespace

class FadesTest : public QObject {
    Q_OBJECT
private slots:
    void crossfade_data() { test::addRows(fadeCases); }
    void crossfade() {
        const FadeCase& c = test::currentCase(fadeCases);
        Rig r;
        r.show(c.visible);
        if (c.setUp)
            c.setUp(r);
        QVERIFY(r.start(c.playing) && r.playTo(r.audio().duration() - c.left));
        r.app.listening.radioQueue = c.radio;
        if (c.atEnd)
            c.atEnd(r);
        const std::int64_t from = r.played;

        // As a tick does: the look ahead follows the successor first.
        r.app.aimLookAhead();
        const std::optional<DecodeAheadEntry>& ahead = r.app.playback.decodeAhead;
        QVERIFY(QTest::qWaitFor([&ahead] { return !ahead || !ahead->running; }, kWaitMs));
        QVERIFY(test::checkOnceOpened(r.app, [&r] { r.app.crossfadeCheck(); }));

        PlaybackState& p = r.app.playback;
        QCOMPARE(p.crossSkipped, c.gaveUp ? c.playing : -1);
        QCOMPARE(r.app.listening.radioQueue, c.length > 0 ? c.radioAfter : c.radio);
        QCOMPARE(r.currentId(), std::optional(c.length > 0 ? 2 : c.playing));
        QCOMPARE(bool(p.fadingOut), c.length > 0);
        if (c.length == 0)
            return;
        QVERIFY(p.fadeTimer && !p.prepared && p.history.last() == 1 && r.audio().volume() == 0.0f);

        // Step k's gains reach the device one buffer and one gain ramp later:
        // 1.5 steps on, the frame holds exactly the mix of that step.
        const int steps = int(std::ceil(c.length / 0.1 - 1e-9)) + 5;
        for (int k = 1; k <= steps; ++k) {
            QVERIFY(r.fadeStep());
            QVERIFY(std::abs(p.fadeProgress - std::min(1.0, k * 0.1 / c.length)) < 1e-9);
        }
        QVERIFY(r.advance(2 * kStep));
        const std::vector<double> got = r.sink->recordedDouble();
        for (int k = 1; c.mix && k <= steps; ++k) {
            const std::int64_t at = from + k * kStep + kStep * 3 / 2;
            const double progress = std::min(1.0, k * 0.1 / c.length);
            const double want =
                (at - from < c.left * kRate ? 0.5 * (1 - progress) : 0.0) + 0.25 * progress;
            QVERIFY(std::abs(got[std::size_t(2 * at)] - want) <= 0.25 * 0.1 / c.length + 1e-3);
        }
        QVERIFY(p.fadeProgress == 1.0 && !p.fadingOut && !p.fadeTimer && r.currentId() == 2);
        QCOMPARE(r.audio().volume(), r.app.effVol());
        QCOMPARE(r.requests, 1); // the old player's end never asked for a track
    }

    void sleepTimer_data() { test::addRows(sleepCases); }
    void sleepTimer() {
        const SleepCase& c = test::currentCase(sleepCases);
        Rig r;
        QVERIFY(r.start(1));
        r.app.status->setStringValue("-");

        c.act(r);

        QCOMPARE(r.app.sleepPopup->text(), c.face);
        QCOMPARE(r.app.status->stringValue(), c.status);
        QVERIFY(std::abs(r.app.playback.sleepFactor - c.factor) < 1e-9);
        QCOMPARE(r.app.isPlaying(), c.playing);
        QCOMPARE(r.audio().volume(), r.app.effVol());
        QCOMPARE(r.app.views.playButton->title(),
                 QString(c.playing ? "⏸ 일시정지" : "▶ 재생"));
    }

    void loudness_data() { test::addRows(loudCases); }
    void loudness() {
        const LoudCase& c = test::currentCase(loudCases);
        const QString d = tempFile("stub"), stub = d + "/ffmpeg";
        QDir(d).removeRecursively();
        QVERIFY(test::writeFile(d + "/stderr", c.meter) &&
                test::writeExecutable(stub, "cd " + d.toUtf8() + kStub));
        Rig r;
        QVERIFY(r.start(1));
        r.app.listening.levelingOn = true;
        if (!c.meter.isEmpty())
            test::fakes(r.app).tools.loudnessProgram = [stub] { return stub; };
        r.add(30, tempFile("sine.wav"));
        QVERIFY(!c.meter.isEmpty() || test::writeAudio(r.track(30).path, c.sine));

        c.act(r);

        QVERIFY(measured(r));
        QCOMPARE(r.app.playback.loud.size(), c.stored.size());
        for (auto it = c.stored.begin(); it != c.stored.end(); ++it)
            QVERIFY(std::abs(r.app.playback.loud.value(r.track(it.key()).path) - it.value()) < 0.3);
        QVERIFY(std::abs(r.audio().volume() - c.volume) < 1e-5);
        QCOMPARE(r.app.playback.loudDirty, !c.stored.isEmpty()); // for the 20th tick's save
        if (c.meter.isEmpty())
            return;
        const QByteArray peaks = QFile::exists(d + "/peaks") ? test::readFile(d + "/peaks") : "";
        QCOMPARE(peaks.count('\n'), c.runs);
        QVERIFY(QByteArray(peaks).replace('1', "").replace('2', "").replace('\n', "").isEmpty());
        if (c.runs == 1)
            QCOMPARE(test::readFile(d + "/args"),
                     "-nostats\n-hide_banner\n-i\nfile:" +
                         r.app.playback.loud.keys().value(0, r.track(1).path).toUtf8() +
                         "\n-filter:a\nebur128=framelog=verbose\n-f\nnull\n-\n");
    }
};

QL_TEST_MAIN(FadesTest)
#include "FadesTest.moc"
