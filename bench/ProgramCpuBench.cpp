// What playing costs the whole program, beside a peer, in one run: a 3-minute
// FLAC played through ALSA "default" to a private PipeWire graph
// (tests/support/sound-server-graph.sh) for 20 s by
//  - the Release program itself, its window on an Xvfb display, started with
//    the file as a user opens one, in a home of its own;
//  - mpv playing the same file through ALSA "default" to the same graph.
// Each runs alone; the measure is the process's own CPU time (every thread,
// user and system) over the same 20 s, taken after a 4 s start. Each pass is
// recorded at the sink and must be heard, so a player that failed silently
// cannot pass for a frugal one. Goal: ours / mpv <= 1.0.
#include "BenchHome.h"
#include "RatioReporter.h"
#include "SoundServerGraph.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <optional>

using namespace ql;

namespace {

constexpr int kStartMs = 4000;
constexpr int kMeasureMs = 20000;

QString g_file;    // the FLAC both play
QString g_display; // the Xvfb display, ":N"

// The process's CPU time so far, in seconds (all its threads).
std::optional<double> cpuSeconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = f.readAll();
    // Fields after the command's closing parenthesis, which may hold spaces.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    const double ticks = double(fields[11].toLongLong() + fields[12].toLongLong());
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

void sleepMs(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

// The RMS of the recording's last half, in dBFS.
double tailLevelDb(const std::vector<double>& samples) {
    const std::size_t from = samples.size() / 2;
    double sum = 0;
    for (std::size_t i = from; i < samples.size(); ++i)
        sum += samples[i] * samples[i];
    const double n = double(samples.size() - from);
    return n > 0 && sum > 0 ? 10 * std::log10(sum / n) : -200;
}

// Starts `program`, lets it start for kStartMs, then measures its CPU time
// over kMeasureMs while the sink records; one pass per iteration.
void measure(benchmark::State& state, const QString& program, const QStringList& arguments,
             bool ownHome) {
    test::SoundServerGraph graph;
    if (!graph.ok())
        return state.SkipWithError(qPrintable(graph.why()));
    double cpu = 0; // seconds, over every pass
    for (auto _ : state) {
        QTemporaryDir home;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (ownHome) {
            for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
                env.insert(QString::fromLatin1(var), home.path());
            env.insert(QStringLiteral("DISPLAY"), g_display);
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            // The graph's own session bus, as a desktop session gives one.
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QStringLiteral("unix:path=") + env.value(QStringLiteral("XDG_RUNTIME_DIR")) +
                           QStringLiteral("/bus"));
        }
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        if (!graph.startRecording())
            return state.SkipWithError("the sink cannot be recorded");
        p.start(program, arguments);
        if (!p.waitForStarted(10'000))
            return state.SkipWithError("the player did not start");
        sleepMs(kStartMs);
        const std::optional<double> before = cpuSeconds(p.processId());
        sleepMs(kMeasureMs);
        const std::optional<double> after = cpuSeconds(p.processId());
        const double heard = tailLevelDb(graph.stopRecording());
        p.terminate();
        if (!p.waitForFinished(10'000)) {
            p.kill();
            p.waitForFinished(5'000);
        }
        if (!before || !after)
            return state.SkipWithError("the player ended early");
        if (heard < -40)
            return state.SkipWithError("the file was not heard at the sink");
        state.SetIterationTime(*after - *before);
        cpu += *after - *before;
    }
    // Of one core, over the passes.
    if (state.iterations() > 0)
        state.counters["cpu_percent"] =
            100.0 * cpu / (double(state.iterations()) * (kMeasureMs / 1000.0));
}

void BM_ProgramPlaysFlac(benchmark::State& state) {
    measure(state, QStringLiteral(QL_PROGRAM), {g_file}, true);
}

void BM_MpvPlaysFlac(benchmark::State& state) {
    const QString mpv = QStandardPaths::findExecutable(QStringLiteral("mpv"));
    if (mpv.isEmpty())
        return state.SkipWithError("mpv is not installed (scripts/deps installs it)");
    measure(state, mpv,
            {"--config=no", "--no-video", "--no-terminal", "--ao=alsa",
             "--audio-device=alsa/default", g_file},
            false);
}

BENCHMARK(BM_MpvPlaysFlac)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();
BENCHMARK(BM_ProgramPlaysFlac)->Unit(benchmark::kMillisecond)->Iterations(2)->UseManualTime();

bool runFfmpeg(const QStringList& arguments) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QStringLiteral("ffmpeg"), arguments);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv) {
    const bench::BenchHome home(true);
    QCoreApplication application(argc, argv);
    g_file = QDir(home.tempPath()).filePath(QStringLiteral("three-minutes.flac"));
    // Pink noise: a FLAC that compresses as little as dense music does.
    if (!runFfmpeg({"-v", "error", "-y", "-f", "lavfi", "-i",
                    "anoisesrc=color=pink:amplitude=0.25:sample_rate=44100:duration=180", "-ac",
                    "2", "-sample_fmt", "s16", "-c:a", "flac", g_file})) {
        std::fprintf(stderr, "cannot make the FLAC file with ffmpeg\n");
        return 1;
    }
    // A display of our own for the program's window.
    QProcess xvfb;
    xvfb.setStandardInputFile(QProcess::nullDevice());
    xvfb.setStandardErrorFile(QProcess::nullDevice());
    xvfb.start(QStringLiteral("Xvfb"),
               {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1400x900x24"});
    if (!xvfb.waitForReadyRead(20'000)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    g_display = QStringLiteral(":") + QString::fromLatin1(xvfb.readAllStandardOutput().trimmed());

    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_ProgramPlaysFlac", "BM_MpvPlaysFlac");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("(times are the process's CPU milliseconds over %d s of playing)\n",
                kMeasureMs / 1000);
    std::printf("goal: program / mpv <= 1.0\n");
    xvfb.terminate();
    xvfb.waitForFinished(5'000);
    return 0;
}
