// The crossfade, the sleep timer and the loudness measurement, on the
// simulated device with a manual clock and a driven monotonic clock:
// nothing plays and no time passes unless a test says so.
//
// The crossfade plays two files of constant level (0.5, then 0.25) with the
// slider at 100, so the recording at any frame is the sum of the two gains
// times those levels. The loudness table runs a stub ffmpeg that logs its
// arguments and how many of its kind run at once, and the real one.
#include "app/App.h"
#include "app/JSONStore.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QToolButton>

#include <sndfile.h>

using namespace ql;
using namespace ql::platform;
using test::addRows;
using test::tempFile;

namespace {

constexpr int kRate = 44100;
constexpr std::int64_t kStep = kRate / 10; // device frames of one 0.1 s fade step
constexpr qint64 kNone = -1;

// A stereo file of constant level, made once per name.
QString level(const QString& name, double value, double seconds) {
    const QString path = tempFile(name);
    if (!QFile::exists(path) &&
        !test::writeFloatWav(path, kRate, 2,
                             std::vector<double>(std::size_t(2 * seconds * kRate), value)))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString script(const QString& name, const QByteArray& body) {
    const QString path = tempFile(name);
    if (!test::writeExecutable(path, body))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Tracks 1 (13 s at 0.5), 2 and 3 (13 s at 0.25), 4 (12.0 s at 0.5) on the
// default device "Analog B", whose sink holds 4096 frames ahead.
struct Rig {
    std::shared_ptr<SimSinkControl> sink =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20, 4096);
    test::RiggedApp rig{devices(), SimOutputs{SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;
    double clock = 100.0;    // the driven monotonic clock
    std::int64_t played = 0; // device frames handed out
    QList<qint64> requests;  // play requests, in order

    Rig() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.seams.monotonic = [this] { return clock; };
        app.seams.playRequest = [this](const Track& t) { requests << t.id; };
        app.listening.crossfadeOn = true;
        app.playback.maxQuality = false;
        app.playback.rateMatchOn = false;
        app.views.volume->setDoubleValue(100);
        add(1, level("c1.wav", 0.5, 13));
        add(2, level("c2.wav", 0.25, 13));
        add(3, level("c3.wav", 0.25, 13));
        add(4, level("c4.wav", 0.5, 12));
        show({1, 2});
    }
    static SimRig devices() {
        SimRig rig = test::twoOutputs();
        const PhysicalFormat format{double(kRate), 24, false, 2, 8, true};
        for (SimDevice& d : rig.devices) {
            d.nominalRate = kRate;
            d.outputStreams[0].format = format;
            d.outputStreams[0].available.push_back(format);
        }
        return rig;
    }
    void add(qint64 id, const QString& path) {
        app.library.rows.push_back(Track{id, path, QStringLiteral("T%1").arg(id), {}, {}, 13, {}});
    }
    const Track& track(qint64 id) const {
        for (const Track& t : app.library.rows)
            if (t.id == id)
                return t;
        qFatal("no track %lld", qint64(id));
    }
    void show(const QList<qint64>& ids) {
        app.browser.filtered.clear();
        for (qint64 id : ids)
            app.browser.filtered.push_back(track(id));
    }
    AudioPlayer& audio() const { return *app.playback.audio; }
    qint64 currentId() const { return app.playback.current ? app.playback.current->id : kNone; }
    bool start(qint64 id) {
        app.play(track(id));
        return app.isPlaying() && QTest::qWaitFor([this] { return sink->framesWritten() >= 4096; });
    }
    // Hands the device `frames` more and waits until its buffer is full
    // again, so that a gain set now reaches frames 4096 + one block ahead.
    bool advance(std::int64_t frames) {
        played += frames;
        sink->advance(frames);
        // The engine writes whole blocks of 1024 frames.
        return QTest::qWaitFor([&] { return sink->framesWritten() > played + 4096 - 1024; });
    }
    // Plays the current file up to `seconds` of it (at 2x within 20 ms).
    bool playTo(double seconds) {
        const double speed = audio().enableRate() ? double(audio().rate()) : 1.0;
        if (!advance(std::llround((seconds - audio().currentTime()) * kRate / speed)))
            return false;
        const double within = speed == 1.0 ? 1e-6 : 0.02;
        return QTest::qWaitFor([&] { return std::abs(audio().currentTime() - seconds) < within; });
    }
    // 0.1 s pass on the device and the clock; then the fade's timer fires.
    bool fadeStep() {
        if (!advance(kStep))
            return false;
        clock += 0.1;
        return !app.playback.fadeTimer ||
               QMetaObject::invokeMethod(app.playback.fadeTimer.get(), "timeout");
    }
    // The stop of the sleep timer: the clock passes its end and a tick runs.
    void elapse(double seconds) {
        clock += seconds;
        app.sleepTick();
    }
    QString button() const { return app.views.playButton->title(); }
};

// ---- crossfade ----------------------------------------------------------------

struct FadeCase {
    const char* name;
    double left = 5.0;                     // seconds of file left when the check runs
    std::function<void(Rig&)> before = {}; // before track 1 starts
    std::function<void(Rig&)> setUp = {};  // while it plays, before the check
    qint64 playing = 1;
    QList<qint64> visible{1, 2};
    QList<qint64> radio{};
    double length = 0;   // the fade's length; 0: no fade
    bool gaveUp = false; // `crossSkipped` marks the playing track
    QList<qint64> radioAfter{};
    bool mix = true; // the recording is checked (1x only)
};

void bitPerfect(Rig& r) {
    r.app.playback.bitPerfect = true;
}

// clang-format off
const std::vector<FadeCase>& fadeCases() {
    static const std::vector<FadeCase> cases{
        {.name = "13 s track, 5 s left: a 5 s fade", .length = 5.0},
        {.name = "13 s track, 5.5 s left: not yet", .left = 5.5},
        {.name = "a 12.0 s track never fades", .left = 3.0, .playing = 4, .visible = {4, 2}},
        {.name = "0.3 s left at the first eligible tick: a 0.5 s fade", .left = 0.3, .length = 0.5},
        {.name = "the radio's successor leaves the queue with the unknown ids before it",
         .visible = {1, 3}, .radio = {99, 2, 3}, .length = 5.0, .radioAfter = {3}},
        {.name = "an armed gapless successor is cancelled first: one new voice", .left = 4.0,
         .setUp = [](Rig& r) {
             r.app.listening.crossfadeOn = false;
             r.app.gaplessCheck();
             QVERIFY(r.app.playback.queued);
             r.app.listening.crossfadeOn = true;
         }, .length = 4.0},
        {.name = "bit-perfect: no fade", .setUp = bitPerfect},
        {.name = "maximum quality: no fade", .setUp = [](Rig& r) { r.app.playback.maxQuality = true; }},
        {.name = "repeat on: no fade", .setUp = [](Rig& r) { r.app.playback.repeatOn = true; }},
        {.name = "at 2x, 5 track-seconds left: a 5 s fade",
         .before = [](Rig& r) { r.app.playback.playRate = 2.0; }, .length = 5.0, .mix = false},
        {.name = "at 2x, 5.5 track-seconds left: not yet", .left = 5.5,
         .before = [](Rig& r) { r.app.playback.playRate = 2.0; }},
        {.name = "only the successor needs processing: gives up",
         .setUp = [](Rig& r) {
             // The first question is about the playing track.
             r.app.seams.fxSignature = [n = 0]() mutable {
                 return ++n > 1 ? std::optional<QString>("eq") : std::nullopt;
             };
         }, .gaveUp = true},
        {.name = "the chosen device refuses the new player: gives up",
         .setUp = [](Rig& r) { r.app.playback.outputUID = QStringLiteral("usb:gone"); },
         .gaveUp = true},
        {.name = "no other track: gives up", .visible = {1}, .gaveUp = true},
    };
    return cases;
}
// clang-format on

// The recorded level (left channel) at a frame.
double recordedAt(const Rig& r, std::int64_t frame) {
    const std::vector<double> got = r.sink->recordedDouble();
    return std::size_t(2 * frame) < got.size() ? got[std::size_t(2 * frame)] : -1.0;
}

// ---- sleep timer ----------------------------------------------------------------

struct SleepCase {
    const char* name;
    std::function<void(Rig&)> act;
    QString face;
    QString status;
    double factor = 1.0;
    bool playing = true;
    bool english = false;
};

constexpr double kTimer = 15 * 60;
const QString kIdleFace = QStringLiteral("😴 수면 타이머");
const QString kStopped = QStringLiteral("😴 수면 타이머로 멈췄습니다.");
const QString kChosen = QStringLiteral("😴 15분 뒤 서서히 줄이며 멈춥니다.");

// clang-format off
const std::vector<SleepCase>& sleepCases() {
    static const std::vector<SleepCase> cases{
        {"15 minutes: the message, then the face after one tick",
         [](Rig& r) { r.app.sleepChanged(1); r.elapse(0.5); }, "😴 15분 남음", kChosen},
        {"61 s left: 2 minutes", [](Rig& r) { r.app.sleepChanged(1); r.elapse(kTimer - 61); },
         "😴 2분 남음", kChosen},
        {"60 s left: 1 minute", [](Rig& r) { r.app.sleepChanged(1); r.elapse(kTimer - 60); },
         "😴 1분 남음", kChosen},
        {"29 s left: the fade", [](Rig& r) { r.app.sleepChanged(1); r.elapse(kTimer - 29); },
         "😴 1분 남음", kChosen, 29.0 / 30.0},
        {"at zero: paused", [](Rig& r) { r.app.sleepChanged(1); r.elapse(kTimer); },
         kIdleFace, kStopped, 1.0, false},
        {"at zero during a crossfade: the fade ends, the new track pauses",
         [](Rig& r) {
             r.app.sleepChanged(1);
             QVERIFY(r.playTo(8.0));
             r.app.crossfadeCheck();
             QVERIFY(r.app.playback.fadingOut);
             r.elapse(kTimer);
             QVERIFY(!r.app.playback.fadingOut && !r.app.playback.fadeTimer);
             QCOMPARE(r.currentId(), 2);
         }, kIdleFace, kStopped, 1.0, false},
        {"at zero with an armed successor: it is cancelled",
         [](Rig& r) {
             r.app.sleepChanged(2);
             r.app.listening.crossfadeOn = false;
             QVERIFY(r.playTo(10.0));
             r.app.gaplessCheck();
             QVERIFY(r.app.playback.queued);
             r.elapse(30 * 60);
             QVERIFY(!r.app.playback.queued);
         }, kIdleFace, kStopped, 1.0, false},
        {"at zero with nothing playing: the message",
         [](Rig& r) { r.app.play(r.track(1)); r.app.toggle(); r.app.sleepChanged(4); r.elapse(90 * 60); },
         kIdleFace, kStopped, 1.0, false},
        {"off in the last 30 s: full volume at once",
         [](Rig& r) { r.app.sleepChanged(3); r.elapse(60 * 60 - 10); r.app.sleepChanged(5); },
         kIdleFace, "수면 타이머를 껐습니다."},
        {"the face item changes nothing",
         [](Rig& r) { r.app.sleepChanged(0); r.elapse(kTimer); QVERIFY(!r.app.playback.sleepEnd); },
         "", "(before)"},
        {"English: the face after each tick",
         [](Rig& r) { r.app.sleepChanged(1); r.elapse(0.5); }, "😴 15 min left",
         "😴 15 minutes from now, the music fades out and stops.", 1.0, true, true},
    };
    return cases;
}
// clang-format on

// ---- loudness ----------------------------------------------------------------

// The stub's folder: "args" (the last run's arguments, one a line),
// "peaks" (one line per run: how many ran at its start), "stderr" (what
// it writes to standard error).
QString stubDir() {
    return tempFile(QStringLiteral("stub-ffmpeg"));
}

QString stubFfmpeg() {
    const QByteArray dir = stubDir().toUtf8();
    return script(QStringLiteral("stub-ffmpeg.sh"),
                  "d='" + dir +
                      "'\nmkdir -p \"$d/on\"; : > \"$d/on/$$\"\n"
                      "ls \"$d/on\" | wc -l >> \"$d/peaks\"\n"
                      "printf '%s\\n' \"$@\" > \"$d/args\"\nsleep 0.2\n"
                      "cat \"$d/stderr\" >&2; rm \"$d/on/$$\"\n");
}

QList<int> stubPeaks() {
    QList<int> peaks;
    const QString path = stubDir() + "/peaks";
    const QByteArray text = QFile::exists(path) ? test::readFile(path) : QByteArray();
    for (const QByteArray& line : text.split('\n'))
        if (!line.trimmed().isEmpty())
            peaks << line.trimmed().toInt();
    return peaks;
}

const QByteArray kSummary = "  Integrated loudness:\n    I:         -30.0 LUFS\n"
                            "[Parsed_ebur128_0] Summary:\n  Integrated loudness:\n"
                            "    I:         -6.0 LUFS\n    Threshold: -16.0 LUFS\n";

struct LoudCase {
    const char* name;
    QByteArray meter;              // the stub's standard error; empty: the real ffmpeg
    std::function<void(Rig&)> act; // leveling is on, track 1 plays
    QHash<qint64, double> stored;  // by track id, within 0.3 LU
    int runs = 1;                  // stub runs
    float volume = 1.0f;           // track 1's player afterwards
};

Track generated(Rig& r, qint64 id, const test::AudioShape& shape) {
    const QString path = tempFile(QStringLiteral("gen-%1.wav").arg(id));
    if (!test::writeAudio(path, shape))
        qFatal("cannot write %s", qPrintable(path));
    r.add(id, path);
    return r.track(id);
}

bool measured(Rig& r) {
    return QTest::qWaitFor([&] { return r.app.playback.loudPending.isEmpty(); }, 30000);
}

const double kGain6 = 0.31622776; // leveling -6 LUFS down to -16

// clang-format off
const std::vector<LoudCase>& loudCases() {
    static const std::vector<LoudCase> cases{
        {"the last I: line wins, and the current track's volume follows", kSummary,
         [](Rig& r) { r.app.ensureLoudness(r.track(1)); }, {{1, -6.0}}, 1, float(kGain6)},
        {"-70.0 is not stored", "    I:         -70.0 LUFS\n",
         [](Rig& r) { r.app.ensureLoudness(r.track(1)); }, {}},
        {"-69.9 is stored", "    I:         -69.9 LUFS\n",
         [](Rig& r) { r.app.ensureLoudness(r.track(1)); }, {{1, -69.9}}},
        {"no match: pending ends, a later start measures again", "I: n/a\n",
         [](Rig& r) {
             r.app.ensureLoudness(r.track(1));
             QVERIFY(measured(r));
             r.app.ensureLoudness(r.track(1));
         }, {}, 2},
        {"leveling off: no process", kSummary,
         [](Rig& r) { r.app.listening.levelingOn = false; r.app.ensureLoudness(r.track(1)); }, {}, 0},
        {"two quick starts of one track: one process", kSummary,
         [](Rig& r) { r.app.ensureLoudness(r.track(2)); r.app.ensureLoudness(r.track(2)); },
         {{2, -6.0}}},
        {"a track no longer current: stored, the playing volume untouched", kSummary,
         [](Rig& r) { r.app.ensureLoudness(r.track(3)); }, {{3, -6.0}}},
        {"ten tracks at once: never more than two measured at a time", "I: n/a\n",
         [](Rig& r) {
             for (qint64 id = 10; id < 20; ++id) {
                 r.add(id, tempFile(QStringLiteral("many-%1.wav").arg(id)));
                 r.app.ensureLoudness(r.track(id));
             }
         }, {}, 10},
        {"real ffmpeg: a -20 dBFS 1 kHz stereo sine is -20 LUFS", {},
         [](Rig& r) {
             r.app.ensureLoudness(generated(r, 30, {.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24,
                 .frames = 10 * kRate, .signal = test::Signal::Sine, .amplitude = 0.1}));
         }, {{30, -20.0}}, 0},
        {"real ffmpeg: digital silence stores nothing", {},
         [](Rig& r) {
             r.app.ensureLoudness(generated(r, 31, {.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                 .frames = 10 * kRate, .signal = test::Signal::Sine, .amplitude = 0.0}));
         }, {}, 0},
    };
    return cases;
}
// clang-format on

} // namespace

class FadesTest : public QObject {
    Q_OBJECT
private slots:
    void crossfade_data() { addRows(fadeCases()); }
    void crossfade() {
        const FadeCase& c = test::currentCase(fadeCases());
        Rig r;
        r.show(c.visible);
        if (c.before)
            c.before(r);
        QVERIFY(r.start(c.playing));
        QVERIFY(r.playTo(r.audio().duration() - c.left));
        r.app.listening.radioQueue = c.radio;
        if (c.setUp)
            c.setUp(r);
        const std::int64_t fadeFrom = r.played;

        r.app.crossfadeCheck();

        PlaybackState& p = r.app.playback;
        if (c.length == 0) {
            QCOMPARE(r.currentId(), c.playing);
            QVERIFY(!p.fadingOut && !p.fadeTimer);
            QCOMPARE(p.crossSkipped, c.gaveUp ? c.playing : kNone);
            QCOMPARE(r.app.listening.radioQueue, c.radio);
            return;
        }
        QCOMPARE(r.currentId(), 2);
        QVERIFY(p.fadingOut && p.fadeTimer && !p.queued);
        QCOMPARE(p.history.last(), 1);
        QCOMPARE(r.audio().volume(), 0.0f);
        QCOMPARE(r.app.listening.radioQueue, c.radioAfter);

        // Each step: the progress, and 1.5 steps later on the device (past the
        // buffer and the gain ramp) the mix of the two gains of that step.
        const int steps = int(std::ceil(c.length / 0.1 - 1e-9)) + 5;
        const double oldEnds = c.left * kRate;
        const auto mixAt = [&](double progress, std::int64_t frame) {
            const double old = frame - fadeFrom < oldEnds ? 0.5 * (1 - progress) : 0.0;
            return old + 0.25 * progress;
        };
        std::vector<double> progressAt{0.0};
        for (int k = 1; k <= steps; ++k) {
            QVERIFY(r.fadeStep());
            progressAt.push_back(std::min(1.0, k * 0.1 / c.length));
            QVERIFY(std::abs(p.fadeProgress - progressAt.back()) < 1e-9);
        }
        QVERIFY(r.advance(2 * kStep));
        for (int k = 1; c.mix && k <= steps; ++k) {
            const std::int64_t probe = fadeFrom + k * kStep + kStep * 3 / 2;
            const double got = recordedAt(r, probe),
                         want = mixAt(progressAt[std::size_t(k)], probe);
            QVERIFY2(std::abs(got - want) <= 0.25 * 0.1 / c.length + 1e-3,
                     qPrintable(QString("step %1: %2, not %3").arg(k).arg(got).arg(want)));
        }
        QCOMPARE(p.fadeProgress, 1.0);
        QVERIFY(!p.fadingOut && !p.fadeTimer);
        QCOMPARE(r.currentId(), 2);
        QCOMPARE(r.audio().volume(), r.app.effVol());
        QVERIFY(r.requests == QList<qint64>{c.playing});
    }

    void sleepTimer_data() { addRows(sleepCases()); }
    void sleepTimer() {
        const SleepCase& c = test::currentCase(sleepCases());
        Rig r;
        if (c.english)
            L10n::setLanguage("en");
        r.app.status->setStringValue(QStringLiteral("(before)"));
        QVERIFY(r.start(1));

        c.act(r);

        QCOMPARE(r.app.sleepPopup->text(), c.face);
        QCOMPARE(r.app.status->stringValue(), c.status);
        QVERIFY(std::abs(r.app.playback.sleepFactor - c.factor) < 1e-9);
        QCOMPARE(r.app.isPlaying(), c.playing);
        QCOMPARE(r.audio().volume(), r.app.effVol());
        if (!c.playing)
            QCOMPARE(r.button(), QStringLiteral("▶ 재생"));
    }

    // A stop while a slow decode prepares the track: it never starts, and
    // play/pause starts it afresh.
    void sleepStopAbandonsPreparation() {
        Rig r;
        const QString hold = tempFile(QStringLiteral("hold-decode"));
        QVERIFY(test::writeFile(hold, "1"));
        const QString ffmpeg = script(QStringLiteral("held-ffmpeg.sh"),
                                      "for out; do :; done\nif [ -e '" + hold.toUtf8() +
                                          "' ]; then printf partial > \"$out\"; exec sleep 60; "
                                          "fi\nexec ffmpeg \"$@\"\n");
        r.app.seams.decodeProgram = [ffmpeg] { return ffmpeg; };
        const QString m4a = tempFile(QStringLiteral("sleep.m4a"));
        QVERIFY(test::runFfmpeg({"-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=2", "-ac",
                                 "2", "-c:a", "aac", m4a}));
        r.add(9, m4a);
        r.app.play(r.track(9));
        QPointer<QProcess> decoder = r.app.playback.decoder;
        QVERIFY(decoder && r.app.playback.loading);

        r.app.sleepChanged(1);
        r.elapse(kTimer);

        QVERIFY(!r.app.playback.loading);
        QCOMPARE(r.button(), QStringLiteral("▶ 재생"));
        QVERIFY(QTest::qWaitFor([&] { return decoder.isNull(); }, 10000));
        QTest::qWait(100);
        QVERIFY(!r.app.playback.audio && !r.app.isPlaying());

        QFile::remove(hold);
        r.app.toggle();
        QVERIFY(QTest::qWaitFor([&] { return r.app.isPlaying(); }, 20000));
        QCOMPARE(r.currentId(), 9);
    }

    void loudness_data() { addRows(loudCases()); }
    void loudness() {
        const LoudCase& c = test::currentCase(loudCases());
        QDir(stubDir()).removeRecursively();
        QVERIFY(test::writeFile(stubDir() + "/stderr", c.meter));
        Rig r;
        QVERIFY(r.start(1));
        r.app.listening.levelingOn = true;
        if (!c.meter.isEmpty()) {
            const QString stub = stubFfmpeg();
            r.app.seams.loudnessProgram = [stub] { return stub; };
        }

        c.act(r);

        QVERIFY(measured(r));
        QCOMPARE(r.app.playback.loud.size(), c.stored.size());
        for (auto it = c.stored.begin(); it != c.stored.end(); ++it)
            QVERIFY(std::abs(r.app.playback.loud.value(r.track(it.key()).path) - it.value()) < 0.3);
        QCOMPARE(r.app.playback.loudDirty, !c.stored.isEmpty());
        QVERIFY(std::abs(r.audio().volume() - c.volume) < 1e-5);
        if (c.meter.isEmpty())
            return;
        const QList<int> peaks = stubPeaks();
        QCOMPARE(peaks.size(), c.runs);
        QVERIFY(peaks.isEmpty() || *std::max_element(peaks.begin(), peaks.end()) <= 2);
        if (c.runs == 1)
            QCOMPARE(test::readFile(stubDir() + "/args"),
                     "-nostats\n-hide_banner\n-i\nfile:" +
                         r.app.playback.loud.keys().value(0, r.track(1).path).toUtf8() +
                         "\n-filter:a\nebur128=framelog=verbose\n-f\nnull\n-\n");

        // The 20th tick writes "loudness.json" only after a change.
        const QString file = r.app.core.store.filePath(QString::fromLatin1(stores::kLoudness));
        r.app.seams.tickStep = [](const char*) { return true; };
        r.app.core.ticks = 19;
        r.app.extrasTick();
        QVERIFY(!QFile::exists(file));
        r.app.core.ticks = 20;
        r.app.extrasTick();
        QCOMPARE(QFile::exists(file), !c.stored.isEmpty());
        QFile::remove(file);
        r.app.core.ticks = 40;
        r.app.extrasTick();
        QVERIFY(!QFile::exists(file));
    }
};

QL_TEST_MAIN(FadesTest)
#include "FadesTest.moc"
