// Guards against: allocations, locks or growing memory on the audio thread.
// The engine's resource promises, watched from inside the process: the
// feeder thread ("ql-feeder") never allocates and never takes a mutex, and a
// long file plays in the same memory as a short one.
//
// This program replaces the global operator new/delete (to count live bytes
// and allocations per thread) and pthread_mutex_lock (to count locks per
// thread), so it runs alone in its own executable.
#include "PlayerRig.h"
#include "TestHome.h"

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <sndfile.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};
std::atomic<long> g_feederAllocs{0};
std::atomic<long> g_feederLocks{0};
std::atomic<bool> g_watch{false};

bool onFeeder() {
    // 0 unknown, 1 feeder, 2 other; a thread is named before its work starts.
    thread_local int kind = 0;
    if (kind == 0) {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        if (std::strcmp(name, "ql-feeder") == 0)
            kind = 1;
        else if (name[0])
            kind = 2;
    }
    return kind == 1;
}

void* track(void* p) {
    if (!p)
        throw std::bad_alloc();
    const long long now = g_live.fetch_add(static_cast<long long>(malloc_usable_size(p))) +
                          static_cast<long long>(malloc_usable_size(p));
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    if (g_watch.load(std::memory_order_relaxed) && onFeeder())
        g_feederAllocs.fetch_add(1);
    return p;
}

void untrack(void* p) {
    if (p) {
        g_live.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
        std::free(p);
    }
}

} // namespace

