// Guards against: a wrong sleep fade, and a wrong loudness measure.
// The sleep timer and the loudness measurement on the simulated device
// (manual clock) with a driven monotonic clock (FadesRig.h).
#include "CaseRows.h"
#include "FadesRig.h"

using namespace ql;
using namespace ql::test::fades;
using test::tempFile;

namespace {

// clang-format off
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

class SleepLoudnessTest : public QObject {
    Q_OBJECT
private slots:
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

QL_TEST_MAIN(SleepLoudnessTest)
#include "SleepLoudnessTest.moc"
