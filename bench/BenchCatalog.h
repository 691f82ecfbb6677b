// The synthetic catalogs of the browser benchmarks (mixed Latin, Hangul and
// decomposed text over many folders) and the App set up on them as the
// program runs it, shared by the benchmarks that filter or score a catalog.
#pragma once

#include "app/App.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QStringList>

#include <ctime>
#include <map>
#include <memory>
#include <vector>

namespace ql::bench {

inline const QStringList kLatin{"Lumen", "Harbor", "Night", "Blue",   "Train",  "Café",    "Crème",
                                "Señor", "Über",   "Echo",  "River",  "Stone",  "Glass",   "Paper",
                                "Moon",  "Velvet", "Ocean", "Summer", "Winter", "Daydream"};
inline const QStringList kHangul{"사랑", "노래", "바다", "하늘", "별빛",
                                 "기억", "여름", "겨울", "서울", "밤"};

// A word: Latin or Hangul; a quarter of them stored decomposed, as some file
// systems and taggers keep them.
inline QString word(QRandomGenerator& rng) {
    QString w = rng.bounded(3) == 0 ? kHangul[rng.bounded(kHangul.size())]
                                    : kLatin[rng.bounded(kLatin.size())];
    if (rng.bounded(4) == 0)
        w = w.normalized(QString::NormalizationForm_D);
    return w;
}

inline QString words(QRandomGenerator& rng, int n) {
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << word(rng);
    return out.join(QLatin1Char(' '));
}

// `tracks` tracks spread over `folders` folders; a third of the folders are
// "CD n" discs of an album, so many folders share a name.
inline std::vector<Track> makeCatalog(int tracks, int folders, quint32 seed = 1) {
    QRandomGenerator rng(seed);
    QStringList folderPaths;
    for (int f = 0; f < folders; ++f) {
        QString p = QStringLiteral("/home/user/Music/") + words(rng, 2) + QStringLiteral(" ") +
                    QString::number(f) + QLatin1Char('/') + words(rng, 2);
        if (f % 3 == 0)
            p += QStringLiteral("/CD ") + QString::number(f % 4 + 1);
        folderPaths << p;
    }
    std::vector<Track> rows;
    rows.reserve(std::size_t(tracks));
    for (int i = 0; i < tracks; ++i) {
        Track t;
        t.id = i + 1;
        t.title = words(rng, 2 + int(rng.bounded(2)));
        t.artist = words(rng, 2);
        t.album = words(rng, 2);
        t.duration = 200;
        t.path = folderPaths[i % folders] + QLatin1Char('/') +
                 QString::number(i % 20 + 1).rightJustified(2, QLatin1Char('0')) +
                 QLatin1Char(' ') + t.title + QStringLiteral(".flac");
        rows.push_back(t);
    }
    return rows;
}

struct Catalogs {
    std::map<int, std::vector<Track>> byTracks;
    const std::vector<Track>& get(int tracks, int folders) {
        auto it = byTracks.find(tracks * 100000 + folders);
        if (it == byTracks.end())
            it = byTracks.emplace(tracks * 100000 + folders, makeCatalog(tracks, folders)).first;
        return it->second;
    }
};
inline Catalogs& catalogs() {
    static Catalogs c;
    return c;
}

inline std::unique_ptr<App> makeApp(platform::Platform& plat, const std::vector<Track>& rows) {
    auto app = std::make_unique<App>(plat);
    app->library.rows = rows;
    return app;
}

// Lets the catalog worker deliver what it is making (the search texts, its
// shared copy of the catalog that the visible list points into), as the
// event loop does between two keystrokes.
inline void settle(App& app) {
    for (;;) {
        app.library.work->finish(10000); // its queue run down
        QCoreApplication::processEvents();
        if (app.library.sharedGeneration == app.library.catalogGeneration &&
            app.library.memoGeneration == app.library.catalogGeneration)
            return;
    }
}

// The main thread's own CPU time in seconds: what a pass costs the window,
// without the worker's threads and without waiting for a core on a busy
// machine.
inline double mainThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// An App as the program runs it: the catalog worker started, the catalog
// handed to it as an import would, its search texts folded there.
inline std::unique_ptr<App> makeRunningApp(platform::Platform& plat,
                                           const std::vector<Track>& rows) {
    auto app = makeApp(plat, rows);
    app->runCatalogInBackground();
    app->catalogReplaced();
    settle(*app);
    return app;
}

// One filter pass as a keystroke makes it, timed on the main thread (seconds):
// the text alternates between the query and the query with a trailing blank
// (the same tokens), so every pass also stores "librarySearch" as typing does.
inline double timedFilterPass(App& app, const QString& query, bool& flip) {
    const double start = mainThreadSeconds();
    flip = !flip;
    app.search->setText(flip ? query + QLatin1Char(' ') : query);
    app.filter(true);
    return mainThreadSeconds() - start;
}

} // namespace ql::bench
