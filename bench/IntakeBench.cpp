// File intake against its floor: 50 short tagged FLAC files made here, taken
// in by App::openAudioFiles() with the real backend script, timed to the tail
// (the first file plays on the simulated device), next to the same 50
// one-shot import commands run one after another by a shell loop. The intake
// runs those very commands, so the goal is a ratio of at most 1.1.
#include "FakeServices.h"
#include "app/App.h"
#include "library/BackendCommand.h"
#include "library/ToolPaths.h"
#include "platform/sim/SimPlatform.h"

#include "BenchHome.h"
#include "RatioReporter.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <cstdio>

using namespace ql;

namespace {

QStringList g_files;
const QString kScript = QStringLiteral(QL_BUILD_RESOURCES "/backend.py");

QStringList launch() {
    return {pythonPath().value_or(QStringLiteral("/usr/bin/python3")), kScript};
}

void BM_IntakeOf50(benchmark::State& state) {
    platform::Platform plat = platform::makeSimulatedPlatform();
    App app(plat, test::fakeServices());
    test::fakes(app).tools.backendCommand = launch;
    for (auto _ : state) {
        // Every pass must take all 50 in again.
        state.PauseTiming();
        app.library.rows.clear();
        state.ResumeTiming();
        app.openAudioFiles(g_files);
        // The tail (which fills the emptied catalog at once) comes through
        // the event loop; look every millisecond, give up after two minutes.
        QEventLoop loop;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (!app.library.rows.empty())
                loop.quit();
        });
        look.start(1);
        QTimer::singleShot(120'000, &loop, &QEventLoop::quit);
        loop.exec();
        if (app.library.rows.size() != std::size_t(g_files.size()))
            return state.SkipWithError("not every file was taken in");
    }
}

void BM_ShellLoopOf50(benchmark::State& state) {
    platform::Platform none;
    App app(none, test::fakeServices()); // only for the command it would run
    test::fakes(app).tools.backendCommand = launch;
    const BackendCommand command = importCommand(app.backendLaunch(), QString());
    for (auto _ : state) {
        QProcess shell;
        shell.setProcessEnvironment(command.environment);
        shell.setStandardOutputFile(QProcess::nullDevice());
        shell.setStandardErrorFile(QProcess::nullDevice());
        shell.start(QStringLiteral("/bin/sh"),
                    QStringList{"-c",
                                "p=$1; s=$2; shift 2; for f in \"$@\"; do "
                                "\"$p\" \"$s\" --import-file \"$f\"; done",
                                "sh", command.program, command.arguments.value(0)} +
                        g_files);
        if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
            return state.SkipWithError("the shell loop failed");
    }
}

BENCHMARK(BM_ShellLoopOf50)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_IntakeOf50)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home(true);
    QApplication application(argc, argv);
    for (int i = 0; i < 50; ++i) {
        const QString file = QDir(home.tempPath()).filePath(QStringLiteral("track %1.flac").arg(i));
        QProcess ffmpeg;
        ffmpeg.start(toolPath(QStringLiteral("ffmpeg")),
                     {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                      "sine=frequency=440:duration=1", "-metadata",
                      QStringLiteral("title=Track %1").arg(i), file});
        if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0) {
            std::fprintf(stderr, "cannot make the test files with ffmpeg\n");
            return 1;
        }
        g_files << file;
    }
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_IntakeOf50", "BM_ShellLoopOf50");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("goal: intake / shell loop <= 1.1\n");
    return 0;
}
