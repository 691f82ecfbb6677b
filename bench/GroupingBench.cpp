// Regrouping the visible tracks into grid tiles (App::rebuildAlbums) over
// 50,000 generated tracks on 5,000 albums of mixed Latin and Hangul names,
// in every view kind and sort mode, each printed next to a plain QHash
// grouping of the same tracks by raw album and artist, with no folding, no
// subtitles and no sort. Goal: 50 ms a pass. The visible list comes album
// after album, as the catalog lists folders; the same list shuffled, next to
// the plain grouping of that shuffled list, is measured as well.
#include "app/App.h"
#include "platform/Platform.h"

#include "BenchHome.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QRandomGenerator>

#include <algorithm>
#include <random>
#include <string>

using namespace ql;

namespace {

constexpr int kTracks = 50000;
constexpr int kAlbums = 5000;

const QStringList kWords{"Lumen", "Harbor", "Night", "Blue",  "Café", "Crème", "Señor",
                         "Über",  "Echo",   "River", "Stone", "사랑", "노래",  "바다",
                         "하늘",  "별빛",   "기억",  "여름",  "서울", "밤"};

QString name(QRandomGenerator& rng, int n) {
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << kWords[rng.bounded(kWords.size())];
    return out.join(QLatin1Char(' '));
}

// Albums of ten tracks, by 1,000 artists, listed album after album; dates
// for nine albums in ten, 40 genres.
struct Library {
    std::vector<Track> tracks;
    QHash<QString, double> added;
    GenreMap genres;
};

const Library& library() {
    static const Library lib = [] {
        Library l;
        QRandomGenerator rng(7);
        QStringList artists;
        for (int a = 0; a < 1000; ++a)
            artists << name(rng, 2) + QString::number(a);
        for (int a = 0; a < kAlbums; ++a) {
            const QString album = name(rng, 2) + QString::number(a);
            const QString artist = artists[rng.bounded(artists.size())];
            const QString genre = QStringLiteral("Genre ") + QString::number(rng.bounded(40));
            for (int i = 0; i < kTracks / kAlbums; ++i) {
                const QString path = QStringLiteral("/Music/%1/%2.flac").arg(a).arg(i);
                l.tracks.push_back(
                    Track{qint64(l.tracks.size() + 1), path, name(rng, 2), artist, album, 200, {}});
                if (a % 10 != 0)
                    l.added.insert(path, 1.6e9 + rng.bounded(1e8));
                l.genres.insert(path, genre);
            }
        }
        return l;
    }();
    return lib;
}

// The visible list in catalog order, or shuffled.
std::vector<Track> visible(bool shuffled) {
    std::vector<Track> tracks = library().tracks;
    if (shuffled)
        std::shuffle(tracks.begin(), tracks.end(), std::mt19937(3));
    return tracks;
}

void plainGrouping(benchmark::State& state, bool shuffled) {
    const std::vector<Track> tracks = visible(shuffled);
    for (auto _ : state) {
        QHash<QString, std::vector<Track>> groups;
        QStringList order;
        for (const Track& t : tracks) {
            const QString key = t.album + QLatin1Char('|') + t.artist;
            auto it = groups.find(key);
            if (it == groups.end()) {
                it = groups.insert(key, {});
                order << key;
            }
            it->push_back(t);
        }
        benchmark::DoNotOptimize(order.size());
    }
}

void rebuildAlbums(benchmark::State& state, int viewKind, int sortMode, bool shuffled) {
    platform::Platform plat;
    App app(plat);
    app.browser.filtered = visible(shuffled);
    app.library.added = library().added;
    app.library.genres = library().genres;
    app.browser.viewKind = viewKind;
    app.browser.sortMode = sortMode;
    for (auto _ : state)
        app.rebuildAlbums();
    state.counters["tiles"] = double(app.browser.albums.size());
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home;
    QApplication application(argc, argv);
    library();

    bench::RatioReporter reporter;
    const std::string plain = "grouping/plain-qhash/50000";
    const std::string plainShuffled = "grouping/plain-qhash-shuffled/50000";
    benchmark::RegisterBenchmark(plain.c_str(), plainGrouping, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(plainShuffled.c_str(), plainGrouping, true)
        ->Unit(benchmark::kMillisecond);
    for (const int view : {1, 2, 3}) {
        for (const int sort : {0, 1, 2}) {
            const std::string pass = "grouping/rebuildAlbums/50000/view" + std::to_string(view) +
                                     "/sort" + std::to_string(sort);
            benchmark::RegisterBenchmark(pass.c_str(), rebuildAlbums, view, sort, false)
                ->Unit(benchmark::kMillisecond);
            reporter.pair(pass, plain);
            reporter.goal(pass, 50);
        }
        const std::string shuffled =
            "grouping/rebuildAlbums-shuffled/50000/view" + std::to_string(view) + "/sort0";
        benchmark::RegisterBenchmark(shuffled.c_str(), rebuildAlbums, view, 0, true)
            ->Unit(benchmark::kMillisecond);
        reporter.pair(shuffled, plainShuffled);
        reporter.goal(shuffled, 50);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
