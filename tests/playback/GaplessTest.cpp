// Guards against: a gap, overlap or wrong successor at a gapless join.
// The gapless successor on the simulated two-device rig, with generated
// files and manual clocks: nothing plays unless a test advances the device.
//
// The arming rules are driven through the real check on a playing player.
// The join plays two files that are halves of one 24-bit ramp, in order from
// the visible list: every frame is one step above the one before, so the
// recording shows any zero, repeated or dropped frame at the join.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "OpenSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "SoundStage.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TrackIds.h"

#include <QComboBox>
#include <QDir>
#include <QTimer>

#include <sndfile.h>

#include <functional>

using namespace ql;
using test::tempFile;
using namespace ql::platform;
using test::addRows;

namespace {

constexpr int kRate = 44100;
using test::kRampStep;
using test::ramp;

enum class Codec { Wav, Alac, PipedFlac };

// A span of the ramp as a 24-bit WAV, or encoded from it by ffmpeg to
// 24-bit ALAC in .m4a, or to a FLAC written through a pipe (no stored length).
QString writeRamp(const QString& name, std::int64_t from, std::int64_t to, int rate = kRate,
                  Codec codec = Codec::Wav) {
    const QString path = tempFile(name);
    if (!test::writeSamples(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, ramp(from, to, rate)))
        qFatal("cannot write %s", qPrintable(path));
    if (codec == Codec::Wav)
        return path;
    const bool alac = codec == Codec::Alac;
    const QString encoded = path + (alac ? ".m4a" : ".flac");
    if (!(alac ? test::runFfmpeg({"-i", path, "-c:a", "alac", "-sample_fmt", "s32p", encoded})
               : test::pipedFlac(path, encoded)))
        qFatal("cannot encode %s", qPrintable(path));
    return encoded;
}

// Both devices at 44.1 kHz, 24 bits in 4 bytes, each with a recording sink on
// the manual clock.
struct Rig : test::TrackIds<Rig> {
    std::shared_ptr<SimSinkControl> dacA =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20);
    std::shared_ptr<SimSinkControl> analogB =
        std::make_shared<SimSinkControl>(SimClock::Manual, 64 << 20);
    test::RiggedApp rig{
        devices(), SimOutputs{SimClock::Manual, {{test::kDacA, dacA}, {test::kAnalogB, analogB}}}};
    App& app = rig.app;
    QList<qint64> requests; // play requests, in order

    Rig() {
        UserDefaults().clear();
        test::fakes(app).observer.playRequest = [this](const Track& t) { requests << t.id; };
    }
    static SimRig devices() {
        SimRig rig = test::twoOutputs();
        const PhysicalFormat format{double(kRate), 24, false, 2, 8, true};
        for (SimDevice& d : rig.devices) {
            d.nominalRate = kRate;
            d.nominalRates = {{double(kRate), double(kRate)}}; // nothing to upsample to
            d.outputStreams[0].format = format;
            d.outputStreams[0].available.push_back(format);
        }
        return rig;
    }
    AudioPlayer& audio() const { return *app.playback.audio; }
    std::optional<qint64> queuedId() const {
        return app.playback.preparedAs(PreparedNext::Kind::Scheduled)
                   ? std::optional(app.playback.prepared->track.id)
                   : std::nullopt;
    }
    // Plays `id` from the list, the device holding its first frames, once
    // the look ahead at the next track has answered.
    bool start(qint64 id) {
        const bool taken = test::playTaken(app, track(id));
        const std::optional<DecodeAheadEntry>& ahead = app.playback.decodeAhead;
        return taken && app.playback.audio && app.isPlaying() &&
               QTest::qWaitFor([this] { return analogB->framesWritten() >= 4096; }) &&
               QTest::qWaitFor([&ahead] { return !ahead || !ahead->running; });
    }
    // What a tick does before its checks: the look ahead aimed at the
    // successor as it stands now; then waits until its job has answered.
    bool lookAhead() {
        app.aimLookAhead();
        const std::optional<DecodeAheadEntry>& ahead = app.playback.decodeAhead;
        return QTest::qWaitFor([&ahead] { return !ahead || !ahead->running; }, 30000);
    }
    // Lets the device play the current file up to `seconds` of it (device
    // frames are source frames divided by the speed) and waits until the
    // player has heard them; at 1x to the frame, else within 20 ms.
    bool playTo(double seconds) {
        const double speed = audio().enableRate() ? double(audio().rate()) : 1.0;
        const double from = audio().currentTime();
        analogB->advance(std::llround((seconds - from) * kRate / speed));
        const double within = speed == 1.0 ? 1e-6 : 0.02;
        return QTest::qWaitFor([&] { return std::abs(audio().currentTime() - seconds) < within; });
    }
};

