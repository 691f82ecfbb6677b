// Guards against: a gap, overlap or wrong successor at a gapless join.
// Gapless joins heard on the simulated two-device rig (GaplessRig.h): the
// join plays two files that are halves of one 24-bit ramp, in order from the
// visible list: every frame is one step above the one before, so the
// recording shows any zero, repeated or dropped frame at the join. Also a
// successor chosen late, and one chosen a second before the end.
#include "CaseRows.h"
#include "GaplessRig.h"
#include "SoundStage.h"

using namespace ql;
using namespace ql::test::gapless;
using test::addRows;
using test::tempFile;

namespace {

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

} // namespace

class GaplessJoinTest : public QObject {
    Q_OBJECT
private slots:
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
            [&] { return ahead && ahead->source == r.track(3).path && !ahead->running; }, kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(r.queuedId(), std::optional<qint64>(3), kWaitMs);

        // The device plays on in steps, as a real one does, into the chosen
        // track; there the look ahead at the track after it (the list
        // wrapping round to the first) has answered before the device
        // plays on to its end, which asks for it.
        const auto playOn = [&r](const std::function<bool()>& until) {
            for (int step = 0; step < 200 && !until(); ++step) {
                r.analogB->advance(kRate / 10);
                QTest::qWait(20);
            }
        };
        playOn([&r] { return r.currentId() == std::optional<qint64>(3); });
        QCOMPARE(r.currentId(), std::optional<qint64>(3));
        QVERIFY(r.lookAheadAnswered());
        playOn([&r] { return r.analogB->framesWritten() >= total + kRate; });
        QTRY_COMPARE_WITH_TIMEOUT(r.requests.size(), 2, kWaitMs);
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
        QTRY_COMPARE_WITH_TIMEOUT(r.currentId(), std::optional<qint64>(2), kWaitMs);
        QCOMPARE(r.requests, QList<qint64>{1});
        QCOMPARE(p.history.last(), 1);
        QVERIFY(p.fadeTimer);
        QCOMPARE(p.playedSecs, 0.0);
        QVERIFY(!p.counted && !p.abA && !p.abB);
        QCOMPARE(p.crossSkipped, kNone);
        QCOMPARE(p.gaplessSkipped, kNone);
        QVERIFY(r.audio().path() == r.track(2).path);
        p.fadeTimer.reset();

        // The look ahead at the track after it (the list wraps round to the
        // first) answers before the device plays into the last seconds, so
        // that the end asks for that track rather than join it.
        QVERIFY(r.lookAheadAnswered());
        r.analogB->advance(split);
        QTRY_COMPARE_WITH_TIMEOUT(r.requests.size(), 2, kWaitMs);
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

QL_TEST_MAIN(GaplessJoinTest)
#include "GaplessJoinTest.moc"