void* operator new(std::size_t n) {
    return track(std::malloc(n ? n : 1));
}
void* operator new[](std::size_t n) {
    return track(std::malloc(n ? n : 1));
}
void* operator new(std::size_t n, std::align_val_t a) {
    const auto al = static_cast<std::size_t>(a);
    return track(std::aligned_alloc(al, (n + al - 1) / al * al));
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return operator new(n, a);
}
void operator delete(void* p) noexcept {
    untrack(p);
}
void operator delete[](void* p) noexcept {
    untrack(p);
}
void operator delete(void* p, std::size_t) noexcept {
    untrack(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    untrack(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    untrack(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    untrack(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    untrack(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    untrack(p);
}

extern "C" int pthread_mutex_lock(pthread_mutex_t* m) {
    using Fn = int (*)(pthread_mutex_t*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (g_watch.load(std::memory_order_relaxed) && onFeeder())
        g_feederLocks.fetch_add(1);
    return real(m);
}

using namespace ql;
using namespace ql::platform;
using test::physical;
using test::PlayerRig;

namespace {

QString longFile(const QString& name, double minutes) {
    return test::writeTemp(name, {.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                  .rate = 8000,
                                  .channels = 1,
                                  .frames = std::int64_t(minutes * 60 * 8000),
                                  .signal = test::Signal::Sine,
                                  .frequency = 300});
}

struct FeederUse {
    long allocations = 0;
    long locks = 0;
};

// Runs `play` (which makes its rig and players and plays them) with the
// feeder watched.
template <typename F> FeederUse watchFeeder(F play) {
    g_feederAllocs = 0;
    g_feederLocks = 0;
    g_watch = true;
    play();
    g_watch = false;
    return {g_feederAllocs.load(), g_feederLocks.load()};
}

// Heap bytes in use at the peak while `path` plays to its end (beyond what
// was in use before), on a fresh untimed device.
long long peakWhilePlaying(const QString& path, std::int64_t* frames) {
    PlayerRig rig(SimClock::Untimed, physical(8000, 16, false, 2, 1), 0);
    const long long base = g_live.load();
    g_peak.store(base);
    {
        auto player = rig.open(path);
        bool done = false;
        player->onFinished = [&done](bool) { done = true; };
        if (!player->play())
            return -1;
        if (!QTest::qWaitFor([&] { return done; }, 120000))
            return -1;
    }
    *frames = rig.b->framesWritten();
    return g_peak.load() - base;
}

} // namespace

class EngineResourceTest : public QObject {
    Q_OBJECT
private slots:
    void longFilePlaysInTheSameMemory() {
        const QString shortPath = longFile("one-minute.wav", 1);
        const QString longPath = longFile("sixty-minutes.wav", 60);
        std::int64_t shortFrames = 0, longFrames = 0;
        const long long shortPeak = peakWhilePlaying(shortPath, &shortFrames);
        const long long longPeak = peakWhilePlaying(longPath, &longFrames);
        QCOMPARE(shortFrames, std::int64_t(60 * 8000));
        QCOMPARE(longFrames, std::int64_t(3600 * 8000));
        QVERIFY(shortPeak > 0);
        // The long file is 55 MiB of samples; the engine must hold none of it
        // beyond its fixed buffers.
        QVERIFY2(
            longPeak <= shortPeak + (256 << 10),
            qPrintable(QString("1 min: %1 bytes, 60 min: %2 bytes").arg(shortPeak).arg(longPeak)));
    }

    // Everything the main thread does to a playing voice (pause, resume,
    // seek, volume, a second voice joining, a rate conversion, the end)
    // leaves the feeder without allocations or locks. The first voice is
    // AAC, decoded by FFmpeg.
    void feederNeitherAllocatesNorLocks() {
        test::AudioShape a;
        a.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        a.frames = 44100 * 2;
        const QString flac = test::tempFile("watch-a.flac");
        QVERIFY(test::writeAudio(flac, a));
        const QString pa = test::tempFile("watch-a.m4a");
        QVERIFY(test::runFfmpeg({"-i", flac, "-c:a", "aac", pa}));
        a.rate = 48000; // converted by the engine
        const QString pb = test::tempFile("watch-b.flac");
        QVERIFY(test::writeAudio(pb, a));

        const FeederUse use = watchFeeder([&] {
            PlayerRig rig(SimClock::RealTime, physical(44100, 24, false, 4), 32 << 20);
            auto first = rig.open(pa);
            auto second = rig.open(pb);
            bool done = false;
            first->onFinished = [&done](bool) { done = true; };
            QVERIFY(first->play());
            QTest::qWait(150);
            first->pause();
            QTest::qWait(50);
            QVERIFY(first->play());
            first->setVolume(0.5f);
            QVERIFY(second->play());
            QTest::qWait(150);
            first->setCurrentTime(1.5);
            second->stop();
            QVERIFY(QTest::qWaitFor([&] { return done; }, 20000));
            QVERIFY(rig.b->framesWritten() > 44100 / 2);
        });
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(use.allocations, 0L);
        QCOMPARE(use.locks, 0L);
    }

    // The same for what gapless playback, speed and metering add: a start
    // scheduled at another voice's end (and one far from any end), a voice
    // at another speed, speed changed while playing, metering read while
    // playing, and volume steps.
    void scheduledStretchedAndMeteredVoicesNeitherAllocateNorLock() {
        test::AudioShape a;
        a.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        a.frames = 44100;
        const QString pa = test::tempFile("watch-first.wav");
        QVERIFY(test::writeAudio(pa, a));
        a.frames = 44100 * 2;
        const QString pb = test::tempFile("watch-next.wav");
        QVERIFY(test::writeAudio(pb, a));

        const FeederUse use = watchFeeder([&] {
            PlayerRig rig(SimClock::RealTime, physical(44100, 24, false, 4), 32 << 20);
            auto first = rig.open(pa);
            auto next = rig.open(pb);
            auto stretched = rig.open(pb);
            auto later = rig.open(pa);
            bool done = false;
            next->onFinished = [&done](bool) { done = true; };
            first->setMeteringEnabled(true);
            stretched->setEnableRate(true);
            stretched->setRate(1.25f);
            stretched->setVolume(0.3f);
            QVERIFY(first->play());
            QVERIFY(stretched->play());
            QVERIFY(next->prepareToPlay());
            QVERIFY(next->playAt(first->deviceCurrentTime() + first->duration() -
                                 first->currentTime() + 0.02));
            QVERIFY(later->playAt(first->deviceCurrentTime() + 0.7));
            for (int i = 0; i < 10; ++i) {
                QTest::qWait(50);
                first->updateMeters();
                first->setVolume(1.0f - 0.05f * float(i));
            }
            stretched->setRate(0.75f);
            QVERIFY(QTest::qWaitFor([&done] { return done; }, 20000));
            QVERIFY(rig.b->framesWritten() >= 44100 * 3);
        });
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(use.allocations, 0L);
        QCOMPARE(use.locks, 0L);
    }

    // The watch itself works: a mutex taken on a thread named like the
    // feeder is counted (so a zero above means something).
    void watchSeesAFeederNamedThread() {
        g_feederLocks = 0;
        g_watch = true;
        std::thread t([] {
            pthread_setname_np(pthread_self(), "ql-feeder");
            std::mutex m;
            m.lock();
            m.unlock();
            ::operator delete(::operator new(32)); // a call, which cannot be elided
        });
        t.join();
        g_watch = false;
        QCOMPARE(g_feederLocks.load(), 1L);
        QVERIFY(g_feederAllocs.load() >= 1);
    }
};

QL_TEST_MAIN_CORE(EngineResourceTest)
#include "EngineResourceTest.moc"