// Tracks of the arming table: 1 plays (10 s); 2 (6 s) follows it in the
// list; 3 lasts 5 s; 5 is 6 s at 44102 Hz; 6 does not open; 7 holds no
// samples.
void addGateTracks(Rig& r) {
    r.add(1, writeRamp("g1.wav", 0, 10 * kRate));
    r.add(2, writeRamp("g2.wav", 0, 6 * kRate));
    r.add(3, writeRamp("g3.wav", 0, 5 * kRate));
    r.add(5, writeRamp("g5.wav", 0, 6 * 44102, 44102));
    if (!test::writeFile(tempFile("g6.wav"), "not audio"))
        qFatal("cannot write g6.wav");
    r.add(6, tempFile("g6.wav"));
    r.add(7, writeRamp("g7.wav", 0, 0));
}

// How a successor comes to be chosen after the track started.
enum class Late { Radio, Shuffle, CatalogLands };
struct LateCase {
    const char* name;
    Late how;
    QList<qint64> shownFirst;
};
const std::vector<LateCase> lateCases{
    {"the radio chooses it", Late::Radio, {1, 2}},
    {"a shuffle press makes it the next one", Late::Shuffle, {1, 2}},
    {"the catalog lands on a first run", Late::CatalogLands, {1}},
};

constexpr qint64 kNone = -1;

struct GateCase {
    const char* name;
    qint64 playing = 1;
    double left = 3.0;                     // seconds of file left when the check runs
    std::function<void(Rig&)> before = {}; // applied before the track starts
    std::function<void(Rig&)> setUp = {};  // applied while it plays, before the check
    QList<qint64> visible{1, 2};
    QList<qint64> radio{};
    qint64 armed = kNone; // the armed successor
    bool gaveUp = false;  // the track is marked as given up
    QList<qint64> radioAfter{};
};

void bitPerfect(Rig& r) {
    r.app.playback.bitPerfect = true;
    r.app.playback.maxQuality = false;
}

// clang-format off
const std::vector<GateCase> gateCases{
    {.name = "4.0 s left: armed", .left = 4.0, .armed = 2},
    {.name = "at 1x, 7 s of file: not yet", .left = 7.0},
    {.name = "at 2x, 7 s of file is 3.5 s: armed", .left = 7.0,
     .before = [](Rig& r) { r.app.playback.playRate = 2.0; }, .armed = 2},
    {.name = "a track of 5.0 s never arms", .playing = 3, .visible = {3, 2}},
    {.name = "paused", .setUp = [](Rig& r) { r.audio().pause(); }},
    {.name = "loading", .setUp = [](Rig& r) { r.app.playback.loading = true; }},
    {.name = "repeat on", .setUp = [](Rig& r) { r.app.playback.repeatOn = true; }},
    {.name = "gapless off", .setUp = [](Rig& r) { r.app.playback.gaplessOn = false; }},
    {.name = "crossfade in effect",
     .setUp = [](Rig& r) { r.app.listening.crossfadeOn = true; r.app.playback.maxQuality = false; }},
    {.name = "crossfade switched on but maximum quality: armed",
     .setUp = [](Rig& r) { r.app.listening.crossfadeOn = true; }, .armed = 2},
    {.name = "the current track needs effects",
     .setUp = [](Rig& r) { test::fakes(r.app).analysers.fxSignature = [] { return QString("eq"); }; }},
    {.name = "the give-up mark stops retries",
     .setUp = [](Rig& r) { r.app.playback.gaplessSkipped = 1; }, .gaveUp = true},
    {.name = "only the current track visible: gives up", .visible = {1}, .gaveUp = true},
    {.name = "the successor does not open: gives up", .visible = {1, 6}, .gaveUp = true},
    {.name = "the successor holds no samples: gives up", .visible = {1, 7}, .gaveUp = true},
    {.name = "bit-perfect, successor 2 Hz away: refused",
     .before = bitPerfect, .visible = {1, 5}, .gaveUp = true},
    {.name = "outside bit-perfect another rate is armed", .visible = {1, 5}, .armed = 5},
    {.name = "the radio's successor leaves the queue with the unknown ids before it",
     .radio = {99, 3, 2}, .armed = 3, .radioAfter = {2}},
    {.name = "a successor from the list leaves unknown radio ids",
     .radio = {99}, .armed = 2, .radioAfter = {99}},
};
// clang-format on

