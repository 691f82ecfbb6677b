// Guards against: a player that plays wrong samples, ends twice, or mishandles a device failure.
#include "platform/audio/AudioPlayer.h"

#include "PlayInTime.h"
#include "PlayerRig.h"
#include "TestHome.h"

#include <sndfile.h>

#include <QFile>

#include <cmath>

using namespace ql;
using namespace ql::platform;
using test::Finishes;
using test::physical;
using test::PlayerRig;

class AudioPlayerTest : public QObject {
    Q_OBJECT
private slots:
    // One voice at gain 1.0 at the stream's rate reaches the device unchanged
    // whenever the stream format is at least as wide as the source.
    void bitPerfect_data() {
        QTest::addColumn<int>("fileFormat");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("isFloat");
        QTest::addColumn<int>("bytes");
        const int flac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                  flac24 = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
        const int wav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                  wav24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        const int wav32 = SF_FORMAT_WAV | SF_FORMAT_PCM_32;
        QTest::newRow("16-bit FLAC on a 16-bit stream") << flac16 << 2 << 16 << false << 2;
        QTest::newRow("16-bit FLAC on a 24-in-32 stream") << flac16 << 2 << 24 << false << 4;
        QTest::newRow("16-bit WAV on a 16-bit stream") << wav16 << 2 << 16 << false << 2;
        QTest::newRow("16-bit WAV on a float stream") << wav16 << 2 << 32 << true << 4;
        QTest::newRow("24-bit FLAC on a packed 24-bit stream") << flac24 << 2 << 24 << false << 3;
        QTest::newRow("24-bit FLAC on a 24-in-32 stream") << flac24 << 2 << 24 << false << 4;
        QTest::newRow("24-bit WAV on a 32-bit stream") << wav24 << 2 << 32 << false << 4;
        QTest::newRow("24-bit WAV on a float stream") << wav24 << 2 << 32 << true << 4;
        QTest::newRow("32-bit WAV on a 32-bit stream") << wav32 << 2 << 32 << false << 4;
        QTest::newRow("mono 24-bit FLAC on a stereo stream") << flac24 << 1 << 24 << false << 4;
        // The WAV, encoded by ffmpeg to ALAC in .m4a.
        QTest::newRow("16-bit ALAC on a 16-bit stream") << wav16 << 2 << 16 << false << 2;
        QTest::newRow("24-bit ALAC on a 24-in-32 stream") << wav24 << 2 << 24 << false << 4;
    }
    void bitPerfect() {
        QFETCH(int, fileFormat);
        QFETCH(int, channels);
        QFETCH(int, bits);
        QFETCH(bool, isFloat);
        QFETCH(int, bytes);
        test::AudioShape shape;
        shape.format = fileFormat;
        shape.channels = channels;
        shape.frames = 100'003; // not a multiple of any block
        QString path = test::writeTemp("exact.bin", shape);
        const test::Samples ref = test::readSamples(path);
        if (QByteArray(QTest::currentDataTag()).contains("ALAC")) {
            const bool wide = (fileFormat & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16;
            const QString encoded = test::tempFile("exact.m4a");
            QVERIFY(test::runFfmpeg(
                {"-i", path, "-c:a", "alac", "-sample_fmt", wide ? "s32p" : "s16p", encoded}));
            path = encoded;
        }

        PlayerRig rig(SimClock::Untimed, physical(44100, bits, isFloat, bytes));
        auto player = rig.open(path);
        QVERIFY(player);
        QCOMPARE(player->duration(), double(shape.frames) / 44100);
        QCOMPARE(player->numberOfChannels(), channels);
        Finishes fin(*player);
        QVERIFY(player->play());
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, 20000);

        const std::vector<std::int32_t> got = rig.b->recordedInt32();
        QCOMPARE(std::int64_t(got.size()), shape.frames * 2);
        for (std::int64_t f = 0; f < shape.frames; ++f)
            for (int c = 0; c < 2; ++c) {
                const std::int32_t want =
                    ref.data[std::size_t(f * channels + (channels == 1 ? 0 : c))];
                if (got[std::size_t(f * 2 + c)] != want)
                    QFAIL(qPrintable(QString("frame %1 channel %2: %3 != %4")
                                         .arg(f)
                                         .arg(c)
                                         .arg(got[std::size_t(f * 2 + c)])
                                         .arg(want)));
            }
        QVERIFY(rig.a->framesWritten() == 0); // the default device played it
    }

