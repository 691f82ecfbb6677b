// The audio engine against FFmpeg, in one run:
//  - throughput on the untimed simulated device for a 5-minute 44.1 kHz/16-bit
//    stereo FLAC, against `ffmpeg -v quiet -i FILE -f null -` (goal: ratio ≤ 1);
//  - the same for a 96 kHz/24-bit FLAC converted to a 48 kHz stream, against
//    FFmpeg resampling with soxr to 48 kHz (goal: ratio ≤ 1);
//  - CPU time while playing 30 s on the real-time clock, as a share of one
//    core (goal: ≤ 1 %);
//  - CPU time while playing 30 s at speed 1.25 (time-stretch with the pitch
//    kept) on the real-time clock, against the same at speed 1.0: the ratio
//    is what the speed pop-up costs;
//  - CPU time while playing 30 s of a 44.1 kHz stereo file on a 48 kHz
//    stream (rate conversion), and of a 5.1 file on a stereo stream
//    (downmix), each against the plain path in the same run (goal: ≤ 2 % of
//    a core each);
//  - on a real-time device with a card's 200 ms buffer: the feeder thread's
//    wake-ups per second of steady playback (goal ≤ 25) and the process's
//    CPU share, and the time from a seek to the first heard frame of the new
//    position (goal ≤ one period, 50 ms);
//  - a plain FLAC on ALSA "default" through a private PipeWire graph: the
//    process's wake-ups per second (and whose they are) and CPU share,
//    beside the simulated card, and how long after a seek the player's
//    position (what the time label shows) reaches the new place.
// Files are generated into a temporary folder on first use.
#include "platform/alsa/AlsaPlatform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"

#include "BenchAudio.h"
#include "SoundServerGraph.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sndfile.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <vector>

using namespace ql::platform;