// The file a play request at the end will start, opened ahead by the tick's
// check when no gapless join or crossfade makes the transition, and what
// the request then does with it.
struct AheadCase {
    const char* name;
    double left = 3.0;
    std::function<void(Rig&)> setUp = {};
    qint64 opened = kNone;    // whose file is open ahead
    qint64 requested = kNone; // the play request that follows
    bool taken = false;       // that request plays on the player opened ahead
};

void gaplessOff(Rig& r) {
    r.app.playback.gaplessOn = false;
}

// clang-format off
const std::vector<AheadCase> aheadCases{
    {.name = "gapless off: the next track, taken by its request",
     .setUp = gaplessOff, .opened = 2, .requested = 2, .taken = true},
    {.name = "repeat on: the same track, taken by its replay",
     .setUp = [](Rig& r) { r.app.playback.repeatOn = true; }, .opened = 1, .requested = 1,
     .taken = true},
    {.name = "a request for another track lets it go",
     .setUp = gaplessOff, .opened = 2, .requested = 3},
    {.name = "7 s left: not yet", .left = 7.0, .setUp = gaplessOff},
    {.name = "armed gaplessly: nothing more to open"},
    {.name = "crossfade in effect",
     .setUp = [](Rig& r) { gaplessOff(r); r.app.listening.crossfadeOn = true;
                           r.app.playback.maxQuality = false; }},
    {.name = "crossfade on but repeat: no fade, the same track",
     .setUp = [](Rig& r) { r.app.listening.crossfadeOn = true; r.app.playback.maxQuality = false;
                           r.app.playback.repeatOn = true; },
     .opened = 1, .requested = 1, .taken = true},
    {.name = "the next track plays a render",
     .setUp = [](Rig& r) { gaplessOff(r);
         test::fakes(r.app).analysers.fxSignature = [] { return QString("eq"); }; }},
};
// clang-format on

// A file with no samples after the playing track: whatever would make the
// transition, the end's play request stops on it with the message for a
// file that cannot be played, and the track after it is not asked for.
struct EmptyNextCase {
    const char* name;
    std::function<void(Rig&)> setUp;
};
const std::vector<EmptyNextCase> emptyNextCases{
    {"gapless on", [](Rig&) {}},
    {"gapless off", gaplessOff},
    {"crossfade on",
     [](Rig& r) {
         r.app.listening.crossfadeOn = true;
         r.app.playback.maxQuality = false;
     }},
};

// What a move of the user after the arming does to it.
struct CancelCase {
    const char* name;
    std::function<void(App&)> act;
};

const std::vector<CancelCase> cancelCases{
    {"a seek", [](App& app) { app.setAudioTime(1.0), app.seekChanged(); }},
    {"a pause", [](App& app) { app.toggle(); }},
    {"a speed change",
     [](App& app) {
         app.ratePopup->addItems({"0.5x", "0.75x"});
         app.ratePopup->setCurrentIndex(1);
         app.rateChanged();
     }},
};

// The join: halves of one ramp (6 s each) as tracks 1 and 2.
struct JoinCase {
    const char* name;
    bool bitPerfect;
    QList<qint64> visible;
    QList<qint64> radio;
    qint64 afterSecond; // the request after the second half ends (the radio track never again)
};

const std::vector<JoinCase> joinCases{
    {"from the list", false, {1, 2}, {}, 1},
    {"from the list, bit-perfect", true, {1, 2}, {}, 1},
    {"ALAC halves from the list, bit-perfect", true, {1, 2}, {}, 1},
    {"FLAC halves written through a pipe (no stored length), bit-perfect", true, {1, 2}, {}, 1},
    {"from the radio behind an unknown id: the second half plays once", false, {1, 3}, {99, 2}, 1},
};

