// Guards against: a simulated sink that records other than what it was sent.
#include "platform/sim/SimSink.h"
#include "platform/audio/SampleCodec.h"

#include "TestHome.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace ql::platform;

namespace {

const StreamFormat kStereo16{48000, SampleFormat::S16, 2};

std::vector<unsigned char> frames(std::int64_t n, const StreamFormat& f = kStereo16) {
    return std::vector<unsigned char>(std::size_t(n * f.bytesPerFrame()), 0x11);
}

} // namespace

class SimSinkTest : public QObject {
    Q_OBJECT
private slots:
    // The manual clock plays exactly what the test hands out.
    void manualClock() {
        auto control = std::make_shared<SimSinkControl>(SimClock::Manual, 0, 4096);
        SimSink sink(control);
        QString error;
        QVERIFY(sink.open(kStereo16, error));
        const auto data = frames(5000);
        QCOMPARE(sink.write(data.data(), 5000), std::int64_t(4096)); // only what fits
        SinkReport r = sink.report();
        QCOMPARE(r.queuedFrames, std::int64_t(4096));
        QCOMPARE(r.freeFrames, std::int64_t(0));
        QCOMPARE(r.delay, 4096.0 / 48000);
        QVERIFY(r.running);

        control->advance(1000);
        r = sink.report();
        QCOMPARE(r.queuedFrames, std::int64_t(3096));
        QCOMPARE(r.freeFrames, std::int64_t(1000));

        sink.pause(true); // frames handed out while paused wait
        control->advance(500);
        r = sink.report();
        QCOMPARE(r.queuedFrames, std::int64_t(3096));
        QVERIFY(!r.running);
        sink.pause(false);
        r = sink.report();
        QCOMPARE(r.queuedFrames, std::int64_t(2596));

        control->advance(10000); // more than queued: the rest waits for frames
        QCOMPARE(sink.report().queuedFrames, std::int64_t(0));
        QCOMPARE(sink.write(data.data(), 100), std::int64_t(100));
        QCOMPARE(sink.report().queuedFrames, std::int64_t(0));
    }

    void failureSwitches_data() {
        QTest::addColumn<bool>("failOpen");
        QTest::addColumn<std::int64_t>("loseAfter");
        QTest::addColumn<std::int64_t>("firstWrite");
        QTest::addColumn<std::int64_t>("secondWrite");
        QTest::newRow("healthy") << false << std::int64_t(-1) << std::int64_t(3000)
                                 << std::int64_t(3000);
        QTest::newRow("lost mid-write: takes the rest, then gone")
            << false << std::int64_t(4000) << std::int64_t(3000) << std::int64_t(1000);
        QTest::newRow("lost at once")
            << false << std::int64_t(0) << std::int64_t(-1) << std::int64_t(-1);
        QTest::newRow("cannot open")
            << true << std::int64_t(-1) << std::int64_t(0) << std::int64_t(0);
    }
    void failureSwitches() {
        QFETCH(bool, failOpen);
        QFETCH(std::int64_t, loseAfter);
        QFETCH(std::int64_t, firstWrite);
        QFETCH(std::int64_t, secondWrite);
        auto control = std::make_shared<SimSinkControl>(SimClock::Untimed, 0, 8192);
        control->failOpen = failOpen;
        control->loseAfterFrames = loseAfter;
        SimSink sink(control);
        QString error;
        QCOMPARE(sink.open(kStereo16, error), !failOpen);
        QCOMPARE(error.isEmpty(), !failOpen);
        const auto data = frames(3000);
        QCOMPARE(sink.write(data.data(), 3000), firstWrite);
        QCOMPARE(sink.write(data.data(), 3000), secondWrite);
        if (loseAfter > 0)
            QCOMPARE(sink.write(data.data(), 3000), std::int64_t(-1));
    }

    // A real-time stream that plays its queue out and is then fed again, or
    // has its queue dropped, counts a dropout: a gap heard inside the sound,
    // whether or not anyone looked in between. Silence before a stream's
    // first frame, or before a pause, is no gap in the sound.
    void dropoutsAreGapsInsideTheSound_data() {
        QTest::addColumn<int>("between"); // 0 nothing, 1 a pause and resume, 2 a drop
        QTest::addColumn<bool>("queued"); // the sound before the wait
        QTest::addColumn<std::int64_t>("dropouts");
        QTest::newRow("run out, then fed") << 0 << true << std::int64_t(1);
        QTest::newRow("run out, paused, resumed, then fed") << 1 << true << std::int64_t(0);
        QTest::newRow("run out, then dropped") << 2 << true << std::int64_t(1);
        QTest::newRow("nothing before the stream's first frames") << 0 << false << std::int64_t(0);
    }
    void dropoutsAreGapsInsideTheSound() {
        QFETCH(int, between);
        QFETCH(bool, queued);
        QFETCH(std::int64_t, dropouts);
        auto control = std::make_shared<SimSinkControl>(SimClock::RealTime, 1 << 20, 4096);
        SimSink sink(control);
        QString error;
        QVERIFY(sink.open(kStereo16, error));
        const auto data = frames(480); // 10 ms
        if (queued)
            QCOMPARE(sink.write(data.data(), 480), std::int64_t(480));
        QTest::qWait(40); // the 10 ms play out, then silence
        sink.report();
        if (between == 1) {
            sink.pause(true);
            sink.pause(false);
            QTest::qWait(20);
        } else if (between == 2) {
            sink.drop();
        }
        QCOMPARE(sink.write(data.data(), 480), std::int64_t(480));
        QCOMPARE(control->dropouts(), dropouts);
    }

