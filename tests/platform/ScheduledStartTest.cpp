// Guards against: a scheduled start off its frame; a gap or overlap at a gapless join; a join
// that stalls playback after a stream that runs past the length assumed for it.
// Starting a player at a time on the device's clock: the gapless join of two
// files that are halves of one continuous ramp, a start away from any other
// player, and a scheduled start taken back before it happens.
//
// Every sample of the ramp is a different 24-bit value, one step above the
// one before, so the recording shows any zero, repeated or dropped frame.
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/PcmStream.h"
#include "platform/audio/Resampler.h"
#include "platform/audio/TimeStretch.h"

#include "PlayerRig.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <sndfile.h>

using namespace ql;
using namespace ql::platform;
using test::physical;
using test::PlayerRig;

namespace {

constexpr int kRate = 44100;
using test::ramp;

QString writeRamp(const QString& name, std::int64_t from, std::int64_t to) {
    const QString path = test::tempFile(name);
    if (!test::writeSamples(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, ramp(from, to)))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Two players on the default device of a manual-clock rig: `a` on frames
// [0, split) of the ramp, `b` on [split, total).
struct Pair {
    PlayerRig rig{SimClock::Manual, physical(kRate, 24, false, 4)};
    std::unique_ptr<AudioPlayer> a, b;
    test::Finishes endsA, endsB;

    Pair(std::int64_t split, std::int64_t total)
        : a(rig.open(writeRamp("a.wav", 0, split))), b(rig.open(writeRamp("b.wav", split, total))),
          endsA(*a), endsB(*b) {}

    // Starts `a`; true once the device holds its first 4096 frames.
    bool playFirst() {
        return a->play() && QTest::qWaitFor([this] { return rig.b->framesWritten() == 4096; });
    }
    // The device time at which `a` ends, as its owner computes it.
    double endOfFirst() const { return a->deviceCurrentTime() + a->duration() - a->currentTime(); }
};

// The first frame where `got` differs from `want`, or -1.
std::int64_t firstDifference(const std::vector<std::int32_t>& got,
                             const std::vector<std::int32_t>& want) {
    const std::size_t n = std::min(got.size(), want.size());
    for (std::size_t i = 0; i < n; ++i)
        if (got[i] != want[i])
            return std::int64_t(i / 2);
    return got.size() == want.size() ? -1 : std::int64_t(n / 2);
}

// A 3 kHz sine at -6 dBFS in 24 bits, frames [from, to) of it.
test::Samples sine(std::int64_t from, std::int64_t to) {
    test::Samples s{kRate, 2, {}};
    for (std::int64_t f = from; f < to; ++f) {
        const double v = 0.5 * std::sin(2 * M_PI * 3000 * double(f) / kRate);
        const auto q = std::int32_t(std::llround(v * 8388607.0)) * 256;
        s.data.insert(s.data.end(), {q, q});
    }
    return s;
}

// `x` (stereo) through a rate converter or stretcher in blocks, then what it
// holds flushed out.
template <typename Stage> std::vector<double> through(Stage&& stage, const std::vector<double>& x) {
    constexpr std::size_t kBlock = 4096;
    std::vector<double> out, part(2 * stage.maxOutput(kBlock));
    for (std::size_t f = 0, n = 1; f < x.size() / 2 || n > 0;) {
        const bool more = f < x.size() / 2;
        const auto step = stage.process(more ? x.data() + 2 * f : nullptr,
                                        more ? std::min(kBlock, x.size() / 2 - f) : 0, part.data(),
                                        part.size() / 2);
        out.insert(out.end(), part.begin(), part.begin() + 2 * std::ptrdiff_t(step.produced));
        f += step.consumed;
        n = more ? 1 : step.produced;
    }
    return out;
}

// `in` (stereo at kRate) through the stages a player uses at `speed` on a
// 48 kHz stream, in one pass: what the recording should be.
std::vector<double> convertedWhole(const std::vector<std::int32_t>& in, double speed) {
    std::vector<double> x(in.size());
    std::transform(in.begin(), in.end(), x.begin(),
                   [](std::int32_t v) { return v / 2147483648.0; });
    return through(Resampler(kRate, 48000, 2),
                   speed == 1.0 ? x : through(TimeStretch(kRate, 2, speed, 4096), x));
}

// Where a recording `got` is off `want` (a length more than 4 frames
// apart, or a sample more than -120 dBFS off), with the stream frame of the
// join; empty when it is not.
QString offTheWhole(const std::vector<double>& got, const std::vector<double>& want,
                    double joinFrame) {
    if (std::abs(double(got.size()) - double(want.size())) > 4)
        return QString("%1 frames, not %2").arg(got.size() / 2).arg(want.size() / 2);
    std::vector<double> error(std::min(got.size(), want.size()));
    for (std::size_t i = 0; i < error.size(); ++i)
        error[i] = std::abs(got[i] - want[i]);
    const auto worst = std::max_element(error.begin(), error.end());
    if (worst == error.end() || 20 * std::log10(std::max(*worst, 1e-300)) < -120)
        return {};
    return QString("error %1 dBFS at frame %2 (join at %3)")
        .arg(20 * std::log10(*worst))
        .arg((worst - error.begin()) / 2)
        .arg(joinFrame);
}

} // namespace

class ScheduledStartTest : public QObject {
    Q_OBJECT
private slots:
    // An offline render converts the channels side by side: not one sample may differ from
    // the one-thread conversion a player makes.
    void resamplerThreadsChangeNoSample() {
        std::vector<double> x;
        for (const std::int32_t v : sine(0, kRate).data)
            x.push_back(v / 2147483648.0 * (x.size() % 2 ? -0.5 : 1.0)); // channels unalike
        const std::vector<double> one = through(Resampler(kRate, 4 * kRate, 2), x);
        QVERIFY(one.size() > 7 * x.size() / 2);
        QVERIFY(through(Resampler(kRate, 4 * kRate, 2, 2), x) == one);
    }