// The first frame where the left channel does not rise by one ramp step
// (scaled by `gain`) from the frame before, or -1.
std::int64_t firstBreak(const std::vector<double>& got, std::int64_t frames, double gain) {
    const double step = gain * double(kRampStep) / 2147483648.0;
    for (std::int64_t f = 1; f < frames; ++f) {
        const double d = got[std::size_t(2 * f)] - got[std::size_t(2 * f - 2)];
        if (std::abs(d - step) > step / 4)
            return f;
    }
    return -1;
}

} // namespace

class GaplessTest : public QObject {
    Q_OBJECT
private slots:
    void arming_data() { addRows(gateCases); }
    void arming() {
        const GateCase& c = test::currentCase(gateCases);
        Rig r;
        addGateTracks(r);
        r.show(c.visible);
        if (c.before)
            c.before(r);
        QVERIFY(r.start(c.playing));
        QVERIFY(r.playTo(r.audio().duration() - c.left));
        r.app.listening.radioQueue = c.radio;
        if (c.setUp)
            c.setUp(r);
        QVERIFY(r.lookAhead());

        QVERIFY(test::gaplessCheckOpened(r.app));

        QCOMPARE(r.queuedId(), c.armed == kNone ? std::nullopt : std::optional(c.armed));
        QCOMPARE(r.app.playback.gaplessSkipped, c.gaveUp ? c.playing : kNone);
        QCOMPARE(r.app.listening.radioQueue, c.radioAfter);
        if (r.app.playback.preparedAs(PreparedNext::Kind::Scheduled)) {
            const PreparedNext& q = *r.app.playback.prepared;
            QCOMPARE(q.fromRadio, !c.radio.isEmpty() && c.radioAfter != c.radio);
            QVERIFY(q.player->isPlaying());
            QCOMPARE(q.player->currentTime(), 0.0);
            QCOMPARE(q.player->enableRate(), r.app.playback.playRate != 1.0);
            // Armed once: another tick changes nothing.
            const AudioPlayer* armed = q.player.get();
            r.app.gaplessCheck();
            QCOMPARE(r.app.playback.prepared->player.get(), armed);
        }
    }

    void openingAhead_data() { addRows(aheadCases); }
    void openingAhead() {
        const AheadCase& c = test::currentCase(aheadCases);
        Rig r;
        addGateTracks(r);
        r.show({1, 2, 3});
        QVERIFY(r.start(1));
        QVERIFY(r.playTo(r.audio().duration() - c.left));
        if (c.setUp)
            c.setUp(r);
        QVERIFY(r.lookAhead());

        QVERIFY(test::gaplessCheckOpened(r.app));
        QVERIFY(test::openAheadOpened(r.app));

        const PreparedNext* ahead = r.app.playback.preparedAs(PreparedNext::Kind::OpenedAhead);
        QCOMPARE(ahead ? ahead->track.id : kNone, c.opened);
        if (!ahead)
            return;
        const AudioPlayer* opened = ahead->player.get();
        QVERIFY(!opened->isPlaying());
        // Opened once: another tick changes nothing.
        r.app.openAhead();
        QCOMPARE(r.app.playback.prepared->player.get(), opened);

        QVERIFY(test::playTaken(r.app, r.track(c.requested)));
        QVERIFY(!r.app.playback.prepared);
        QCOMPARE(r.app.playback.audio.get() == opened, c.taken);
        QVERIFY(r.app.isPlaying());
        QCOMPARE(r.audio().currentTime(), 0.0);
    }

    void aFileWithNoSamplesNextStopsThere_data() { addRows(emptyNextCases); }
    void aFileWithNoSamplesNextStopsThere() {
        const EmptyNextCase& c = test::currentCase(emptyNextCases);
        L10n::setLanguage("ko");
        Rig r;
        addGateTracks(r);
        r.add(8, writeRamp("long.wav", 0, 13 * kRate)); // long enough to fade out
        r.show({8, 7, 2});
        c.setUp(r);
        QVERIFY(r.start(8));
        QVERIFY(r.playTo(r.audio().duration() - 3.0));
        // The tick's checks, then the device plays on to the end and beyond.
        QVERIFY(test::checkOnceOpened(r.app, [&r] { r.app.crossfadeCheck(); }));
        QVERIFY(test::gaplessCheckOpened(r.app));
        QVERIFY(test::openAheadOpened(r.app));
        for (int step = 0; step < 100 && !(r.requests.contains(7) && !r.app.playback.loading);
             ++step) {
            r.analogB->advance(kRate / 10);
            QTest::qWait(20);
        }
        QVERIFY(QTest::qWaitFor([&] { return !r.app.playback.loading; }, 30000));
        QTest::qWait(500); // an end that would ask for the next track

        QCOMPARE(r.requests, (QList<qint64>{8, 7}));
        QCOMPARE(r.currentId(), std::optional<qint64>(7));
        QVERIFY(!r.app.isPlaying());
        QCOMPARE(r.app.status->stringValue(),
                 QStringLiteral("파일을 재생할 수 없습니다. 디스크 연결과 포맷을 확인하세요."));
    }

