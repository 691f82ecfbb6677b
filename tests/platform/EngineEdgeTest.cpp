// Guards against: samples dropped or a stall at the engine's edges.
// The output engine at its edges: a full ring behind a rate converter, a
// device that vanishes or will not reopen, odd start times.
#include "platform/audio/AudioFile.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/audio/Voice.h"

#include "PlayerRig.h"
#include "TestHome.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

using namespace ql;
using namespace ql::platform;
using test::Finishes;
using test::physical;
using test::PlayerRig;

class EngineEdgeTest : public QObject {
    Q_OBJECT
private slots:
    // A converted stream whose ring fills loses no frame. The test plays the
    // feeder: it takes small blocks, so the decoder wakes with little more
    // room than it asked for, while the converter may release more than one
    // block's worth at once. Every frame of the file must come out at the
    // new rate.
    void fullRingBehindConverterDropsNothing_data() {
        QTest::addColumn<int>("channels");
        QTest::newRow("stereo") << 2;
        QTest::newRow("three channels") << 3;
        QTest::newRow("six channels") << 6;
    }
    void fullRingBehindConverterDropsNothing() {
        QFETCH(int, channels);
        const double seconds = 6.0;
        auto opened = AudioFile::open(test::writeSine("paced.wav", 44100, seconds, 1000, channels));
        QVERIFY2(opened.file, qPrintable(opened.error));
        Voice voice(std::move(opened.file));
        const StreamFormat format{48000, SampleFormat::F32, channels};
        voice.setRunning(true);
        voice.start(format, 0);

        constexpr std::size_t kBlock = 64;
        std::vector<double> mix(kBlock * std::size_t(channels));
        std::int64_t frames = 0;
        for (int idle = 0; idle < 20000;) {
            const Voice::Pull p = voice.pull(kBlock, format);
            if (p.frames == 0 && !p.ends) {
                ++idle;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            idle = 0;
            voice.mix(mix.data(), p.frames, channels, frames, 0);
            frames += std::int64_t(p.frames);
            if (p.ends)
                break;
            // Room for the decoder, a little at a time.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        const auto expected = std::int64_t(std::llround(seconds * 48000));
        QVERIFY2(std::abs(frames - expected) <= 2,
                 qPrintable(QStringLiteral("%1 frames, %2 expected").arg(frames).arg(expected)));
    }

    // A device that fails while the player is playing ends the player with
    // a failure, however the engine finds out.
    void deviceFailureEndsThePlayer_data() {
        QTest::addColumn<QString>("failure");
        QTest::newRow("gone, first seen by the buffer report") << "report";
        QTest::newRow("cannot reopen at a new rate") << "reopen";
    }
    void deviceFailureEndsThePlayer() {
        QFETCH(QString, failure);
        PlayerRig rig(SimClock::Manual, physical(44100, 16, false, 2));
        auto player = rig.open(test::writeSine("fails.wav", 44100, 2.0));
        Finishes fin(*player);
        QVERIFY(player->play());
        // The device holds a full buffer and plays nothing until moved: the
        // feeder only asks for reports now.
        QTRY_COMPARE(rig.b->framesWritten(), std::int64_t(4096));
        if (failure == "report")
            rig.b->loseAtReport = true;
        if (failure == "reopen") {
            rig.b->failOpen = true;
            rig.hardware().setNominalRate(rig.hardware().idOf(test::kAnalogB), 48000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{false}, 10000);
        QVERIFY(!player->isPlaying());
    }

    // A device that cannot pause in hardware takes no frames while paused;
    // the engine pauses it when nothing plays and must resume it for the
    // next play instead of waiting for room that never comes.
    void deviceWithoutHardwarePausePlaysAgain() {
        PlayerRig rig(SimClock::Manual, physical(44100, 16, false, 2));
        rig.b->noHardwarePause = true;
        auto player = rig.open(test::writeSine("nopause.wav", 44100, 2.0));
        QVERIFY(player->play());
        QTRY_COMPARE(rig.b->framesWritten(), std::int64_t(4096));
        player->pause();
        rig.b->advance(20000); // plays out the queue; the engine then pauses the sink
        QTRY_VERIFY(rig.b->isPaused());
        QVERIFY(player->play());
        QTRY_VERIFY(rig.b->framesWritten() > 4096 + 8192);
        QVERIFY(!rig.b->isPaused());
    }

    // A start time out of any range: infinities are refused; a finite time
    // centuries away is accepted and never comes, one centuries ago starts
    // at once; another player on the device plays to its end meanwhile.
    void farStartTimes_data() {
        QTest::addColumn<double>("at");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("plus infinity") << std::numeric_limits<double>::infinity() << "refused";
        QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity() << "refused";
        QTest::newRow("1e300 seconds") << 1e300 << "waits";
        QTest::newRow("largest double") << std::numeric_limits<double>::max() << "waits";
        QTest::newRow("-1e300 seconds") << -1e300 << "plays";
    }
    void farStartTimes() {
        QFETCH(double, at);
        QFETCH(QString, outcome);
        PlayerRig rig(SimClock::Untimed, physical(44100, 16, false, 2));
        auto playing = rig.open(test::writeSine("first.wav", 44100, 0.5));
        auto later = rig.open(test::writeSine("later.wav", 44100, 0.5));
        Finishes fin(*playing), laterFin(*later);
        QCOMPARE(later->playAt(at), outcome != "refused");
        QVERIFY(playing->play());
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, 10000);
        if (outcome == "refused") {
            QVERIFY(!later->lastError().isEmpty());
            QVERIFY(!later->isPlaying());
        } else if (outcome == "waits") {
            QVERIFY(later->isPlaying());
            QCOMPARE(laterFin.results, QList<bool>{});
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(laterFin.results, QList<bool>{true}, 10000);
        }
    }

    // Many channels at a high stream rate and a slow speed make each
    // decoding step large: it must still fit the ring and the file end.
    void wideFastSlowStreamPlaysToItsEnd() {
        PlayerRig rig(SimClock::Untimed, physical(384000, 32, true, 4, 8), 1 << 20);
        auto player = rig.open(test::writeSine("wide.wav", 44100, 0.5, 1000, 8));
        Finishes fin(*player);
        player->setEnableRate(true);
        player->setRate(0.5f);
        QVERIFY(player->play());
        QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{true}, 60000);
        // A second of 384 kHz frames, give or take the stretcher's rounding.
        QVERIFY2(std::abs(rig.b->framesWritten() - 384000) < 4000,
                 qPrintable(QString::number(rig.b->framesWritten())));
    }
};

QL_TEST_MAIN_CORE(EngineEdgeTest)
#include "EngineEdgeTest.moc"