    // The second half asked to start at the first one's end — on time, or
    // up to 30 ms off either way — follows its last frame exactly. It is
    // asked for the way the player's owner does it: the device clock plus
    // the time left, read while the first half plays.
    void gaplessJoin_data() {
        QTest::addColumn<double>("firstSeconds");
        QTest::addColumn<double>("secondSeconds");
        QTest::addColumn<double>("askedBeforeEnd"); // seconds before the first's end
        QTest::addColumn<double>("offsetMs");
        QTest::newRow("halves, on time") << 6.0 << 6.0 << 6.0 << 0.0;
        QTest::newRow("halves, 30 ms early") << 6.0 << 6.0 << 6.0 << -30.0;
        QTest::newRow("halves, 30 ms late") << 6.0 << 6.0 << 6.0 << 30.0;
        QTest::newRow("halves, asked 2 s before the end") << 6.0 << 6.0 << 2.0 << 0.0;
        QTest::newRow("halves, asked 2 s before, 30 ms early") << 6.0 << 6.0 << 2.0 << -30.0;
        QTest::newRow("halves, asked 2 s before, 30 ms late") << 6.0 << 6.0 << 2.0 << 30.0;
        QTest::newRow("different lengths, on time") << 4.30001 << 7.69999 << 1.5 << 0.0;
        QTest::newRow("different lengths, 30 ms early") << 4.30001 << 7.69999 << 1.5 << -30.0;
        QTest::newRow("different lengths, 30 ms late") << 4.30001 << 7.69999 << 1.5 << 30.0;
        QTest::newRow("short then long, 30 ms late") << 0.7 << 6.0 << 0.7 << 30.0;
    }
    void gaplessJoin() {
        QFETCH(double, firstSeconds);
        QFETCH(double, secondSeconds);
        QFETCH(double, askedBeforeEnd);
        QFETCH(double, offsetMs);
        const auto split = std::int64_t(std::llround(firstSeconds * kRate));
        const auto total = split + std::int64_t(std::llround(secondSeconds * kRate));
        Pair p(split, total);
        QVERIFY(p.playFirst());
        // Let the device play up to the moment of asking.
        const auto played = split - std::int64_t(std::llround(askedBeforeEnd * kRate));
        p.rig.b->advance(played);
        QTRY_COMPARE(p.a->deviceCurrentTime(), double(played) / kRate);

        const double left = p.a->duration() - p.a->currentTime();
        QVERIFY2(std::abs(left - askedBeforeEnd) < 1e-6, qPrintable(QString::number(left)));
        QVERIFY(p.b->prepareToPlay());
        QVERIFY(p.b->playAt(p.endOfFirst() + offsetMs / 1000));
        QVERIFY(p.b->isPlaying());
        QCOMPARE(p.b->currentTime(), 0.0);
        p.rig.b->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(p.endsB.results, QList<bool>{true}, 30000);
        QCOMPARE(p.endsA.results, QList<bool>{true});

        const std::vector<std::int32_t> got = p.rig.b->recordedInt32();
        const std::int64_t at = firstDifference(got, ramp(0, total).data);
        QVERIFY2(at < 0, qPrintable(QString("recording of %1 frames differs from frame %2 "
                                            "(join at %3)")
                                        .arg(got.size() / 2)
                                        .arg(at)
                                        .arg(split)));
    }

