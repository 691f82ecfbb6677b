// Guards against: wrong duration or pitch at another speed.
// Playback speed with the pitch kept: how long a file lasts on the device,
// the pitch of a tone (FFT of the recording), the position in source
// seconds, speed changes while playing, and the bit-exact path without rate
// control.
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/OutputEngine.h"

#include "PlayerRig.h"
#include "TestHome.h"

#include <fftw3.h>
#include <sndfile.h>

#include <cmath>

using namespace ql;
using namespace ql::platform;
using test::physical;
using test::PlayerRig;

namespace {

constexpr double kDeviceRate = 44100;

// A float stream at 44.1 kHz: what the stretched voices play on.
PhysicalFormat floatStream() {
    return physical(kDeviceRate, 32, true, 4);
}

std::unique_ptr<AudioPlayer> openAtSpeed(PlayerRig& rig, const QString& path, bool enable,
                                         float rate) {
    auto player = rig.open(path);
    player->setEnableRate(enable);
    player->setRate(rate);
    return player;
}

bool playToEnd(AudioPlayer& p) {
    bool done = false, ok = false;
    p.onFinished = [&](bool success) {
        done = true;
        ok = success;
    };
    return p.play() && QTest::qWaitFor([&] { return done; }, 60000) && ok;
}

// The strongest frequency of `n` frames of channel 0 from `from`, by a
// Hann-windowed FFT and a parabola through the top three bins.
double dominantFrequency(const std::vector<double>& v, std::size_t from, int n, double rate) {
    std::vector<float> in(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double w = 0.5 * (1 - std::cos(2 * M_PI * i / n));
        in[std::size_t(i)] = float(w * v[(from + std::size_t(i)) * 2]);
    }
    auto* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (n / 2 + 1)));
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in.data(), out, FFTW_ESTIMATE);
    fftwf_execute(plan);
    std::vector<double> mag(std::size_t(n / 2 + 1));
    for (int k = 0; k <= n / 2; ++k)
        mag[std::size_t(k)] = std::hypot(out[k][0], out[k][1]);
    fftwf_destroy_plan(plan);
    fftwf_free(out);
    const auto top = std::size_t(std::max_element(mag.begin() + 1, mag.end() - 1) - mag.begin());
    const double a = std::log(mag[top - 1]), b = std::log(mag[top]), c = std::log(mag[top + 1]);
    const double shift = 0.5 * (a - c) / (a - 2 * b + c);
    return (double(top) + shift) * rate / n;
}

} // namespace

class PlayerSpeedTest : public QObject {
    Q_OBJECT
private slots:
    // A 10 s file lasts 10 s / speed of device time; the speed is clamped to
    // 0.5…2.0, and without rate control it has no effect. Duration stays in
    // source seconds.
    void deviceTimeFollowsTheSpeed_data() {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<float>("rate");
        QTest::addColumn<int>("fileRate");
        QTest::addColumn<float>("readBack");
        QTest::addColumn<double>("seconds");
        QTest::newRow("1.25: 8 s") << true << 1.25f << 44100 << 1.25f << 8.0;
        QTest::newRow("0.25 is clamped to 0.5: 20 s") << true << 0.25f << 44100 << 0.5f << 20.0;
        QTest::newRow("3.0 is clamped to 2.0: 5 s") << true << 3.0f << 44100 << 2.0f << 5.0;
        QTest::newRow("rate without rate control: 10 s") << false << 1.5f << 44100 << 1.5f << 10.0;
        QTest::newRow("1.5 on a 48 kHz file, converted")
            << true << 1.5f << 48000 << 1.5f << 10 / 1.5;
    }
    void deviceTimeFollowsTheSpeed() {
        QFETCH(bool, enable);
        QFETCH(float, rate);
        QFETCH(int, fileRate);
        QFETCH(float, readBack);
        QFETCH(double, seconds);
        const QString path = test::writeSine("ten.wav", fileRate, 10.0, 440);
        PlayerRig rig(SimClock::Untimed, floatStream());
        auto player = openAtSpeed(rig, path, enable, rate);
        QCOMPARE(player->rate(), readBack);
        QVERIFY(playToEnd(*player));
        const double heard = double(rig.b->framesWritten()) / kDeviceRate;
        QVERIFY2(std::abs(heard - seconds) < 0.05, qPrintable(QString::number(heard)));
        QVERIFY2(std::abs(player->deviceCurrentTime() - seconds) < 0.05,
                 qPrintable(QString::number(player->deviceCurrentTime())));
        QCOMPARE(player->duration(), 10.0);
    }

    // A 1 kHz tone keeps its pitch within 1 %.
    void toneKeepsItsPitch_data() {
        QTest::addColumn<float>("rate");
        QTest::addColumn<int>("fileRate");
        QTest::newRow("1.5") << 1.5f << 44100;
        QTest::newRow("0.75") << 0.75f << 44100;
        QTest::newRow("1.5 on a 96 kHz file, converted") << 1.5f << 96000;
    }
    void toneKeepsItsPitch() {
        QFETCH(float, rate);
        QFETCH(int, fileRate);
        const QString path = test::writeSine("tone.wav", fileRate, 6.0, 1000);
        PlayerRig rig(SimClock::Untimed, floatStream());
        auto player = openAtSpeed(rig, path, true, rate);
        QVERIFY(playToEnd(*player));
        const std::vector<double> got = rig.b->recordedDouble();
        const int n = 65536;
        QVERIFY(got.size() / 2 > std::size_t(2 * n));
        const double f =
            dominantFrequency(got, got.size() / 4 - std::size_t(n / 2), n, kDeviceRate);
        QVERIFY2(std::abs(f - 1000) < 10, qPrintable(QString::number(f)));
    }

