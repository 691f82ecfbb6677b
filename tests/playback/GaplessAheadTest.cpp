// Guards against: a track end that waits on a file it could have opened ahead, or
// plays on past a file that cannot be played.
// With no gapless join armed, what the end of the playing track asks for on
// the simulated two-device rig (GaplessRig.h): the file opened ahead by the
// tick's check and taken by the request, and a file with no samples next.
#include "CaseRows.h"
#include "GaplessRig.h"

using namespace ql;
using namespace ql::test::gapless;
using test::addRows;
using test::tempFile;

namespace {

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

} // namespace

class GaplessAheadTest : public QObject {
    Q_OBJECT
private slots:
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
};

QL_TEST_MAIN(GaplessAheadTest)
#include "GaplessAheadTest.moc"
