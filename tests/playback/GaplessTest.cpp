// Guards against: a wrong successor armed, or one armed when it must not be.
// The arming rules of the gapless successor, driven through the real check
// on a playing player on the simulated two-device rig (GaplessRig.h): which
// track is armed or given up, the user's moves after the arming, and a
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