    // Recording keeps whole frames up to its capacity, per session.
    void recordingIsCappedAndPerSession() {
        const StreamFormat f24{44100, SampleFormat::S24P, 2};
        auto control = std::make_shared<SimSinkControl>(SimClock::Untimed, 6 * 10 + 4, 4096);
        SimSink sink(control);
        QString error;
        QVERIFY(sink.open(kStereo16, error));
        std::vector<double> x{0.5, -0.5, 0.25, -0.25};
        std::vector<unsigned char> bytes(8);
        encodeSamples(x.data(), 4, SampleFormat::S16, bytes.data());
        QCOMPARE(sink.write(bytes.data(), 2), std::int64_t(2));
        QVERIFY(sink.open(f24, error)); // a second session
        std::vector<unsigned char> b24(6 * 20);
        std::vector<double> y(40, 0.125);
        encodeSamples(y.data(), 40, SampleFormat::S24P, b24.data());
        QCOMPARE(sink.write(b24.data(), 20), std::int64_t(20)); // accepted, partly recorded
        QCOMPARE(control->opens(), 2);
        QCOMPARE(control->recordedDouble(0), x);
        // 64 bytes: 8 for the first session, then 9 whole 6-byte frames.
        QCOMPARE(control->recordedDouble(1), std::vector<double>(18, 0.125));
        QCOMPARE(control->framesWritten(), std::int64_t(22));
    }

    // What the engine writes: exact when wide enough, rounded and clipped
    // otherwise, silence for NaN.
    void sampleCodec_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("in");
        QTest::addColumn<std::int32_t>("asInt32");
        QTest::newRow("16-bit full negative")
            << int(SampleFormat::S16) << -1.0 << std::int32_t(INT32_MIN);
        QTest::newRow("16-bit +1.0 clips to max")
            << int(SampleFormat::S16) << 1.0 << std::int32_t(32767 << 16);
        QTest::newRow("16-bit rounds to nearest")
            << int(SampleFormat::S16) << 100.6 / 32768 << std::int32_t(101 << 16);
        QTest::newRow("packed 24-bit exact")
            << int(SampleFormat::S24P) << -12345.0 / 8388608 << std::int32_t(-12345 * 256);
        QTest::newRow("24-in-32 exact")
            << int(SampleFormat::S24In32) << 8388607.0 / 8388608 << std::int32_t(8388607 * 256);
        QTest::newRow("32-bit exact odd value")
            << int(SampleFormat::S32) << -2147483647.0 / 2147483648.0 << std::int32_t(-2147483647);
        QTest::newRow("32-bit over range clips")
            << int(SampleFormat::S32) << 3.0 << std::int32_t(INT32_MAX);
        QTest::newRow("float keeps 24-bit values")
            << int(SampleFormat::F32) << 4194305.0 / 8388608 << std::int32_t(4194305 * 256);
        QTest::newRow("NaN is silence")
            << int(SampleFormat::S24P) << std::numeric_limits<double>::quiet_NaN()
            << std::int32_t(0);
        QTest::newRow("float NaN is silence")
            << int(SampleFormat::F32) << std::numeric_limits<double>::quiet_NaN()
            << std::int32_t(0);
        QTest::newRow("float infinity is silence")
            << int(SampleFormat::F32) << -std::numeric_limits<double>::infinity()
            << std::int32_t(0);
    }
    void sampleCodec() {
        QFETCH(int, format);
        QFETCH(double, in);
        QFETCH(std::int32_t, asInt32);
        const auto f = SampleFormat(format);
        unsigned char bytes[4] = {0xee, 0xee, 0xee, 0xee};
        encodeSamples(&in, 1, f, bytes);
        QCOMPARE(decodeSampleInt32(bytes, f), asInt32);
        if (f != SampleFormat::F32)
            QCOMPARE(decodeSample(bytes, f), double(asInt32) / 2147483648.0);
        if (bytesPerSample(f) < 4)
            QCOMPARE(int(bytes[bytesPerSample(f)]), 0xee); // nothing written past the sample
    }
};

QL_TEST_MAIN_CORE(SimSinkTest)
#include "SimSinkTest.moc"
