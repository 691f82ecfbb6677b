// Guards against: a wrong successor armed, or one armed when it must not be.
// The arming rules of the gapless successor, driven through the real check
// on a playing player on the simulated two-device rig (GaplessRig.h): which
// track is armed or given up, the player opened ahead when no join is armed,
// a file with no samples next, the user's moves after the arming, and a
// device that refuses or changes while a successor is armed.
#include "CaseRows.h"
#include "GaplessRig.h"

using namespace ql;
using namespace ql::test::gapless;
using test::addRows;
using test::tempFile;

namespace {

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
        QVERIFY(QTest::qWaitFor([&] { return !r.app.playback.loading; }, kWaitMs));
        QTest::qWait(500); // an end that would ask for the next track

        QCOMPARE(r.requests, (QList<qint64>{8, 7}));
        QCOMPARE(r.currentId(), std::optional<qint64>(7));
        QVERIFY(!r.app.isPlaying());
        QCOMPARE(r.app.status->stringValue(),
                 QStringLiteral("파일을 재생할 수 없습니다. 디스크 연결과 포맷을 확인하세요."));
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
};

QL_TEST_MAIN(GaplessTest)
#include "GaplessTest.moc"