    // The engine converts: a 44.1 kHz file on a 48 kHz stream lasts its
    // duration in device time, and a tone keeps its pitch.
    void otherRateIsConverted_data() {
        QTest::addColumn<int>("fileRate");
        QTest::addColumn<double>("deviceRate");
        QTest::newRow("44.1 kHz on 48 kHz") << 44100 << 48000.0;
        QTest::newRow("96 kHz on 48 kHz") << 96000 << 48000.0;
        QTest::newRow("48 kHz on 44.1 kHz") << 48000 << 44100.0;
    }
    void otherRateIsConverted() {
        QFETCH(int, fileRate);
        QFETCH(double, deviceRate);
        const double seconds = 2.0, freq = 1000;
        const QString path = test::writeSine("rate.wav", fileRate, seconds, freq);
        PlayerRig rig(SimClock::Untimed, physical(deviceRate, 32, true, 4));
        auto player = rig.open(path);
        Finishes fin(*player);
        QVERIFY(player->play());
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, 20000);

        const std::vector<double> got = rig.b->recordedDouble();
        const auto frames = std::int64_t(got.size() / 2);
        QVERIFY2(std::abs(frames - std::llround(seconds * deviceRate)) <= 1024,
                 qPrintable(QString::number(frames)));
        // 1 kHz over the middle second: 2000 sign changes.
        const auto one = std::size_t(deviceRate);
        const int n = test::signChanges(got, 2, one / 2, one / 2 + one);
        QVERIFY2(std::abs(n - 2000) <= 2, qPrintable(QString::number(n)));
        double peak = 0;
        for (std::size_t i = one; i < 2 * one - 100; ++i)
            peak = std::max(peak, std::abs(got[i]));
        QVERIFY2(std::abs(peak - 0.5) < 0.01, qPrintable(QString::number(peak)));
    }

    // Two players on one device are summed, each with its own gain.
    void twoPlayersAreMixed() {
        const QString pa = test::writeSine("mix-a.wav", 44100, 1.0, 440);
        // Noise is never silent, so b's first frame shows.
        const QString pb = test::writeNoise("mix-b.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 22050);
        const test::Samples ra = test::readSamples(pa), rb = test::readSamples(pb);
        // A manual device, so that b starts within the first buffer whatever
        // the machine's load; it plays in time, never faster than the
        // decoders fill it.
        PlayerRig rig(SimClock::Manual, physical(44100, 32, true, 4));
        auto a = rig.open(pa);
        auto b = rig.open(pb);
        a->setVolume(0.5f);
        b->setVolume(0.25f);
        QVERIFY(b->prepareToPlay());
        Finishes fa(*a), fb(*b);
        QVERIFY(a->play());
        QVERIFY(b->play());
        test::playInTime(*rig.b, ra.frames());
        QTRY_VERIFY_WITH_TIMEOUT(fa.results.size() == 1 && fb.results.size() == 1, 20000);

        const std::vector<double> got = rig.b->recordedDouble();
        QCOMPARE(std::int64_t(got.size() / 2), ra.frames()); // the longer one
        const auto sample = [](const test::Samples& s, std::int64_t i) {
            return i >= 0 && i < std::int64_t(s.data.size())
                       ? double(s.data[std::size_t(i)]) / 2147483648.0
                       : 0.0;
        };
        // b joined at some block boundary k: before it only a is heard.
        std::int64_t k = 0;
        while (k < ra.frames() &&
               std::abs(got[std::size_t(2 * k)] - 0.5 * sample(ra, 2 * k)) < 1e-6)
            ++k;
        QVERIFY(k < ra.frames());
        for (std::int64_t f = 0; f < ra.frames(); ++f)
            for (int c = 0; c < 2; ++c) {
                const std::int64_t i = 2 * f + c;
                const double want =
                    0.5 * sample(ra, i) + 0.25 * sample(rb, 2 * (f - k) + c) * (f >= k);
                if (std::abs(got[std::size_t(i)] - want) > 1e-6)
                    QFAIL(qPrintable(
                        QString("frame %1: %2 != %3").arg(f).arg(got[std::size_t(i)]).arg(want)));
            }
    }

    // Files that cannot be played fail at open with a sentence; data that
    // breaks part-way ends playback as unsuccessful.
    void openFailsReadably() {
        PlayerRig rig(SimClock::Untimed, physical(44100, 16, false, 2));
        const QString text = test::tempFile("notes.flac");
        QVERIFY(test::writeFile(text, "not audio"));
        const auto r = AudioPlayer::open(*rig.platform.outputs, text);
        QVERIFY(!r.player);
        QVERIFY2(r.error.contains("notes.flac"), qPrintable(r.error));
    }

    void brokenDataEndsUnsuccessfully() {
        const QString path = test::tempFile("broken.flac");
        QVERIFY(test::writeBrokenFlac(path, 44100 * 3));
        PlayerRig rig(SimClock::Untimed, physical(44100, 16, false, 2));
        auto player = rig.open(path);
        QVERIFY(player);
        Finishes fin(*player);
        QVERIFY(player->play());
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{false}, 20000);
        QVERIFY(fin.onMainThread);
        QVERIFY(!player->isPlaying());
        QTest::qWait(100);
        QCOMPARE(fin.results.size(), 1);
    }

    // The end is told once, on the main thread, and never after pause or stop.
    void endIsToldOnce_data() {
        QTest::addColumn<QString>("after");
        QTest::addColumn<QList<bool>>("told");
        QTest::newRow("nothing: told once") << "" << QList<bool>{true};
        QTest::newRow("paused after the end, before the call ran") << "pause" << QList<bool>{};
        QTest::newRow("stopped after the end, before the call ran") << "stop" << QList<bool>{};
        QTest::newRow("callback detached") << "detach" << QList<bool>{};
        QTest::newRow("played again: told again") << "replay" << QList<bool>{true, true};
        QTest::newRow("seek after the end: not told") << "seek" << QList<bool>{};
    }
    void endIsToldOnce() {
        QFETCH(QString, after);
        QFETCH(QList<bool>, told);
        const QString path = test::writeSine("short.wav", 44100, 0.3, 440);
        PlayerRig rig(SimClock::Untimed, physical(44100, 24, false, 4));
        auto player = rig.open(path);
        Finishes fin(*player);
        QVERIFY(player->play());
        // The end happens on the engine's threads; the call waits for the loop.
        QVERIFY(test::spinUntil([&] { return !player->isPlaying(); }));
        QCOMPARE(player->currentTime(), 0.0);
        if (after == "pause")
            player->pause();
        else if (after == "stop")
            player->stop();
        else if (after == "detach")
            player->onFinished = nullptr;
        else if (after == "seek")
            player->setCurrentTime(0.1);
        else if (after == "replay") {
            QTRY_COMPARE_WITH_TIMEOUT(fin.results.size(), 1, 20000);
            QVERIFY(player->play());
            QVERIFY(test::spinUntil([&] { return !player->isPlaying(); }));
        }
        QTest::qWait(200);
        QCOMPARE(fin.results, told);
        QVERIFY(fin.onMainThread);
    }

    // Pause keeps the position, a seek lands on its frame: what the device
    // receives is the file up to the pause, then the file from the seek.
    void pauseAndSeekAreSampleExact() {
        const QString path =
            test::writeNoise("seek.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100 * 2);
        const test::Samples ref = test::readSamples(path);
        PlayerRig rig(SimClock::Manual, physical(44100, 24, false, 4));
        auto player = rig.open(path);
        QVERIFY(player->prepareToPlay());
        QVERIFY(player->play());
        // The manual device holds 4096 frames and plays nothing until moved;
        // 4096 are heard, the next 4096 wait in its queue.
        QTRY_COMPARE(rig.b->framesWritten(), std::int64_t(4096));
        rig.b->advance(4096);
        QTRY_COMPARE(rig.b->framesWritten(), std::int64_t(2 * 4096));
        player->pause();
        QVERIFY(!player->isPlaying());
        QTest::qWait(30);
        QCOMPARE(rig.b->framesHeard(), std::int64_t(4096));
        player->setCurrentTime(1.0); // the queued frames are never heard
        QCOMPARE(player->currentTime(), 1.0);
        Finishes fin(*player);
        QVERIFY(player->play());
        rig.b->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, 20000);

        // The device keeps 5 ms (221 frames) of its queue, the pause fades out
        // over the next 5 ms, the resume fades in; everything else is exact.
        const std::vector<std::int32_t> got = rig.b->recordedInt32();
        std::vector<std::int32_t> want(ref.data.begin(), ref.data.begin() + 2 * (4096 + 442));
        want.insert(want.end(), ref.data.begin() + 2 * 44100, ref.data.end());
        QVERIFY(test::equalWithFades(
            got, want, 2, 1 << 8, {{2 * (4096 + 221), 221, true}, {2 * (4096 + 442), 221, false}}));
    }

    void positionAndVolumeAreClamped_data() {
        QTest::addColumn<double>("seek");
        QTest::addColumn<double>("position");
        QTest::addColumn<float>("volume");
        QTest::addColumn<float>("gain");
        QTest::newRow("inside") << 0.25 << 0.25 << 0.37f << 0.37f;
        QTest::newRow("before the start") << -3.0 << 0.0 << -0.5f << 0.0f;
        QTest::newRow("past the end") << 99.0 << 0.5 << 1.5f << 1.0f;
        QTest::newRow("NaN is ignored") << double(NAN) << 0.0 << float(NAN) << 1.0f;
    }
    void positionAndVolumeAreClamped() {
        QFETCH(double, seek);
        QFETCH(double, position);
        QFETCH(float, volume);
        QFETCH(float, gain);
        const QString path = test::writeSine("half.wav", 48000, 0.5, 440);
        PlayerRig rig(SimClock::Manual, physical(48000, 16, false, 2));
        auto player = rig.open(path);
        QCOMPARE(player->duration(), 0.5);
        QCOMPARE(player->sourceSampleRate(), 48000.0);
        QCOMPARE(player->numberOfChannels(), 2);
        player->setCurrentTime(seek);
        player->setVolume(volume);
        QCOMPARE(player->currentTime(), position);
        QCOMPARE(player->volume(), gain);
        QVERIFY(player->prepareToPlay()); // and the same once the decoder runs
        player->setCurrentTime(seek);
        QCOMPARE(player->currentTime(), position);
        QVERIFY(!std::isnan(player->currentTime()));
    }

    // The device clock counts frames the device has played.
    void deviceClockFollowsTheDevice() {
        const QString path = test::writeSine("clock.wav", 48000, 3.0, 440);
        PlayerRig rig(SimClock::Manual, physical(48000, 16, false, 2));
        auto player = rig.open(path);
        QCOMPARE(player->deviceCurrentTime(), 0.0);
        QVERIFY(player->play());
        QTRY_COMPARE(rig.b->framesWritten(), std::int64_t(4096));
        QCOMPARE(player->deviceCurrentTime(), 0.0);
        rig.b->advance(24000);
        QTRY_COMPARE(player->deviceCurrentTime(), 0.5);
        auto other = rig.open(path);
        QVERIFY(other->prepareToPlay());
        QCOMPARE(other->deviceCurrentTime(), player->deviceCurrentTime()); // one clock per device
    }

    // A device that cannot open fails play() with a sentence instead of
    // leaving the player "playing".
    void deviceThatCannotOpen() {
        PlayerRig rig(SimClock::RealTime, physical(44100, 16, false, 2));
        auto player = rig.open(test::writeSine("fail.wav", 44100, 2.0, 440));
        rig.b->failOpen = true;
        QVERIFY(!player->prepareToPlay());
        QVERIFY(!player->play());
        QVERIFY(!player->isPlaying());
        QVERIFY2(player->lastError().contains("could not be opened"),
                 qPrintable(player->lastError()));
    }

    // A new nominal rate reopens the stream; the voice goes on where it was.
    void rateChangeReopensAndContinues() {
        const QString path = test::writeSine("reopen.wav", 44100, 2.0, 1000);
        PlayerRig rig(SimClock::Manual, physical(44100, 32, true, 4));
        auto player = rig.open(path);
        Finishes fin(*player);
        QVERIFY(player->play());
        rig.b->advance(44100 / 2);
        // The position is what the device has played, not what it holds.
        QTRY_VERIFY(std::abs(player->currentTime() - 0.5) < 1e-6);
        const DeviceId id = rig.hardware().idOf(test::kAnalogB);
        QVERIFY(rig.hardware().setNominalRate(id, 48000));
        QCOMPARE(rig.b->opens(), 2);
        QCOMPARE(rig.b->sessions().back().format.rate, 48000.0);
        QVERIFY(player->isPlaying());
        rig.b->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, 20000);
        // Heard: half a second at 44.1 kHz, the rest at 48 kHz.
        const double first = double(rig.b->recordedDouble(0).size() / 2) / 44100.0;
        const std::vector<double> second = rig.b->recordedDouble(1);
        QVERIFY2(std::abs(first - 0.5) < 0.1, qPrintable(QString::number(first)));
        const double total = first + double(second.size() / 2) / 48000.0;
        QVERIFY2(total >= 2.0 - 0.03 && total < 2.0 + 0.1, qPrintable(QString::number(total)));
        QVERIFY(std::abs(test::signChanges(second, 2, 4800, 4800 + 48000) - 2000) <= 2);
    }

    // Moving a playing player to another device continues it there.
    void moveToAnotherDeviceWhilePlaying() {
        const QString path = test::writeSine("move.wav", 44100, 1.0, 440);
        PlayerRig rig(SimClock::Manual, physical(44100, 16, false, 2));
        auto player = rig.open(path);
        Finishes fin(*player);
        QVERIFY(player->play());
        QTRY_COMPARE(rig.b->framesWritten(), std::int64_t(4096));
        QVERIFY(!player->setOutputDevice("no:such-device"));
        QVERIFY(player->setOutputDevice(test::kDacA));
        QCOMPARE(player->outputDevice(), test::kDacA);
        QVERIFY(player->isPlaying());
        rig.a->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, 20000);
        QCOMPARE(rig.b->framesWritten() + rig.a->framesWritten(), std::int64_t(44100));
    }
};

QL_TEST_MAIN_CORE(AudioPlayerTest)
#include "AudioPlayerTest.moc"