    // A successor chosen after the track started (the look ahead was aimed
    // at another one), an MP3 whose length cannot be trusted: the gapless
    // check does not arm its file, which fails at its first read, but waits
    // for its decode, begun as soon as the successor is known, and joins
    // that: no request, no silence at the join.
    void aLateSuccessorOnlyTheDecodeRoadReadsJoins_data() { addRows(lateCases); }
    void aLateSuccessorOnlyTheDecodeRoadReadsJoins() {
        const LateCase& c = test::currentCase(lateCases);
        Rig r;
        addGateTracks(r);
        const QString mp3 = tempFile("no-length.mp3");
        QVERIFY(QFile::exists(mp3) || test::writeMp3(mp3, true, true, false));
        r.add(9, mp3);
        r.show(c.shownFirst);
        r.app.library.listAwaited = c.how == Late::CatalogLands;
        QVERIFY(r.start(1));
        QVERIFY(r.playTo(4.0));
        QVERIFY(!r.app.playback.decodeAhead || r.app.playback.decodeAhead->source != mp3);
        if (c.how == Late::Radio)
            r.app.listening.radioQueue = {9};
        else if (c.how == Late::CatalogLands)
            r.show({1, 9}), r.app.library.listAwaited = false;
        for (int press = 0; c.how == Late::Shuffle && press < 100 && r.app.peekNext()->id != 9;
             ++press)
            r.app.toggleShuffle();
        QCOMPARE(r.app.peekNext()->id, qint64(9)); // the premise

        // The next tick looks at it, well before the arming window.
        r.app.extrasTick();
        QVERIFY(r.app.playback.decodeAhead);
        QCOMPARE(r.app.playback.decodeAhead->source, mp3);
        QVERIFY(r.lookAhead());
        QVERIFY(r.app.playback.decodeAhead->file);
        // Without its decode (let go here), the check does not arm its own
        // file but looks again.
        QVERIFY(r.playTo(7.0));
        r.app.dropDecodeAhead();
        r.app.gaplessCheck();
        QCOMPARE(r.queuedId(), std::nullopt);
        QVERIFY(r.lookAhead());
        QVERIFY(test::gaplessCheckOpened(r.app));
        QCOMPARE(r.queuedId(), std::optional<qint64>(9));
        QVERIFY(r.app.playback.prepared->file);
        const QString decodedAhead = *r.app.playback.prepared->file;

        const std::int64_t joinAt = 10 * kRate;
        for (int step = 0; step < 100 && r.analogB->framesWritten() < joinAt + 2 * kRate; ++step) {
            r.analogB->advance(kRate / 10);
            QTest::qWait(20);
        }
        QCOMPARE(r.currentId(), std::optional<qint64>(9));
        QCOMPARE(r.requests, QList<qint64>{1});
        // The decode made ahead joined: nothing was decoded at the join.
        QCOMPARE(*r.app.playback.cacheURL, decodedAhead);
        QCOMPARE(r.audio().path(), decodedAhead);
        // No run of exact zeros around the join longer than the MP3's own
        // encoder and decoder delay (about 37 ms).
        const std::vector<double> heard = r.analogB->recordedDouble();
        const std::vector<double> join(heard.begin() + 2 * (joinAt - kRate / 2),
                                       heard.begin() + 2 * (joinAt + 3 * kRate / 2));
        for (const test::Stretch& s : test::stretchesOf(join, kRate / 20))
            QVERIFY2(!s.silent,
                     qPrintable(QString("%1 ms of silence").arg(s.frames * 1000 / kRate)));
    }