    // currentTime counts source seconds: one second of device time at
    // speed s has moved it s seconds.
    void positionInSourceSeconds_data() {
        QTest::addColumn<float>("rate");
        QTest::newRow("2.0") << 2.0f;
        QTest::newRow("0.5") << 0.5f;
        QTest::newRow("1.25") << 1.25f;
    }
    void positionInSourceSeconds() {
        QFETCH(float, rate);
        const QString path = test::writeSine("position.wav", 44100, 10.0, 440);
        PlayerRig rig(SimClock::Manual, floatStream());
        auto player = openAtSpeed(rig, path, true, rate);
        QVERIFY(player->play());
        QTRY_COMPARE(rig.b->framesWritten(), std::int64_t(4096));
        rig.b->advance(44100);
        QTRY_COMPARE(player->deviceCurrentTime(), 1.0);
        QVERIFY2(std::abs(player->currentTime() - rate) < 0.005,
                 qPrintable(QString::number(player->currentTime())));
        QCOMPARE(player->duration(), 10.0);
    }

    // Changing the speed while playing is heard at once: what the device
    // still holds at the old speed is dropped, and the file goes on at the
    // new speed from the frame heard last.
    void speedChangedWhilePlaying_data() {
        QTest::addColumn<bool>("enableBefore");
        QTest::addColumn<float>("before");
        QTest::addColumn<bool>("enableAfter");
        QTest::addColumn<float>("after");
        QTest::newRow("1.25 to 2.0") << true << 1.25f << true << 2.0f;
        QTest::newRow("rate control switched on at 1.5") << false << 1.0f << true << 1.5f;
        QTest::newRow("rate control switched off from 1.5") << true << 1.5f << false << 1.5f;
    }
    void speedChangedWhilePlaying() {
        QFETCH(bool, enableBefore);
        QFETCH(float, before);
        QFETCH(bool, enableAfter);
        QFETCH(float, after);
        const double speedAfter = enableAfter ? after : 1.0;
        const QString path = test::writeSine("change.wav", 44100, 10.0, 440);
        PlayerRig rig(SimClock::Manual, floatStream());
        auto player = openAtSpeed(rig, path, enableBefore, before);
        bool done = false;
        player->onFinished = [&](bool) { done = true; };
        QVERIFY(player->play());
        QTRY_COMPARE(rig.b->framesWritten(), std::int64_t(4096));
        rig.b->advance(2 * 44100);
        QTRY_COMPARE(player->deviceCurrentTime(), 2.0);
        // The feeder fills the room the device made, a block at a time.
        QTRY_VERIFY(rig.b->framesWritten() >
                    2 * 44100 + 4096 - std::int64_t(OutputEngine::kBlockFrames));
        const double heardAt = player->currentTime();
        player->setEnableRate(enableAfter);
        player->setRate(after);
        rig.b->advance(10'000'000);
        QVERIFY(QTest::qWaitFor([&] { return done; }, 60000));

        const double want = 2.0 + (10.0 - heardAt) / speedAfter;
        const double heard = double(rig.b->framesHeard()) / kDeviceRate;
        QVERIFY2(std::abs(heard - want) < 0.01,
                 qPrintable(QString("%1 s heard, %2 s wanted").arg(heard).arg(want)));
    }

    // No time-stretch stage unless the speed differs from 1: the samples
    // reach the device as the file has them.
    void withoutStretchIsBitExact_data() {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<float>("rate");
        QTest::addColumn<bool>("enableLater");
        QTest::newRow("rate control on at 1.0") << true << 1.0f << true;
        QTest::newRow("rate control on at 1.5, then off") << true << 1.5f << false;
        QTest::newRow("rate set without rate control") << false << 1.5f << false;
    }
    void withoutStretchIsBitExact() {
        QFETCH(bool, enable);
        QFETCH(float, rate);
        QFETCH(bool, enableLater);
        test::AudioShape shape;
        shape.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
        shape.frames = 100'003;
        const QString path = test::tempFile("exact.flac");
        QVERIFY(test::writeAudio(path, shape));
        const test::Samples ref = test::readSamples(path);
        PlayerRig rig(SimClock::Untimed, physical(kDeviceRate, 24, false, 4));
        auto player = rig.open(path);
        player->setEnableRate(enable);
        player->setRate(rate);
        QVERIFY(player->prepareToPlay());
        player->setEnableRate(enableLater);
        QVERIFY(playToEnd(*player));
        QVERIFY(rig.b->recordedInt32() == ref.data);
    }
};

QL_TEST_MAIN_CORE(PlayerSpeedTest)
#include "PlayerSpeedTest.moc"
