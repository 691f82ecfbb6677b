// Guards against: surround or length-less files played wrong or cut short.
// What the player makes of files that are awkward to play: more channels
// than the device has, and a FLAC written through a pipe, which stores no
// length.
#include "PlayerRig.h"
#include "TestHome.h"

#include <sndfile.h>

#include <QTest>

#include <cmath>

using namespace ql;
using namespace ql::platform;
using test::physical;
using test::PlayerRig;

class PlayerContentTest : public QObject {
    Q_OBJECT
private slots:
    // A 5.1 file on a stereo device: each channel is heard on its side(s) at
    // the standard downmix level (centre and surrounds 3 dB below the
    // fronts, no LFE), scaled so that all six at full scale just reach it.
    // The speakers come from the file: a WAVE_FORMAT_EXTENSIBLE mask (2.1:
    // left, right, LFE), Ogg Vorbis's own order (left, centre, right, ...).
    void surroundIsFoldedToStereo_data() {
        QTest::addColumn<QString>("container"); // "": 5.1 WAV in its default order
        QTest::addColumn<int>("channel");       // -1: all of them
        QTest::addColumn<double>("amplitude");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        const double front = 1 / (1 + std::sqrt(2.0)), side = front * std::sqrt(0.5);
        QTest::newRow("2.1 mask: the third channel is the LFE")
            << "wavex 2.1" << 2 << 0.5 << 0.0 << 0.0;
        QTest::newRow("2.1 mask: the fronts need no scaling")
            << "wavex 2.1" << 0 << 0.5 << 1.0 << 0.0;
        QTest::newRow("Ogg Vorbis 5.1: the centre, its second channel")
            << "vorbis" << 2 << 0.5 << side << side;
        QTest::newRow("front left") << "" << 0 << 0.5 << front << 0.0;
        QTest::newRow("front right") << "" << 1 << 0.5 << 0.0 << front;
        QTest::newRow("centre") << "" << 2 << 0.5 << side << side;
        QTest::newRow("LFE") << "" << 3 << 0.5 << 0.0 << 0.0;
        QTest::newRow("back left") << "" << 4 << 0.5 << side << 0.0;
        QTest::newRow("back right") << "" << 5 << 0.5 << 0.0 << side;
        QTest::newRow("all six at full scale") << "" << -1 << 1.0 << 1.0 << 1.0;
    }
    void surroundIsFoldedToStereo() {
        QFETCH(QString, container);
        QFETCH(int, channel);
        QFETCH(double, amplitude);
        QFETCH(double, left);
        QFETCH(double, right);
        constexpr int kFrames = 11025;
        test::Samples in;
        in.rate = 44100;
        in.channels = container == "wavex 2.1" ? 3 : 6;
        std::vector<double> tone(kFrames);
        for (int f = 0; f < kFrames; ++f) {
            tone[std::size_t(f)] = amplitude * std::sin(2 * M_PI * 1000 * f / 44100.0);
            for (int c = 0; c < in.channels; ++c) {
                const double v = channel < 0 || c == channel ? tone[std::size_t(f)] : 0.0;
                in.data.push_back(
                    std::int32_t(std::clamp(v * 2147483648.0, -2147483648.0, 2147483647.0)));
            }
        }
        QString path = test::tempFile("surround.wav");
        QVERIFY(test::writeSamples(path, SF_FORMAT_WAV | SF_FORMAT_PCM_24, in));
        if (!container.isEmpty()) {
            const QString plain = path;
            path = test::tempFile(container == "vorbis" ? "surround.ogg" : "surround-2.1.wav");
            QVERIFY(test::runFfmpeg(
                container == "vorbis"
                    ? QStringList{"-i", plain, "-c:a", "libvorbis", "-q:a", "8", path}
                    : QStringList{"-i", plain, "-af", "channelmap=channel_layout=2.1", "-c:a",
                                  "pcm_s24le", path}));
        }

        PlayerRig rig(SimClock::Untimed, physical(44100, 16, false, 2));
        const auto heard = test::playedThrough(rig, path);
        QVERIFY(!heard.empty());
        if (container == "vorbis") {
            // Lossy: the level of each side, within 0.2 dB (or silent).
            for (int side = 0; side < 2; ++side) {
                double sum = 0;
                for (int f = 2000; f < 9000; ++f)
                    sum += std::pow(heard[std::size_t(2 * f + side)] / 2147483648.0, 2);
                const double want = (side ? right : left) * 0.5 / M_SQRT2;
                QVERIFY(std::abs(std::sqrt(sum / 7000) - want) < 0.023 * want + 1e-4);
            }
            return;
        }
        QCOMPARE(qsizetype(heard.size()), qsizetype(2 * kFrames));
        // Within two steps of the 16-bit device.
        for (int f = 0; f < kFrames; ++f) {
            for (int side = 0; side < 2; ++side) {
                const double want = (side ? right : left) * tone[std::size_t(f)] * 32768.0;
                const double got = heard[std::size_t(2 * f + side)] / 65536.0;
                if (std::abs(got - want) > 2)
                    QFAIL(qPrintable(QString("frame %1 side %2: %3, not %4")
                                         .arg(f)
                                         .arg(side)
                                         .arg(got)
                                         .arg(want)));
            }
        }
    }