    // "다음에 재생" a second before the end: the last tick inside the arming
    // window came before the choice and the next one comes past its edge, so
    // only the answer of the chosen track's look ahead is left to arm it. It
    // follows the first track to the frame, without a request.
    void playNextASecondBeforeTheEndJoins() {
        const std::int64_t split = 6 * kRate, total = 2 * split;
        Rig r;
        r.app.listening.levelingOn = false; // a measurement landing would move the gain
        r.add(1, writeRamp("first.wav", 0, split));
        r.add(2, writeRamp("other.wav", 0, split));
        r.add(3, writeRamp("second.wav", split, total));
        r.show({1, 2, 3});
        QVERIFY(r.start(1));
        QVERIFY(r.playTo(4.0));
        r.app.gaplessCheck();
        QCOMPARE(r.queuedId(), std::optional<qint64>(2));
        QVERIFY(r.playTo(5.0));

        test::pressTrackRow(r.app, 2);
        r.app.menuPlayNext();
        const std::optional<DecodeAheadEntry>& ahead = r.app.playback.decodeAhead;
        QVERIFY(QTest::qWaitFor(
            [&] { return ahead && ahead->source == r.track(3).path && !ahead->running; }, 30000));
        QTRY_COMPARE_WITH_TIMEOUT(r.queuedId(), std::optional<qint64>(3), 30000);

        // The device plays on in steps, as a real one does.
        for (int step = 0; step < 200 && r.analogB->framesWritten() < total + kRate; ++step) {
            r.analogB->advance(kRate / 10);
            QTest::qWait(20);
        }
        QTRY_COMPARE_WITH_TIMEOUT(r.requests.size(), 2, 30000);
        QCOMPARE(r.requests.first(), qint64(1));
        // Half a second either side of the join: every frame one ramp step
        // above the one before (the gain read where it starts, as the
        // device's volume settles once in the first seconds).
        const std::vector<double> got = r.analogB->recordedDouble();
        QVERIFY(std::int64_t(got.size()) >= 2 * total);
        const std::int64_t from = split - kRate / 2;
        const std::vector<double> join(got.begin() + 2 * from,
                                       got.begin() + 2 * (split + kRate / 2));
        const double gain = join[0] / (-1.0 + double(from) * double(kRampStep) / 2147483648.0);
        const std::int64_t at = firstBreak(join, kRate, gain);
        QVERIFY2(
            at < 0,
            qPrintable(QString("the ramp breaks %1 frames after the join").arg(at - kRate / 2)));
    }

    void movesAfterArmingCancelIt_data() { addRows(cancelCases); }
    void movesAfterArmingCancelIt() {
        const CancelCase& c = test::currentCase(cancelCases);
        Rig r;
        addGateTracks(r);
        r.show({1, 2});
        QVERIFY(r.start(1));
        QVERIFY(r.playTo(7.0));
        r.app.listening.radioQueue = {99, 3, 2};
        QVERIFY(r.lookAhead());
        QVERIFY(test::gaplessCheckOpened(r.app));
        QCOMPARE(r.queuedId(), std::optional<qint64>(3));
        const AudioPlayer* armed = r.app.playback.prepared->player.get();
        QVERIFY(armed->isPlaying());

        c.act(r.app);

        QVERIFY(!r.app.playback.prepared);
        QCOMPARE(r.app.listening.radioQueue, (QList<qint64>{3, 2}));
    }

