// What a phone's requests cost the main thread, where the server runs them:
//  - the search ("/l"), which the page sends on every keystroke, over a
//    100,000-track catalog (goal <= 50 ms), beside the browser's own filter
//    pass over the same catalog and query (baseline, same run);
//  - one "vol" command while "visibleTrackOrder" holds 100,000 ids, and the
//    settings write it leads to (done a second later on a pool thread, timed
//    here on this one), printed for a later decision: every write replaces
//    the whole settings file.
// Main-thread CPU time, so a busy machine does not count against either.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"

#include "BenchCatalog.h"
#include "BenchHome.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <string>

using namespace ql;
using namespace ql::bench;

namespace {

constexpr int kTracks = 100000;

void remoteSearch(benchmark::State& state, QString query) {
    platform::Platform plat;
    auto app = makeRunningApp(plat, catalogs().get(kTracks, kTracks / 20));
    qsizetype found = 0;
    for (auto _ : state) {
        const double start = mainThreadSeconds();
        found = app->remoteSearch(query).size();
        state.SetIterationTime(mainThreadSeconds() - start);
    }
    state.counters["answered"] = double(found);
}

void browserFilter(benchmark::State& state, QString query) {
    platform::Platform plat;
    auto app = makeRunningApp(plat, catalogs().get(kTracks, kTracks / 20));
    bool flip = false;
    for (auto _ : state) {
        state.PauseTiming();
        settle(*app);
        state.ResumeTiming();
        state.SetIterationTime(timedFilterPass(*app, query, flip));
    }
}

void volumeCommand(benchmark::State& state) {
    platform::Platform plat;
    auto app = makeApp(plat, catalogs().get(kTracks, kTracks / 20));
    TrackIds ids(std::size_t(kTracks), 0);
    for (std::size_t i = 0; i < ids.size(); ++i)
        ids[i] = qint64(i) + 1;
    app->browser.orderedIDs = ids;
    app->saveViewState();
    UserDefaults().sync();
    double write = 0;
    int v = 0;
    for (auto _ : state) {
        const QHash<QString, QString> query{{"v", QString::number(++v % 100)}};
        const double start = mainThreadSeconds();
        benchmark::DoNotOptimize(app->remoteCommand(QStringLiteral("vol"), query));
        state.SetIterationTime(mainThreadSeconds() - start);
        QElapsedTimer clock;
        clock.start();
        UserDefaults().sync();
        write += double(clock.nsecsElapsed()) * 1e-6;
    }
    state.counters["write_ms"] = write / double(state.iterations());
}

} // namespace

int main(int argc, char** argv) {
    BenchHome home;
    QApplication application(argc, argv);
    RatioReporter reporter;
    for (const QString& q :
         {QStringLiteral("lumen harbor"), QStringLiteral("l"), QStringLiteral("zzz"), QString()}) {
        const std::string tag = std::to_string(kTracks) + "/" + q.toStdString();
        const std::string ours = "remote/search/" + tag, base = "browser/filter/" + tag;
        benchmark::RegisterBenchmark(ours.c_str(), remoteSearch, q)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
        benchmark::RegisterBenchmark(base.c_str(), browserFilter, q)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
        reporter.pair(ours, base);
        reporter.goal(ours, 50);
    }
    benchmark::RegisterBenchmark("remote/vol/100000-ids-stored", volumeCommand)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(20);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