    // Two halves of one sine at 44.1 kHz joined on a 48 kHz stream (split
    // off any block boundary): the second continues the first's converter
    // and stretcher, so the recording is the whole signal converted in one
    // pass, not two conversions padded with silence at the join. A second
    // half taken back before the end leaves the first one whole.
    void convertedJoinIsTheWholeConverted_data() {
        QTest::addColumn<double>("speed");
        QTest::addColumn<bool>("takenBack");
        QTest::newRow("speed 1") << 1.0 << false;
        QTest::newRow("speed 1.25") << 1.25 << false;
        QTest::newRow("speed 1, the second taken back") << 1.0 << true;
    }
    void convertedJoinIsTheWholeConverted() {
        QFETCH(double, speed);
        QFETCH(bool, takenBack);
        const std::int64_t split = 3 * kRate + 777, total = 6 * kRate;
        PlayerRig rig(SimClock::Manual, physical(48000, 32, true, 4));
        const QString pa = test::tempFile("sa.wav"), pb = test::tempFile("sb.wav");
        QVERIFY(test::writeSamples(pa, SF_FORMAT_WAV | SF_FORMAT_PCM_24, sine(0, split)));
        QVERIFY(test::writeSamples(pb, SF_FORMAT_WAV | SF_FORMAT_PCM_24, sine(split, total)));
        auto a = rig.open(pa), b = rig.open(pb);
        QVERIFY(a && b);
        test::Finishes endsA(*a), endsB(*b);
        for (auto* p : {a.get(), b.get()}) {
            p->setEnableRate(true);
            p->setRate(float(speed));
        }
        QVERIFY(a->play());
        QVERIFY(QTest::qWaitFor([&] { return rig.b->framesWritten() == 4096; }));
        rig.b->advance(48000);
        QTRY_COMPARE(a->deviceCurrentTime(), 1.0);
        QVERIFY(b->prepareToPlay());
        QVERIFY(b->playAt(a->deviceCurrentTime() + (a->duration() - a->currentTime()) / speed));
        if (takenBack)
            b->stop();
        rig.b->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(endsA.results, QList<bool>{true}, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(endsB.results, takenBack ? QList<bool>{} : QList<bool>{true},
                                  30000);

        const QString off = offTheWhole(
            rig.b->recordedDouble(), convertedWhole(sine(0, takenBack ? split : total).data, speed),
            double(split) / speed * 48000 / kRate);
        QVERIFY2(off.isEmpty(), qPrintable(off));
    }

    // A stream whose end comes later than the length assumed for it (or
    // sooner), joined by a file armed at the assumed end before the stream's
    // decoder found the real one: the whole stream is heard, then the file,
    // on a 44.1 kHz device as they are, on a 48 kHz one converted as one.
    // Converted, a stream longer than that by more than the tail its
    // converter keeps once stalled the device for good at the assumed end,
    // neither voice ever ending; as they are, the file came in over the
    // stream's last part, or after a gap.
    void joinAfterAStreamOffItsEstimate_data() {
        QTest::addColumn<double>("deviceRate");
        QTest::addColumn<double>("streamSeconds");
        QTest::addColumn<double>("askedBeforeEnd"); // seconds before the assumed end
        QTest::newRow("converted, 1.5 s longer, armed 4 s before") << 48000.0 << 31.5 << 4.0;
        QTest::newRow("converted, 1.5 s longer, armed 6 s before") << 48000.0 << 31.5 << 6.0;
        QTest::newRow("converted, 0.1 s longer") << 48000.0 << 30.1 << 4.0;
        QTest::newRow("converted, 1 s shorter") << 48000.0 << 29.0 << 6.0;
        QTest::newRow("as it is, 1.5 s longer") << double(kRate) << 31.5 << 4.0;
        QTest::newRow("as it is, 0.1 s longer") << double(kRate) << 30.1 << 4.0;
        QTest::newRow("as it is, 1 s shorter") << double(kRate) << 29.0 << 6.0;
    }
    void joinAfterAStreamOffItsEstimate() {
        QFETCH(double, deviceRate);
        QFETCH(double, streamSeconds);
        QFETCH(double, askedBeforeEnd);
        const auto split = std::int64_t(std::llround(streamSeconds * kRate));
        const std::int64_t total = split + 2 * kRate;
        // The stream's decoder: a stand-in for ffmpeg that hands over the
        // first part of the sine as the floats ffmpeg would write.
        QByteArray raw;
        for (const std::int32_t v : sine(0, split).data) {
            const auto f = float(v / 2147483648.0);
            raw.append(reinterpret_cast<const char*>(&f), sizeof f);
        }
        const QString pcm = test::tempFile("stream.f32"), ffmpeg = test::tempFile("ffmpeg");
        QVERIFY(test::writeFile(pcm, raw));
        QVERIFY(test::writeExecutable(ffmpeg, "exec cat '" + pcm.toUtf8() + "'\n"));
        auto stream = PcmStream::start(ffmpeg, QUrl("http://127.0.0.1:9/clip"));
        QVERIFY2(stream.stream, qPrintable(stream.error));

        PlayerRig rig(SimClock::Manual, physical(deviceRate, 32, true, 4));
        const QString pb = test::tempFile("next.wav");
        QVERIFY(test::writeSamples(pb, SF_FORMAT_WAV | SF_FORMAT_PCM_24, sine(split, total)));
        auto a = std::move(AudioPlayer::openStream(*rig.platform.outputs, stream.stream).player);
        auto b = rig.open(pb);
        QVERIFY(a && b);
        test::Finishes endsA(*a), endsB(*b);
        QVERIFY(a->play());
        QTRY_COMPARE_WITH_TIMEOUT(rig.b->framesWritten(), std::int64_t(4096), 30000);
        const auto asked =
            std::int64_t(std::llround((PcmStream::kEstimateSeconds - askedBeforeEnd) * deviceRate));
        rig.b->advance(asked);
        QTRY_COMPARE_WITH_TIMEOUT(a->deviceCurrentTime(), double(asked) / deviceRate, 30000);
        // The decoder has not reached the stream's end yet: its owner arms
        // the next player at the end of the length assumed.
        QCOMPARE(a->duration(), PcmStream::kEstimateSeconds);
        QVERIFY(b->prepareToPlay());
        QVERIFY(b->playAt(a->deviceCurrentTime() + a->duration() - a->currentTime()));
        rig.b->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(endsA.results, QList<bool>{true}, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(endsB.results, QList<bool>{true}, 30000);

        const std::vector<std::int32_t> whole = sine(0, total).data;
        std::vector<double> want(whole.size());
        std::transform(whole.begin(), whole.end(), want.begin(),
                       [](std::int32_t v) { return v / 2147483648.0; });
        if (deviceRate != kRate)
            want = convertedWhole(whole, 1.0);
        const QString off =
            offTheWhole(rig.b->recordedDouble(), want, double(split) * deviceRate / kRate);
        QVERIFY2(off.isEmpty(), qPrintable(off));
    }

    // Away from the end of any other player the start lands on the asked
    // frame of the device's clock: after silence on an idle device, or
    // after a gap that was asked for.
    void startOnTheAskedFrame_data() {
        QTest::addColumn<bool>("afterAnother");
        QTest::addColumn<double>("delay");     // seconds after now, or after the other's end
        QTest::addColumn<bool>("joinedFirst"); // armed at the other's end and paused before
        QTest::newRow("idle device, half a second ahead") << false << 0.5 << false;
        QTest::newRow("idle device, a time already past") << false << -3.0 << false;
        QTest::newRow("200 ms after another's end: a 200 ms gap") << true << 0.2 << false;
        QTest::newRow("60 ms after another's end: just outside the join") << true << 0.06 << false;
        QTest::newRow("200 ms after another's end, armed at its end first") << true << 0.2 << true;
    }
    void startOnTheAskedFrame() {
        QFETCH(bool, afterAnother);
        QFETCH(double, delay);
        QFETCH(bool, joinedFirst);
        const std::int64_t n = kRate; // one second each
        Pair p(n, 2 * n);
        std::vector<std::int32_t> want;
        double at = delay;
        if (afterAnother) {
            QVERIFY(p.playFirst());
            at = p.endOfFirst() + delay;
            want = ramp(0, n).data;
        }
        const auto silence = std::max<std::int64_t>(std::llround(at * kRate) - n * afterAnother, 0);
        want.insert(want.end(), std::size_t(2 * silence), 0);
        const auto heard = ramp(n, 2 * n).data;
        want.insert(want.end(), heard.begin(), heard.end());

        if (joinedFirst) {
            QVERIFY(p.b->playAt(p.endOfFirst()));
            p.b->pause();
        }
        QVERIFY(p.b->playAt(at));
        p.rig.b->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(p.endsB.results, QList<bool>{true}, 30000);
        const std::vector<std::int32_t> got = p.rig.b->recordedInt32();
        const std::int64_t diff = firstDifference(got, want);
        QVERIFY2(diff < 0, qPrintable(QString("%1 frames recorded, %2 wanted, differ from %3")
                                          .arg(got.size() / 2)
                                          .arg(want.size() / 2)
                                          .arg(diff)));
    }

    // Paused or stopped before its start, a scheduled player is never heard
    // and never reports an end; the player it was to follow is unaffected.
    void takenBackBeforeItStarts_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("stopped") << "stop";
        QTest::newRow("paused") << "pause";
    }
    void takenBackBeforeItStarts() {
        QFETCH(QString, how);
        const std::int64_t n = kRate;
        Pair p(n, 2 * n);
        QVERIFY(p.playFirst());
        QVERIFY(p.b->playAt(p.endOfFirst()));
        if (how == "stop")
            p.b->stop();
        else
            p.b->pause();
        QVERIFY(!p.b->isPlaying());
        p.rig.b->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(p.endsA.results, QList<bool>{true}, 30000);
        QTest::qWait(100);
        QVERIFY(p.rig.b->recordedInt32() == ramp(0, n).data);
        QCOMPARE(p.endsB.results, QList<bool>{});
        QCOMPARE(p.b->currentTime(), 0.0);
        // Played later, it starts at once from its beginning.
        QVERIFY(p.b->play());
        QTRY_COMPARE_WITH_TIMEOUT(p.endsB.results, QList<bool>{true}, 30000);
        QCOMPARE(std::int64_t(p.rig.b->recordedInt32().size()), 4 * n);
    }

    // A device that goes away ends a player waiting for its start as well as
    // the one playing: neither is left "playing" on a dead device.
    void lostDeviceEndsAWaitingPlayer() {
        const std::int64_t n = kRate;
        Pair p(n, 2 * n);
        p.rig.b->loseAfterFrames = 10000;
        QVERIFY(p.playFirst());
        QVERIFY(p.b->playAt(p.endOfFirst()));
        p.rig.b->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(p.endsA.results, QList<bool>{false}, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(p.endsB.results, QList<bool>{false}, 30000);
        QVERIFY(!p.a->isPlaying());
        QVERIFY(!p.b->isPlaying());
    }
};

QL_TEST_MAIN_CORE(ScheduledStartTest)
#include "ScheduledStartTest.moc"