    // A device with as many channels as the file, or offering that many,
    // takes them as they are. The file after it: a stereo one makes it stereo
    // again; a mono one is heard on the front left and right only.
    void surroundOnASixChannelDeviceIsExact_data() {
        QTest::addColumn<int>("deviceChannels");
        QTest::addColumn<bool>("offersSix");
        QTest::addColumn<int>("nextChannels");
        QTest::newRow("device at six channels, then mono") << 6 << false << 1;
        QTest::newRow("device at two, offering six, then stereo") << 2 << true << 2;
        QTest::newRow("device at two, offering six, then mono") << 2 << true << 1;
    }
    void surroundOnASixChannelDeviceIsExact() {
        QFETCH(int, deviceChannels);
        QFETCH(bool, offersSix);
        QFETCH(int, nextChannels);
        test::AudioShape shape;
        shape.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        shape.channels = 6;
        shape.frames = 11025;
        const QString path = test::tempFile("surround-exact.wav");
        QVERIFY(test::writeAudio(path, shape));
        std::vector<PhysicalFormat> offered;
        if (offersSix)
            offered.push_back(physical(44100, 24, false, 4, 6));
        PlayerRig rig(SimClock::Untimed, physical(44100, 24, false, 4, deviceChannels), 64 << 20,
                      4096, offered);
        auto player = rig.open(path);
        QVERIFY(player);
        test::Finishes fin(*player);
        QVERIFY(player->play());
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, ql::test::kOutcomeMs);
        QCOMPARE(test::allSessions(*rig.b), test::readSamples(path).data);
        shape.channels = nextChannels;
        shape.frames = 4410;
        const QString after = test::tempFile("after.wav");
        QVERIFY(test::writeAudio(after, shape));
        auto next = rig.open(after);
        QVERIFY(next);
        test::Finishes nextFin(*next);
        QVERIFY(next->play());
        QTRY_COMPARE_WITH_TIMEOUT(nextFin.results, QList<bool>{true}, ql::test::kOutcomeMs);
        const auto sent = test::readSamples(after).data;
        std::vector<std::int32_t> want;
        for (std::size_t i = 0; i < sent.size(); i += std::size_t(nextChannels)) // on two channels
            want.insert(want.end(), {sent[i], sent[i + std::size_t(nextChannels) - 1]});
        QCOMPARE(rig.b->recordedInt32(rig.b->opens() - 1), want);
    }

    // The whole file plays, from where it was placed, and ends normally; the
    // length is known from the start, and is the decoded one after the end.
    void aFileWithoutStoredLengthPlaysToItsEnd_data() {
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<qint64>("from");
        QTest::newRow("1 s") << qint64(44100) << qint64(0);
        QTest::newRow("61 s") << qint64(44100 * 61) << qint64(0);
        QTest::newRow("61 s, placed at 30 s") << qint64(44100 * 61) << qint64(44100 * 30 + 7);
    }
    void aFileWithoutStoredLengthPlaysToItsEnd() {
        QFETCH(qint64, frames);
        QFETCH(qint64, from);
        test::AudioShape shape;
        shape.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        shape.frames = frames;
        const QString wav = test::tempFile("piped.wav"), flac = test::tempFile("piped.flac");
        QVERIFY(test::writeAudio(wav, shape));
        QVERIFY(test::pipedFlac(wav, flac));
        const test::Samples want = test::readSamples(wav);

        PlayerRig rig(SimClock::Untimed, physical(44100, 16, false, 2));
        auto player = rig.open(flac);
        QVERIFY(player);
        test::Finishes fin(*player);
        // Read from the headers of the last frames before a sample is played.
        QCOMPARE(player->duration(), double(frames) / 44100);
        if (from > 0)
            player->setCurrentTime(double(from) / 44100);
        QVERIFY(player->play());
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, 60000);
        QCOMPARE(player->duration(), double(frames) / 44100);
        const auto heard = rig.b->recordedInt32(0);
        QCOMPARE(qint64(heard.size()), 2 * (frames - from));
        // A start placed by the user fades in over 5 ms (221 frames).
        const std::vector<std::int32_t> tail(want.data.begin() + 2 * from, want.data.end());
        QVERIFY(test::equalWithFades(heard, tail, 2, 1 << 16, {{0, from > 0 ? 221 : 0, false}}));
    }
};

QL_TEST_MAIN_CORE(PlayerContentTest)
#include "PlayerContentTest.moc"
