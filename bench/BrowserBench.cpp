// The browser's passes on synthetic catalogs of mixed Latin, Hangul and
// decomposed text, each printed next to a naive baseline of the same run:
//  - a filter pass per keystroke (App::filter with the catalog worker running
//    and its search memo in place, and the first pass after the catalog
//    changed) against a plain case-insensitive QString::contains over title,
//    artist and album without normalisation;
//  - App::rebuildFolders against the folder list built the literal way, with
//    each label recomputed inside the sort's comparisons (at a size where
//    that way still finishes).
// Runs in a temporary home: App reads and writes settings.
#include "app/App.h"
#include "platform/Platform.h"
#include "ui/FolderList.h"
#include "ui/TrackPath.h"

#include "BenchCatalog.h"
#include "BenchHome.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCollator>
#include <QLineEdit>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>

using namespace ql;
using namespace ql::bench;

namespace {

void naiveFilter(benchmark::State& state, int tracks, QString query) {
    const std::vector<Track>& rows = catalogs().get(tracks, tracks / 20);
    for (auto _ : state) {
        const double start = mainThreadSeconds();
        std::vector<Track> out;
        for (const Track& t : rows) {
            if (t.title.contains(query, Qt::CaseInsensitive) ||
                t.artist.contains(query, Qt::CaseInsensitive) ||
                t.album.contains(query, Qt::CaseInsensitive))
                out.push_back(t);
        }
        benchmark::DoNotOptimize(out.data());
        state.SetIterationTime(mainThreadSeconds() - start);
    }
}

// One pass per keystroke: the text alternates between the query and the query
// with a trailing blank (the same tokens), so every pass also stores
// "librarySearch" as typing does.
void appFilter(benchmark::State& state, int tracks, QString query, bool warm, bool shuffled) {
    platform::Platform plat;
    auto app = makeRunningApp(plat, catalogs().get(tracks, tracks / 20));
    app->playback.shuffled = shuffled;
    app->search->setText(query);
    app->filter(true);
    std::size_t shown = 0;
    bool flip = false;
    int changes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!warm) {
            // One track renamed, as a rescan finds it: the worker folds the
            // changed catalog, and the pass after it is timed.
            std::vector<Track>& rows = app->library.rows;
            rows[rows.size() / 2].title = QStringLiteral("Renamed %1").arg(++changes);
            app->catalogReplaced();
        }
        settle(*app);
        state.ResumeTiming();
        const double start = mainThreadSeconds();
        flip = !flip;
        app->search->setText(flip ? query + QLatin1Char(' ') : query);
        app->filter(true);
        state.SetIterationTime(mainThreadSeconds() - start);
        shown = app->browser.filtered.size();
    }
    state.counters["shown"] = double(shown);
}

// Storing a changed order of every track: what a shuffled pass adds.
void saveOrder(benchmark::State& state, int tracks) {
    platform::Platform plat;
    auto app = makeApp(plat, {});
    TrackIds ids(std::size_t(tracks), 0);
    for (std::size_t i = 0; i < ids.size(); ++i)
        ids[i] = qint64(i) + 1;
    for (auto _ : state) {
        std::swap(ids.front(), ids.back());
        app->browser.orderedIDs = ids;
        app->saveViewState();
    }
}

void rebuildFolders(benchmark::State& state, int tracks, int folders) {
    platform::Platform plat;
    auto app = makeApp(plat, catalogs().get(tracks, folders));
    for (auto _ : state)
        app->rebuildFolders();
    state.counters["folders"] = double(app->browser.folderPaths.size() - 1);
}

// The folder list the literal way: labels recomputed in every comparison.
void naiveFolders(benchmark::State& state, int tracks, int folders) {
    const std::vector<Track>& rows = catalogs().get(tracks, folders);
    for (auto _ : state) {
        QHash<QString, int> counts;
        for (const Track& t : rows)
            ++counts[folderOf(t.path)];
        QStringList all = counts.keys();
        QCollator collator;
        collator.setNumericMode(true);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::sort(all.begin(), all.end(), [&](const QString& a, const QString& b) {
            return collator.compare(folderLabel(a, all), folderLabel(b, all)) < 0;
        });
        benchmark::DoNotOptimize(all.data());
    }
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home;
    QApplication application(argc, argv);

    bench::RatioReporter reporter;
    for (const int tracks : {10000, 100000}) {
        for (const QString& q : {QStringLiteral("lumen harbor"), QStringLiteral("l")}) {
            const std::string tag = std::to_string(tracks) + "/" + q.toStdString();
            const std::string naive = "filter/naive/" + tag;
            const std::string warm = "filter/warm/" + tag;
            // The first pass after the catalog changed.
            const std::string cold = "filter/changed/" + tag;
            // Shuffle on: every keystroke makes and stores a new order.
            const std::string shuffled = "filter/warm-shuffled/" + tag;
            benchmark::RegisterBenchmark(naive.c_str(), naiveFilter, tracks, q)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
            benchmark::RegisterBenchmark(warm.c_str(), appFilter, tracks, q, true, false)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
            benchmark::RegisterBenchmark(shuffled.c_str(), appFilter, tracks, q, true, true)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime();
            benchmark::RegisterBenchmark(cold.c_str(), appFilter, tracks, q, false, false)
                ->Unit(benchmark::kMillisecond)
                ->UseManualTime()
                ->Iterations(tracks >= 100000 ? 10 : 30);
            reporter.pair(warm, naive);
            reporter.pair(shuffled, naive);
            reporter.pair(cold, naive);
            if (tracks == 100000) {
                reporter.goal(warm, 3);
                reporter.goal(shuffled, 3);
                reporter.goal(cold, 20);
            }
            // At 10,000 tracks the goal is the ratio: no slower than naive.
        }
    }
    benchmark::RegisterBenchmark("settings/save-order/100000", saveOrder, 100000)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("folders/naive/6000x300", naiveFolders, 6000, 300)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark("folders/rebuild/6000x300", rebuildFolders, 6000, 300)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("folders/rebuild/100000x5000", rebuildFolders, 100000, 5000)
        ->Unit(benchmark::kMillisecond);
    reporter.pair("folders/rebuild/6000x300", "folders/naive/6000x300");
    reporter.goal("folders/rebuild/100000x5000", 100);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
