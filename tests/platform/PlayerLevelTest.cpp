// Guards against: wrong meter readings or volume steps that click.
// Levels around a playing voice: the meter's readings of what was handed to
// the device, and volume changes while playing (the crossfade's and the sleep
// timer's steps), read from the recording.
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/OutputEngine.h"

#include "PlayerRig.h"
#include "TestHome.h"

#include <sndfile.h>

#include <cmath>
#include <complex>

using namespace ql;
using namespace ql::platform;
using test::physical;
using test::PlayerRig;

namespace {

constexpr int kRate = 44100;
constexpr std::int64_t kBuffer = 4096; // the simulated device's queue

// What a channel of a generated file holds.
enum class Wave { Sine, HalfSine, Silence, Constant, NaNs, Infinity, LoudThenSilent };

double sampleOf(Wave w, std::int64_t f) {
    const double s = std::sin(2 * M_PI * 1000 * double(f) / kRate);
    switch (w) {
    case Wave::Sine:
        return s;
    case Wave::HalfSine:
        return 0.5 * s;
    case Wave::Silence:
        return 0;
    case Wave::Constant:
        return 0.5;
    case Wave::NaNs:
        return f % 100 == 7 ? double(NAN) : 0.5 * s;
    case Wave::Infinity:
        return f == 1000 ? double(INFINITY) : 0.5 * s;
    case Wave::LoudThenSilent:
        return f < kBuffer ? s : 0.0;
    }
    return 0;
}

// A 32-bit float file: one wave per channel.
QString writeWaves(const QString& name, const QList<Wave>& channels, double seconds) {
    const auto frames = std::int64_t(seconds * kRate);
    std::vector<double> data;
    for (std::int64_t f = 0; f < frames; ++f)
        for (Wave w : channels)
            data.push_back(sampleOf(w, f));
    const QString path = test::tempFile(name);
    if (!test::writeFloatWav(path, kRate, int(channels.size()), data))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

Q_DECLARE_METATYPE(QList<Wave>)

class PlayerLevelTest : public QObject {
    Q_OBJECT
private slots:
    // Readings of the first 4096 frames heard, per channel: RMS and
    // peak in dBFS, before the volume stage, floor −160.
    void meterReadings_data() {
        QTest::addColumn<QList<Wave>>("waves");
        QTest::addColumn<float>("volume");
        QTest::addColumn<QList<float>>("average");
        QTest::addColumn<QList<float>>("peak");
        const float floor = -160;
        const QList<Wave> sine{Wave::Sine, Wave::Sine};
        QTest::newRow("full-scale sine")
            << sine << 1.0f << QList<float>{-3.01f, -3.01f} << QList<float>{0, 0};
        QTest::newRow("half-scale sine")
            << QList<Wave>{Wave::HalfSine, Wave::HalfSine} << 1.0f << QList<float>{-9.03f, -9.03f}
            << QList<float>{-6.02f, -6.02f};
        QTest::newRow("silence") << QList<Wave>{Wave::Silence, Wave::Silence} << 1.0f
                                 << QList<float>{floor, floor} << QList<float>{floor, floor};
        QTest::newRow("volume 0 is not metered")
            << sine << 0.0f << QList<float>{-3.01f, -3.01f} << QList<float>{0, 0};
        QTest::newRow("sine left, silence right")
            << QList<Wave>{Wave::Sine, Wave::Silence} << 1.0f << QList<float>{-3.01f, floor}
            << QList<float>{0, floor};
        QTest::newRow("mono: one channel, the second reads the floor")
            << QList<Wave>{Wave::Sine} << 1.0f << QList<float>{-3.01f, floor}
            << QList<float>{0, floor};
        QTest::newRow("NaN samples read the floor, not NaN")
            << QList<Wave>{Wave::NaNs, Wave::Sine} << 1.0f << QList<float>{floor, -3.01f}
            << QList<float>{-6.02f, 0};
        QTest::newRow("an infinite sample reads the floor")
            << QList<Wave>{Wave::Infinity, Wave::Sine} << 1.0f << QList<float>{floor, -3.01f}
            << QList<float>{floor, 0};
    }
    void meterReadings() {
        QFETCH(QList<Wave>, waves);
        QFETCH(float, volume);
        QFETCH(QList<float>, average);
        QFETCH(QList<float>, peak);
        const QString path = writeWaves("meter.wav", waves, 1.0);
        PlayerRig rig(SimClock::Manual, physical(kRate, 32, true, 4));
        auto player = rig.open(path);
        player->setVolume(volume);
        player->setMeteringEnabled(true);
        QVERIFY(player->play());
        QTRY_COMPARE(rig.b->framesWritten(), kBuffer);
        rig.b->advance(kBuffer); // heard once the feeder has refilled the device
        QTRY_COMPARE(rig.b->framesWritten(), 2 * kBuffer);
        player->updateMeters();
        for (int c = 0; c < 2; ++c) {
            const float a = player->averagePower(c), p = player->peakPower(c);
            QVERIFY2(std::abs(a - average[c]) < 0.1f && std::abs(p - peak[c]) < 0.1f,
                     qPrintable(QString("channel %1: average %2, peak %3").arg(c).arg(a).arg(p)));
        }
    }

    // A span is what was heard since the previous updateMeters(): the
    // file is loud for the first 4096 frames and silent after them. Nothing
    // new reads the floor; the silent frames read silent, not an average
    // with the loud ones; metering off reads the floor.
    void meterSpans_data() {
        QTest::addColumn<QString>("between");
        QTest::addColumn<float>("average");
        QTest::newRow("nothing heard since") << "" << -160.0f;
        QTest::newRow("the next 4096 frames, silent") << "advance" << -160.0f;
        QTest::newRow("metering switched off") << "off" << -160.0f;
        QTest::newRow("switched off and on, nothing since") << "off-on" << -160.0f;
    }
    void meterSpans() {
        QFETCH(QString, between);
        QFETCH(float, average);
        const QString path = writeWaves("spans.wav", {Wave::LoudThenSilent, Wave::Sine}, 1.0);
        PlayerRig rig(SimClock::Manual, physical(kRate, 32, true, 4));
        auto player = rig.open(path);
        QVERIFY(!player->isMeteringEnabled());
        player->setMeteringEnabled(true);
        QVERIFY(player->play());
        QTRY_COMPARE(rig.b->framesWritten(), kBuffer);
        rig.b->advance(kBuffer);
        QTRY_COMPARE(rig.b->framesWritten(), 2 * kBuffer);
        player->updateMeters();
        QVERIFY(std::abs(player->averagePower(0) + 3.01f) < 0.1f);
        if (between == "advance") {
            rig.b->advance(kBuffer);
            QTRY_COMPARE(rig.b->framesWritten(), 3 * kBuffer);
        } else if (between == "off") {
            player->setMeteringEnabled(false);
        } else if (between == "off-on") {
            player->setMeteringEnabled(false);
            player->setMeteringEnabled(true);
        }
        player->updateMeters();
        QVERIFY2(std::abs(player->averagePower(0) - average) < 0.1f,
                 qPrintable(QString::number(player->averagePower(0))));
        if (between == "advance") // the other channel goes on
            QVERIFY(std::abs(player->averagePower(1) + 3.01f) < 0.1f);
        QCOMPARE(player->averagePower(5), -160.0f);
        QCOMPARE(player->peakPower(-1), -160.0f);
    }

    // The volume stepped every 0.1 s from 1.0 down to 0.0 over 5 s: the
    // recording holds every step in order, each step spread over one block
    // (no jump anywhere near one step), and silence at the end.
    void volumeStepsWhilePlaying() {
        const int steps = 50;
        const double step = 1.0 / steps;
        const QString path = writeWaves("fade.wav", {Wave::Constant, Wave::Constant}, 6.0);
        PlayerRig rig(SimClock::Manual, physical(kRate, 32, true, 4));
        auto player = rig.open(path);
        bool done = false;
        player->onFinished = [&](bool) { done = true; };
        QVERIFY(player->play());
        QTRY_COMPARE(rig.b->framesWritten(), kBuffer);
        const auto block = std::int64_t(OutputEngine::kBlockFrames);
        for (int k = 1; k <= steps; ++k) {
            const std::int64_t played = std::int64_t(k) * kRate / 10;
            rig.b->advance(kRate / 10);
            // The feeder refills what the device played, a block at a time.
            const std::int64_t filled = (played + kBuffer) / block * block;
            QTRY_COMPARE(rig.b->framesWritten(), filled);
            player->setVolume(float(1.0 - k * step));
        }
        rig.b->advance(10'000'000);
        QVERIFY(QTest::qWaitFor([&] { return done; }, 30000));

        const std::vector<double> got = rig.b->recordedDouble();
        QCOMPARE(std::int64_t(got.size() / 2), std::int64_t(6 * kRate));
        std::vector<double> levels; // the gain of each flat stretch, in order
        double biggestJump = 0;
        std::int64_t flat = 0;
        for (std::size_t f = 0; f < got.size() / 2; ++f) {
            const double g = got[2 * f] / 0.5;
            QCOMPARE(got[2 * f + 1], got[2 * f]);
            if (f > 0) {
                const double jump = std::abs(g - got[2 * (f - 1)] / 0.5);
                biggestJump = std::max(biggestJump, jump);
                flat = jump < 1e-7 ? flat + 1 : 0;
            }
            if (flat == block && (levels.empty() || std::abs(levels.back() - g) > 1e-7))
                levels.push_back(g);
        }
        QVERIFY2(biggestJump < step / 100, qPrintable(QString::number(biggestJump)));
        QCOMPARE(int(levels.size()), steps + 1);
        for (int k = 0; k <= steps; ++k)
            QVERIFY2(std::abs(levels[std::size_t(k)] - (1.0 - k * step)) < 1e-6,
                     qPrintable(QString("step %1 at %2").arg(k).arg(levels[std::size_t(k)])));
    }

    // A quiet 24-bit tone on a 16-bit device, at a volume below 1 or not:
    // the rounding error is a flat noise floor, no harmonic 6 dB above it.
    void wordLengthIsReducedWithDither_data() {
        QTest::addColumn<float>("volume");
        QTest::newRow("volume 0.5") << 0.5f;
        QTest::newRow("volume 1") << 1.0f;
    }
    void wordLengthIsReducedWithDither() {
        QFETCH(float, volume);
        test::Samples in{kRate, 1, {}};
        for (int f = 0; f < 16 * 4410; ++f) // -90 dBFS; 1 kHz: bin 100 of 4410 frames
            in.data.push_back(256 * int(std::lrint(265.27 * sampleOf(Wave::Sine, f))));
        const QString path = test::tempFile("dither.wav");
        QVERIFY(test::writeSamples(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, in));
        PlayerRig rig(SimClock::Untimed, physical(kRate, 16, false, 2));
        auto player = rig.open(path);
        QVERIFY(player);
        test::Finishes fin(*player);
        player->setVolume(volume);
        QVERIFY(player->play());
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, ql::test::kOutcomeMs);
        const auto heard = rig.b->recordedInt32(0);
        QCOMPARE(heard.size(), 2 * in.data.size());
        std::array<std::complex<double>, 10> x{};
        std::array<double, 10> harmonic{}; // power per 4410 frames, summed
        double floor = 0;                  // mean power per bin (Parseval), summed
        for (std::size_t f = 0; f < in.data.size(); ++f) {
            const double e = (heard[2 * f] - volume * double(in.data[f])) / 65536;
            floor += e * e;
            for (std::size_t k = 1; k < 10; ++k) {
                x[k] += e * std::polar(1.0, -2 * M_PI * 100 * double(k * f) / 4410);
                if ((f + 1) % 4410 == 0)
                    harmonic[k] += std::norm(std::exchange(x[k], {}));
            }
        }
        for (std::size_t k = 1; k < 10; ++k)
            QVERIFY2(harmonic[k] <= 4 * floor, qPrintable(QString("harmonic %1").arg(k)));
        QVERIFY(floor <= 0.26 * double(in.data.size())); // rounding 1/12 + TPDF 1/6
    }

    // A full-scale tone at a quarter of the rate, sampled between its crests
    // (its peaks lie 3 dB above every sample), converted from 44.1 to 48 kHz
    // on an integer device: the converted peaks are kept whole, not clipped.
    void convertedPeaksAreNotClipped_data() {
        QTest::addColumn<int>("bits");
        QTest::newRow("16-bit device") << 16;
        QTest::newRow("24-bit device") << 24;
    }
    void convertedPeaksAreNotClipped() {
        QFETCH(int, bits);
        constexpr int kFrames = kRate, kEdge = 441; // raised-cosine edges: no start transient
        test::Samples in{kRate, 1, {}};
        for (int f = 0; f < kFrames; ++f) {
            const double edge = std::min({1.0, double(f) / kEdge, double(kFrames - 1 - f) / kEdge});
            const double v = std::sqrt(2.0) * std::sin(M_PI / 2 * f + M_PI / 4);
            in.data.push_back(256 *
                              int(std::lrint(8388607 * v * (0.5 - 0.5 * std::cos(M_PI * edge)))));
        }
        const QString path = test::tempFile("quarter.wav");
        QVERIFY(test::writeSamples(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, in));
        PlayerRig rig(SimClock::Untimed, physical(48000, bits, false, bits / 8));
        const auto heard = test::playedThrough(rig, path);
        QVERIFY(heard.size() > 2 * 47000);
        const double rail = std::ldexp(1.0, 31) - std::ldexp(1.0, 32 - bits);
        double peak = 0;
        for (const std::int32_t v : heard)
            peak = std::max(peak, std::abs(double(v)));
        QVERIFY2(peak < rail && peak > 0.9 * rail,
                 qPrintable(QString("peak at %1 of full scale").arg(peak / rail)));
    }
};

QL_TEST_MAIN_CORE(PlayerLevelTest)
#include "PlayerLevelTest.moc"
