// Saving and loading "play-stats.json" with 50,000 entries through JSONStore,
// next to a plain QJsonDocument round trip of the same data (build a
// QJsonObject, write it with QSaveFile; read it back, parse, convert to the
// dictionary without strict checks). Goal: each of our two steps within 30 ms
// in a Release build; the ratios say how far ahead of the baseline they are.
#include "app/JSONStore.h"
#include "app/Records.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>

#include "TimeRecorder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

using namespace ql;

namespace {
using Stats = QHash<QString, PlayStat>;

constexpr int kEntries = 50'000;
const QString kName = QStringLiteral("play-stats.json");

// Paths shaped like a real library: artist and album folders, Latin and
// Hangul names, numbered files.
const Stats& sampleStats() {
    static const Stats stats = [] {
        Stats s;
        s.reserve(kEntries);
        for (int i = 0; i < kEntries; ++i) {
            const QString artist = i % 3 == 0 ? QStringLiteral("아이유 %1").arg(i % 400)
                                              : QStringLiteral("Artist Name %1").arg(i % 400);
            const QString path = QStringLiteral("/home/user/Music/%1/Album Title %2/%3 - Song "
                                                "Title Number %3.flac")
                                     .arg(artist)
                                     .arg(i % 37)
                                     .arg(i);
            s.insert(path, PlayStat{i % 50 + 1, 1700000000.0 + i * 37.125});
        }
        return s;
    }();
    return stats;
}

QTemporaryDir& folder() {
    static QTemporaryDir dir;
    return dir;
}

void BM_StoreSave(benchmark::State& state) {
    const JSONStore store(folder().path() + "/ours");
    for (auto _ : state)
        benchmark::DoNotOptimize(store.save(kName, sampleStats()));
}

void BM_StoreLoad(benchmark::State& state) {
    const JSONStore store(folder().path() + "/ours");
    store.save(kName, sampleStats());
    for (auto _ : state) {
        auto loaded = store.load<Stats>(kName);
        if (!loaded || loaded->size() != kEntries)
            state.SkipWithError("the store did not load");
        benchmark::DoNotOptimize(loaded);
    }
}

QString qtPath() {
    return folder().path() + "/qt-" + kName;
}

void qtSave(const Stats& stats) {
    QJsonObject root;
    for (auto it = stats.cbegin(); it != stats.cend(); ++it)
        root.insert(it.key(), QJsonObject{{"plays", it->plays}, {"last", it->last}});
    QSaveFile f(qtPath());
    if (f.open(QIODevice::WriteOnly)) {
        f.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
        f.commit();
    }
}

void BM_QtSave(benchmark::State& state) {
    for (auto _ : state)
        qtSave(sampleStats());
}

void BM_QtLoad(benchmark::State& state) {
    qtSave(sampleStats());
    for (auto _ : state) {
        QFile f(qtPath());
        if (!f.open(QIODevice::ReadOnly))
            state.SkipWithError("no baseline file");
        const QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
        Stats loaded;
        loaded.reserve(root.size());
        for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
            const QJsonObject o = it->toObject();
            loaded.insert(it.key(), PlayStat{o.value(QLatin1String("plays")).toInteger(),
                                             o.value(QLatin1String("last")).toDouble()});
        }
        if (loaded.size() != kEntries)
            state.SkipWithError("the baseline did not load");
        benchmark::DoNotOptimize(loaded);
    }
}

BENCHMARK(BM_StoreSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StoreLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtLoad)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    bench::TimeRecorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    benchmark::Shutdown();
    const auto ratio = [&](const char* ours, const char* peer, const char* what) {
        if (!recorder.ms.count(ours) || !recorder.ms.count(peer))
            return;
        const double a = recorder.ms[ours], b = recorder.ms[peer];
        std::printf("%s of %d entries: %.1f ms (goal <= 30 ms: %s); QJsonDocument %.1f ms; "
                    "ours / QJsonDocument = %.3f\n",
                    what, kEntries, a, a <= 30.0 ? "met" : "missed", b, a / b);
    };
    ratio("BM_StoreSave", "BM_QtSave", "save");
    ratio("BM_StoreLoad", "BM_QtLoad", "load");
    return 0;
}
