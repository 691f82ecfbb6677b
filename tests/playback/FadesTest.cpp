// Guards against: wrong gains in a crossfade.
// The crossfade on the simulated device (manual clock) with a driven
// monotonic clock (FadesRig.h): when it starts, how long it lasts, and the
// mix heard at each of its steps.
#include "CaseRows.h"
#include "FadesRig.h"

using namespace ql;
using namespace ql::test::fades;
using test::tempFile;

namespace {

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
};

QL_TEST_MAIN(FadesTest)
#include "FadesTest.moc"
