// Guards against: stale or wrong sound after a seek, skip, pause or device change.
// The output engine against a simulated card: what a listener hears when the
// user seeks, skips or pauses, when the device is given back, and when
// devices come and go.
#include "PlayerRig.h"
#include "TestHome.h"

#include "platform/audio/OutputEngines.h"

#include <sndfile.h>

#include <QDirIterator>
#include <QFile>

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

// A file on a mount that hangs: while g_hang is set, a read-ahead worker's
// read() or pread() does not return (libsndfile reads an opened file at a
// position of its own, through pread()).
namespace {
std::atomic<bool> g_hang{false};
std::atomic<int> g_hanging{0};

void hangIfAsked(int fd) {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    char file[512] = {};
    const auto len = readlink(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(),
                              file, sizeof file - 1);
    if (g_hang.load() && std::strcmp(name, "ql-reader") == 0 && len > 0 &&
        std::strstr(file, "hung")) {
        g_hanging.fetch_add(1);
        while (g_hang.load())
            usleep(1000);
        g_hanging.fetch_sub(1);
    }
}
} // namespace

extern "C" ssize_t read(int fd, void* buf, size_t n) {
    using Fn = ssize_t (*)(int, void*, size_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "read"));
    hangIfAsked(fd);
    return real(fd, buf, n);
}

extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t at) {
    using Fn = ssize_t (*)(int, void*, size_t, off_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pread"));
    hangIfAsked(fd);
    return real(fd, buf, n, at);
}

extern "C" ssize_t pread64(int fd, void* buf, size_t n, off64_t at) {
    using Fn = ssize_t (*)(int, void*, size_t, off64_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pread64"));
    hangIfAsked(fd);
    return real(fd, buf, n, at);
}

using namespace ql;
using namespace ql::platform;
using test::physical;
using test::PlayerRig;

namespace {

constexpr std::int64_t kHeard = 5000; // frames heard before the change
constexpr std::int64_t kSeek = 20000;
constexpr std::int64_t kFade = 221; // 5 ms at 44.1 kHz, the part kept and the fade
constexpr int kPcm16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

int feederThreads() {
    int n = 0;
    QDirIterator it(QStringLiteral("/proc/self/task"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        QFile comm(it.next() + QStringLiteral("/comm"));
        n += comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "ql-feeder";
    }
    return n;
}

} // namespace

class EngineCardTest : public QObject {
    Q_OBJECT
private slots:
    // A change the user asks for is heard at once: the device keeps 5 ms of
    // what it held, the old signal fades out over the next 5 ms (no click),
    // and nothing is skipped or heard twice.
    void userChangesAreHeardAtOnce_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("seek: the old position fades out") << "seek";
        QTest::newRow("next: the old track fades out") << "next";
        QTest::newRow("stop: fades out, play goes on") << "stop";
        QTest::newRow("pause: fades out, resume fades in") << "pause";
    }
    void userChangesAreHeardAtOnce() {
        QFETCH(QString, change);
        const QString pa = test::writeNoise("card-a.wav", kPcm16, 30000);
        const QString pb = test::writeNoise("card-b.wav", kPcm16, 30000);
        const test::Samples ra = test::readSamples(pa), rb = test::readSamples(pb);
        PlayerRig rig(SimClock::Manual, physical(44100, 16, false, 2));
        auto a = rig.open(pa);
        auto b = rig.open(pb);
        test::Finishes fa(*a), fb(*b);
        QVERIFY(a->play());
        rig.b->advance(kHeard);
        QTRY_COMPARE(rig.b->framesHeard(), kHeard);
        // The device's queue fills again, a block at a time.
        QTRY_VERIFY(rig.b->framesWritten() > kHeard + 4096 - 1024);
        // Heard in full up to the fade, which ends at `cut`.
        const std::int64_t fadeAt = kHeard + kFade, cut = fadeAt + kFade;
        std::vector<std::int32_t> want(ra.data.begin(), ra.data.begin() + 2 * cut);
        const auto append = [&want](const test::Samples& s, std::int64_t from) {
            want.insert(want.end(), s.data.begin() + 2 * from, s.data.end());
        };
        if (change == "seek") {
            a->setCurrentTime(double(kSeek) / 44100);
            append(ra, kSeek);
        } else if (change == "next") {
            a->stop();
            QVERIFY(b->play());
            append(rb, 0);
        } else {
            change == "pause" ? a->pause() : a->stop();
            rig.b->advance(3000);
            QTRY_VERIFY(change == "pause" ? rig.b->isPaused() : !rig.b->isOpen());
            QTest::qWait(50);
            QCOMPARE(rig.b->framesHeard(), cut);
            QCOMPARE(a->currentTime(), double(cut) / 44100);
            QVERIFY(a->play());
            append(ra, cut);
        }
        rig.b->advance(10'000'000);
        QTRY_COMPARE_WITH_TIMEOUT(fa.results.size() + fb.results.size(), qsizetype(1), 20000);
        // A new track starts as it is; a resumed or seeked one fades in.
        std::vector<test::Fade> fades{{std::size_t(2 * fadeAt), int(kFade), true}};
        if (change != "next")
            fades.push_back({std::size_t(2 * cut), int(kFade), false});
        QVERIFY(test::equalWithFades(test::allSessions(*rig.b), want, 2, 1 << 16, fades));
    }

    // The device goes back to the system when nothing plays on it: after an
    // idle while, or at once when another program asks; never while playing.
    void theDeviceIsGivenBack_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("released");
        QTest::newRow("ended, idle: closed within 6 s, twice") << "ended" << true;
        QTest::newRow("paused, asked: closed") << "paused" << true;
        QTest::newRow("playing, asked: refused") << "playing" << false;
    }
    void theDeviceIsGivenBack() {
        QFETCH(QString, state);
        QFETCH(bool, released);
        const QString path = test::writeNoise("card-idle.wav", kPcm16, 30000);
        PlayerRig rig(SimClock::Manual, physical(44100, 16, false, 2));
        auto player = rig.open(path);
        test::Finishes fin(*player);
        QVERIFY(player->play());
        QTRY_VERIFY(rig.b->framesWritten() > 0);
        QVERIFY(rig.b->isOpen());
        const DeviceId id = rig.hardware().idOf(test::kAnalogB);
        if (state == "ended") {
            // Closed, the upkeep rests; a second play opens the device again
            // and it is still given back after it.
            for (int round = 1; round <= 2; ++round) {
                QVERIFY(rig.platform.outputs->upkeepRunning());
                rig.b->advance(10'000'000);
                QTRY_COMPARE_WITH_TIMEOUT(fin.results.size(), qsizetype(round), 20000);
                QTRY_VERIFY_WITH_TIMEOUT(!rig.b->isOpen(), 6000);
                QTRY_VERIFY(!rig.platform.outputs->upkeepRunning());
                if (round == 1)
                    QVERIFY(player->play());
            }
            QCOMPARE(fin.results, (QList<bool>{true, true}));
            return;
        }
        if (state == "paused")
            player->pause();
        QCOMPARE(rig.platform.outputs->releaseDevice(id), released);
        QCOMPARE(rig.b->isOpen(), !released);
        QCOMPARE(player->isPlaying(), state == "playing");
    }

    // A reader stuck in read() on a hung mount does not hold up the window:
    // stop() and the player's end return while the read still hangs, and the
    // worker finishes on its own later.
    void aStuckReaderDoesNotBlockStop() {
        const QString path = test::writeNoise("card-hung.wav", kPcm16, 44100 * 60);
        PlayerRig rig(SimClock::Untimed, physical(44100, 16, false, 2), 0);
        auto player = rig.open(path);
        QVERIFY(player->play());
        g_hang = true;
        QTRY_VERIFY(g_hanging.load() > 0);
        player->stop();
        QVERIFY2(g_hanging.load() > 0, "stop() waited for the hung read");
        player.reset();
        QVERIFY2(g_hanging.load() > 0, "the player's end waited for the hung read");
        g_hang = false;
        QTRY_COMPARE(g_hanging.load(), 0);
    }

    // One player starving (its file hangs) does not stall the device: the
    // other keeps playing.
    void aStarvingPlayerDoesNotStallTheOthers() {
        const QString steady = test::writeNoise("card-steady.wav", kPcm16, 44100 * 30);
        const QString hung = test::writeNoise("card-hung-long.wav", kPcm16, 44100 * 30);
        PlayerRig rig(SimClock::RealTime, physical(44100, 16, false, 2), 0);
        auto a = rig.open(steady);
        auto b = rig.open(hung);
        QVERIFY(a->play() && b->play());
        g_hang = true;
        // Past what b's read-ahead and ring hold (about 5 s), then a second.
        QTest::qWait(6500);
        const std::int64_t before = rig.b->framesWritten();
        QTest::qWait(1000);
        const std::int64_t written = rig.b->framesWritten() - before;
        g_hang = false;
        QVERIFY2(written > 44100 * 8 / 10, qPrintable(QString::number(written)));
        QTRY_COMPARE(g_hanging.load(), 0);
    }

    // A device unplugged while playing and plugged in again (a new id each
    // time) leaves no engine or feeder thread behind.
    void unplugAndReplugLeaveNothingBehind() {
        const QString path = test::writeNoise("card-plug.wav", kPcm16, 30000);
        PlayerRig rig(SimClock::RealTime, physical(44100, 16, false, 2));
        const int feedersBefore = feederThreads();
        const int enginesBefore = rig.platform.outputs->engineCount();
        for (int round = 0; round < 5; ++round) {
            auto player = rig.open(path);
            test::Finishes fin(*player);
            QVERIFY(player->play());
            QTRY_VERIFY(rig.b->framesWritten() > 0);
            QVERIFY(rig.hardware().unplug(test::kAnalogB));
            QTRY_COMPARE_WITH_TIMEOUT(fin.results, QList<bool>{false}, 5000);
            player.reset();
            QVERIFY(rig.hardware().plug(SimDevice::output("Analog B", test::kAnalogB)));
        }
        rig.platform.outputs->tidy();
        QCOMPARE(rig.platform.outputs->engineCount(), enginesBefore);
        QCOMPARE(feederThreads(), feedersBefore);
    }
};

QL_TEST_MAIN_CORE(EngineCardTest)
#include "EngineCardTest.moc"