    void deviceTroubleAroundTheArming_data() {
        QTest::addColumn<bool>("gone"); // DAC A chosen but gone, or chosen while armed
        QTest::newRow("refused successor: the ordinary road plays it") << true;
        QTest::newRow("another device while armed: it arms there, Analog B quiet") << false;
    }
    void deviceTroubleAroundTheArming() {
        QFETCH(bool, gone);
        Rig r;
        addGateTracks(r);
        r.show({1, 2});
        r.app.playback.outputUID = gone ? std::optional(test::kDacA) : std::nullopt;
        QVERIFY(!gone || r.rig.hw().unplug(test::kDacA));
        QVERIFY(r.start(1));
        QVERIFY(r.playTo(7.0));
        QVERIFY(test::gaplessCheckOpened(r.app));
        if (!gone) { // armed on Analog B, then DAC A picked as the user does
            r.app.refreshDevicePopup();
            r.app.devicePopup->setCurrentIndex(1);
            r.app.deviceChosen();
            QVERIFY(test::gaplessCheckOpened(r.app));
            QCOMPARE(r.app.playback.prepared->player->outputDevice(), test::kDacA);
        }
        QCOMPARE(r.queuedId(), gone ? std::nullopt : std::optional<qint64>(2));
        QCOMPARE(r.app.playback.gaplessSkipped, gone ? 1 : kNone);

        // Both devices keep time, as real ones do.
        const std::int64_t quietFrom = r.analogB->framesWritten();
        for (int step = 0; step < 60 && (r.currentId() != 2 || r.audio().currentTime() < 0.5);
             ++step) {
            r.analogB->advance(kRate / 10);
            r.dacA->advance(kRate / 10);
            QTest::qWait(20);
        }
        QCOMPARE(r.currentId(), std::optional<qint64>(2));
        QCOMPARE(r.requests.contains(2), gone); // the ordinary road, or the promotion
        QCOMPARE(r.audio().outputDevice(), gone ? QString() : test::kDacA);
        QCOMPARE(r.analogB->framesWritten() == quietFrom, !gone);
    }

    void sampleExactJoin_data() { addRows(joinCases); }
    void sampleExactJoin() {
        const JoinCase& c = test::currentCase(joinCases);
        const std::int64_t split = 6 * kRate, total = 2 * split;
        Rig r;
        const Codec codec = QByteArray(c.name).contains("ALAC")   ? Codec::Alac
                            : QByteArray(c.name).contains("pipe") ? Codec::PipedFlac
                                                                  : Codec::Wav;
        r.add(1, writeRamp("first.wav", 0, split, kRate, codec));
        r.add(2, writeRamp("second.wav", split, total, kRate, codec));
        r.add(3, writeRamp("other.wav", 0, split));
        r.show(c.visible);
        r.app.listening.radioQueue = c.radio;
        if (c.bitPerfect)
            bitPerfect(r);
        QVERIFY(r.start(1));
        QVERIFY(r.playTo(4.0));
        QVERIFY(test::gaplessCheckOpened(r.app));
        QCOMPARE(r.queuedId(), std::optional<qint64>(2));

        // A crossfade running at the hand-over and per-track marks of the
        // outgoing track: the take-over resets the marks, keeps the fade.
        PlaybackState& p = r.app.playback;
        p.fadeTimer = std::make_unique<QTimer>();
        p.playedSecs = 30;
        p.counted = true;
        p.abA = 1.0;
        p.abB = 2.0;
        p.crossSkipped = 1;
        r.analogB->advance(2 * kRate + 1000);
        QTRY_COMPARE_WITH_TIMEOUT(r.currentId(), std::optional<qint64>(2), 30000);
        QCOMPARE(r.requests, QList<qint64>{1});
        QCOMPARE(p.history.last(), 1);
        QVERIFY(p.fadeTimer);
        QCOMPARE(p.playedSecs, 0.0);
        QVERIFY(!p.counted && !p.abA && !p.abB);
        QCOMPARE(p.crossSkipped, kNone);
        QCOMPARE(p.gaplessSkipped, kNone);
        QVERIFY(r.audio().path() == r.track(2).path);
        p.fadeTimer.reset();

        r.analogB->advance(split);
        QTRY_COMPARE_WITH_TIMEOUT(r.requests.size(), 2, 30000);
        QCOMPARE(r.requests.last(), c.afterSecond);
        QVERIFY(r.app.listening.radioQueue.isEmpty());

        const std::vector<double> got = r.analogB->recordedDouble();
        QVERIFY(std::int64_t(got.size()) >= 2 * total);
        const double gain = got[0] / -1.0;
        const std::int64_t at = firstBreak(got, total, gain);
        QVERIFY2(
            at < 0,
            qPrintable(QString("the ramp breaks at frame %1 (join at %2)").arg(at).arg(split)));
        if (c.bitPerfect) {
            std::vector<std::int32_t> exact = r.analogB->recordedInt32();
            exact.resize(std::size_t(2 * total));
            QVERIFY(exact == ramp(0, total).data);
        }
    }
};

QL_TEST_MAIN(GaplessTest)
#include "GaplessTest.moc"