namespace {

QTemporaryDir& workDir() {
    static QTemporaryDir dir;
    return dir;
}

QString makeFlac(const QString& name, int rate, int subformat, double seconds, int channels = 2) {
    const QString path = workDir().path() + "/" + name;
    if (!QFile::exists(path) &&
        !ql::bench::writeMusicFlac(path, rate, subformat, seconds, channels))
        return {};
    return path;
}

PhysicalFormat physical(double rate, int bits, bool isFloat, int bytes) {
    return PhysicalFormat{rate, bits, isFloat, 2, bytes * 2, true};
}

Platform platformAt(SimClock clock, const PhysicalFormat& format) {
    SimRig rig = SimRig::noSoundCard();
    rig.devices[0].nominalRate = format.rate;
    rig.devices[0].outputStreams[0].format = format;
    return makeSimulatedPlatform(std::move(rig), SimOutputs{clock, {}});
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Plays `path` to its end; wall seconds, or -1 on failure.
double playThrough(const QString& path, const PhysicalFormat& format) {
    Platform p = platformAt(SimClock::Untimed, format);
    const auto t0 = std::chrono::steady_clock::now();
    auto opened = AudioPlayer::open(*p.outputs, path);
    if (!opened.player || !opened.player->play())
        return -1;
    while (opened.player->isPlaying())
        QThread::usleep(200);
    return seconds(t0);
}

double runFfmpeg(const QStringList& args) {
    QProcess proc;
    proc.setStandardInputFile(QProcess::nullDevice());
    const auto t0 = std::chrono::steady_clock::now();
    proc.start(QStringLiteral("ffmpeg"), args);
    if (!proc.waitForFinished(600000) || proc.exitCode() != 0)
        return -1;
    return seconds(t0);
}

void throughput(benchmark::State& state, const QString& path, const PhysicalFormat& format,
                const QStringList& peerArgs) {
    double ours = 0, peer = 0;
    int n = 0;
    for (auto _ : state) {
        const double a = playThrough(path, format);
        const double b = runFfmpeg(peerArgs);
        if (a < 0 || b < 0) {
            state.SkipWithError("playback or ffmpeg failed");
            return;
        }
        state.SetIterationTime(a);
        ours += a;
        peer += b;
        ++n;
    }
    state.counters["ours_s"] = ours / n;
    state.counters["ffmpeg_s"] = peer / n;
    state.counters["ratio"] = ours / peer;
}

void BM_Flac44k16_UntimedVsFfmpeg(benchmark::State& state) {
    const QString path = makeFlac("five-minutes-44k16.flac", 44100, SF_FORMAT_PCM_16, 300);
    throughput(state, path, physical(44100, 16, false, 2),
               {"-v", "quiet", "-i", path, "-f", "null", "-"});
}

void BM_Flac96k24_To48k_UntimedVsFfmpegSoxr(benchmark::State& state) {
    const QString path = makeFlac("five-minutes-96k24.flac", 96000, SF_FORMAT_PCM_24, 300);
    throughput(
        state, path, physical(48000, 24, false, 4),
        {"-v", "quiet", "-i", path, "-af", "aresample=48000:resampler=soxr", "-f", "null", "-"});
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct CpuUse {
    double cpu = -1; // seconds of CPU time of the whole process
    double wall = 0;
};

// Plays `path` for 30 s on the real-time clock at `speed` (rate control off
// at 1.0, as the player runs then), on a 16-bit stereo device at `deviceRate`.
CpuUse cpuWhilePlaying30s(const QString& path, float speed, double deviceRate = 44100) {
    Platform p = platformAt(SimClock::RealTime, physical(deviceRate, 16, false, 2));
    auto opened = AudioPlayer::open(*p.outputs, path);
    if (!opened.player)
        return {};
    opened.player->setEnableRate(speed != 1.0f);
    opened.player->setRate(speed);
    if (!opened.player->play())
        return {};
    const double cpu0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    QThread::sleep(30);
    return {cpuSeconds() - cpu0, seconds(t0)};
}

// The plain path: 44.1 kHz/16-bit on a 44.1 kHz device, no conversion.
void BM_RealTime30s_CpuShare(benchmark::State& state) {
    const QString path = makeFlac("one-minute-44k16.flac", 44100, SF_FORMAT_PCM_16, 60);
    for (auto _ : state) {
        const CpuUse use = cpuWhilePlaying30s(path, 1.0f);
        if (use.cpu < 0) {
            state.SkipWithError("playback failed");
            return;
        }
        state.SetIterationTime(use.cpu);
        state.counters["cpu_s"] = use.cpu;
        state.counters["wall_s"] = use.wall;
        state.counters["core_percent"] = 100.0 * use.cpu / use.wall;
    }
}

void BM_RealTime30s_Speed125_VsSpeed100(benchmark::State& state) {
    const QString path = makeFlac("one-minute-44k16.flac", 44100, SF_FORMAT_PCM_16, 60);
    for (auto _ : state) {
        const CpuUse fast = cpuWhilePlaying30s(path, 1.25f);
        const CpuUse plain = cpuWhilePlaying30s(path, 1.0f);
        if (fast.cpu < 0 || plain.cpu < 0) {
            state.SkipWithError("playback failed");
            return;
        }
        state.SetIterationTime(fast.cpu);
        state.counters["cpu_1.25_s"] = fast.cpu;
        state.counters["cpu_1.0_s"] = plain.cpu;
        state.counters["core_percent_1.25"] = 100.0 * fast.cpu / fast.wall;
        state.counters["ratio"] = fast.cpu / plain.cpu;
    }
}

void BM_RealTime30s_ConvertedAndDownmixed_VsPlain(benchmark::State& state) {
    const QString plainPath = makeFlac("one-minute-44k16.flac", 44100, SF_FORMAT_PCM_16, 60);
    const QString surround = makeFlac("one-minute-44k16-5.1.flac", 44100, SF_FORMAT_PCM_16, 60, 6);
    for (auto _ : state) {
        const CpuUse converted = cpuWhilePlaying30s(plainPath, 1.0f, 48000);
        const CpuUse downmixed = cpuWhilePlaying30s(surround, 1.0f);
        const CpuUse plain = cpuWhilePlaying30s(plainPath, 1.0f);
        if (converted.cpu < 0 || downmixed.cpu < 0 || plain.cpu < 0) {
            state.SkipWithError("playback failed");
            return;
        }
        state.SetIterationTime(converted.cpu + downmixed.cpu);
        state.counters["core_percent_44k_on_48k"] = 100.0 * converted.cpu / converted.wall;
        state.counters["core_percent_5.1_on_stereo"] = 100.0 * downmixed.cpu / downmixed.wall;
        state.counters["core_percent_plain"] = 100.0 * plain.cpu / plain.wall;
        state.counters["ratio_converted"] = converted.cpu / plain.cpu;
        state.counters["ratio_downmixed"] = downmixed.cpu / plain.cpu;
    }
}

// Context switches so far of each thread of the process by its name
// (voluntary: it slept; involuntary: it was preempted, which a loaded
// machine adds), threads of one name summed.
struct Switches {
    long voluntary = 0, involuntary = 0;
    long all() const { return voluntary + involuntary; }
};
std::map<QByteArray, Switches> switchesByThread() {
    std::map<QByteArray, Switches> by;
    QDirIterator it(QStringLiteral("/proc/self/task"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString task = it.next();
        QFile comm(task + QStringLiteral("/comm"));
        QFile status(task + QStringLiteral("/status"));
        if (!comm.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
            continue;
        Switches& s = by[comm.readAll().trimmed()];
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                s.voluntary += line.split(':').last().trimmed().toLong();
            else if (line.startsWith("nonvoluntary_ctxt_switches:"))
                s.involuntary += line.split(':').last().trimmed().toLong();
        }
    }
    return by;
}

// Context switches of the feeder thread so far (each sleep is one), -1 when
// there is none.
long feederSwitches() {
    const auto by = switchesByThread();
    const auto feeder = by.find("ql-feeder");
    return feeder == by.end() ? -1 : feeder->second.all();
}

// A 44.1 kHz/16-bit card on the real-time clock with a card's buffer:
// 200 ms, woken a quarter of it (a period) at a time.
Platform simulatedCard() {
    SimRig rig = SimRig::noSoundCard();
    rig.devices[0].nominalRate = 44100;
    rig.devices[0].outputStreams[0].format = physical(44100, 16, false, 2);
    auto card = std::make_shared<SimSinkControl>(SimClock::RealTime, 0, 8820);
    const QString uid = rig.devices[0].uid;
    return makeSimulatedPlatform(std::move(rig), SimOutputs{SimClock::RealTime, {{uid, card}}});
}

// Ten seeks, 300 ms apart: from the call until the heard position has
// moved past the target.
struct SeekTimes {
    double meanMs = 0, worstMs = 0;
};
SeekTimes seekToHeard(AudioPlayer& player) {
    SeekTimes t;
    const int seeks = 10;
    for (int i = 0; i < seeks; ++i) {
        const double target = 20.0 + 2.0 * i;
        player.setCurrentTime(target);
        const auto s0 = std::chrono::steady_clock::now();
        while (player.currentTime() <= target + 1e-4 && seconds(s0) < 2)
            QThread::usleep(200);
        t.worstMs = std::max(t.worstMs, 1000.0 * seconds(s0));
        t.meanMs += 1000.0 * seconds(s0) / seeks;
        QThread::msleep(300);
    }
    return t;
}

void BM_CardSteadyWakeupsAndSeekToHeard(benchmark::State& state) {
    const QString path = makeFlac("one-minute-44k16.flac", 44100, SF_FORMAT_PCM_16, 60);
    for (auto _ : state) {
        Platform p = simulatedCard();
        auto opened = AudioPlayer::open(*p.outputs, path);
        if (!opened.player || !opened.player->play()) {
            state.SkipWithError("playback failed");
            return;
        }
        QThread::msleep(500);
        const long w0 = feederSwitches();
        const double cpu0 = cpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        QThread::sleep(10);
        const double wall = seconds(t0);
        const double cpu = cpuSeconds() - cpu0;
        const long w1 = feederSwitches();
        const SeekTimes seek = seekToHeard(*opened.player);
        state.SetIterationTime(wall);
        state.counters["feeder_wakeups_per_s"] = double(w1 - w0) / wall;
        state.counters["core_percent"] = 100.0 * cpu / wall;
        state.counters["seek_to_heard_ms_mean"] = seek.meanMs;
        state.counters["seek_to_heard_ms_worst"] = seek.worstMs;
    }
}

// A plain FLAC on ALSA "default" through a private PipeWire graph (the test
// graph of test_sound_server): the process's wake-ups per second (every
// thread: the feeder and pipewire-alsa's own) and CPU share in steady
// playback, beside the same file on the simulated card (goals: ≤ 30/s, ≤ 0.6 %).
// pipewire-alsa's thread wakes once per graph cycle, at most 2048 frames at
// the sink's 48 kHz with the server's default limit: 23.4 a second however
// long our period, the floor under the whole row.
void BM_SoundServerSteadyWakeups_VsCard(benchmark::State& state) {
    const QString path = makeFlac("one-minute-44k16.flac", 44100, SF_FORMAT_PCM_16, 60);
    struct Use {
        double wakeups = 0, voluntary = 0, percent = 0;
        double feeder = 0, decoder = 0, others = 0; // voluntary, per second
        SeekTimes seek;
    };
    for (auto _ : state) {
        const auto measure = [&](Platform& p, Use& use, bool seeks) {
            auto opened = AudioPlayer::open(*p.outputs, path);
            if (!opened.player || !opened.player->play())
                return false;
            QThread::msleep(1000);
            const auto w0 = switchesByThread();
            const double cpu0 = cpuSeconds();
            const auto t0 = std::chrono::steady_clock::now();
            QThread::sleep(10);
            const double wall = seconds(t0);
            use.percent = 100.0 * (cpuSeconds() - cpu0) / wall;
            for (const auto& [name, now] : switchesByThread()) {
                const auto before = w0.find(name);
                const Switches was = before == w0.end() ? Switches{} : before->second;
                const double voluntary = double(now.voluntary - was.voluntary) / wall;
                use.wakeups += double(now.all() - was.all()) / wall;
                use.voluntary += voluntary;
                if (name == "ql-feeder")
                    use.feeder += voluntary;
                else if (name == "ql-decoder" || name == "ql-reader")
                    use.decoder += voluntary;
                else
                    use.others += voluntary;
            }
            if (seeks)
                use.seek = seekToHeard(*opened.player);
            opened.player->stop();
            return true;
        };
        Use server, card;
        {
            ql::test::SoundServerGraph graph;
            if (!graph.ok()) {
                state.SkipWithError(qPrintable(graph.why()));
                return;
            }
            std::optional<Platform> p = makeAlsaPlatform();
            if (!p || !measure(*p, server, true)) {
                state.SkipWithError("playback through the sound server failed");
                return;
            }
        }
        Platform sim = simulatedCard();
        if (!measure(sim, card, false)) {
            state.SkipWithError("playback on the simulated card failed");
            return;
        }
        state.SetIterationTime(10);
        state.counters["server_wakeups_per_s"] = server.wakeups;
        state.counters["server_core_percent"] = server.percent;
        // Where the server row's sleeps come from: the feeder, the decoder
        // and its reader, and the rest (pipewire-alsa's own thread).
        state.counters["server_voluntary_per_s"] = server.voluntary;
        state.counters["server_feeder_per_s"] = server.feeder;
        state.counters["server_decoder_per_s"] = server.decoder;
        state.counters["server_others_per_s"] = server.others;
        // The player's position, not the sound: it moves when the feeder
        // next reads the server's delay (test_sound_server measures the
        // sound itself).
        state.counters["server_seek_to_position_ms_mean"] = server.seek.meanMs;
        state.counters["server_seek_to_position_ms_worst"] = server.seek.worstMs;
        state.counters["card_wakeups_per_s"] = card.wakeups;
        state.counters["card_core_percent"] = card.percent;
    }
}

} // namespace

BENCHMARK(BM_SoundServerSteadyWakeups_VsCard)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CardSteadyWakeupsAndSeekToHeard)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flac44k16_UntimedVsFfmpeg)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flac96k24_To48k_UntimedVsFfmpegSoxr)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RealTime30s_CpuShare)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RealTime30s_ConvertedAndDownmixed_VsPlain)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RealTime30s_Speed125_VsSpeed100)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
