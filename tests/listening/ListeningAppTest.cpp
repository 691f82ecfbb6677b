// Guards against: smart lists, radio, listen actions and hearts that show,
// queue or play something other than what the user chose.
// The controller on the simulated rig (manual clock); tracks 1 and 2 are real
// WAV files, the others play nowhere (their fallback road is stood in for).
#include "app/App.h"
#include "app/JSONStore.h"
#include "app/UserDefaults.h"
#include "platform/sim/SimPlatform.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "SimRigs.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>

#include <sndfile.h>

using namespace ql;

namespace {

QString wav(qint64 id) {
    const QString path = test::tempFile(QStringLiteral("w%1/%1.wav").arg(id));
    test::AudioShape shape;
    shape.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    shape.frames = 5 * shape.rate;
    QDir().mkpath(QFileInfo(path).path());
    if (!QFile::exists(path) && !test::writeAudio(path, shape))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

Track tr(qint64 id, const QString& artist, const QString& album, const QString& path = {}) {
    return Track{id,
                 path.isEmpty() ? QStringLiteral("/m/%1.flac").arg(id) : path,
                 QStringLiteral("T%1").arg(id),
                 artist,
                 album,
                 5,
                 {}};
}

struct Rig {
    QStringList probes, played;
    test::LaunchedApp launched;
    App& app;
    explicit Rig(std::vector<Track> rows)
        : launched(
              "ko",
              [this](App& a) {
                  a.seams.qualityProbe = [this](const Track& t) {
                      probes << QString::number(t.id);
                  };
                  a.seams.playRequest = [this](const Track& t) { played << QString::number(t.id); };
                  a.seams.fallbackRoad = [](const char*, const Track&, quint64) {};
              },
              platform::makeSimulatedPlatform(
                  test::twoOutputs(), platform::SimOutputs{platform::SimClock::Manual, {}})),
          app(*launched.app) {
        app.playback.maxQuality = false; // the direct road
        app.library.rows = std::move(rows);
        app.filter(true);
        app.listening.random.seed(7);
    }
    QString ids() const {
        QStringList out;
        for (const Track& t : app.browser.filtered)
            out << QString::number(t.id);
        return out.join(',');
    }
    QString status() const { return app.status->stringValue(); }
    void choose(int item) {
        app.smartPicker->setCurrentIndex(item);
        app.smartChanged();
    }
};

// Lumen's "Dawn" (1, 2) and "Noon" (3); 4 on "Dawn" by someone else.
std::vector<Track> small() {
    return {tr(1, "Lumen", "Dawn", wav(1)), tr(2, "Lumen", "Dawn", wav(2)), tr(3, "Lumen", "Noon"),
            tr(4, "Mist", "Dawn")};
}

struct Case {
    const char* name;
    std::function<QString(Rig&)> run;
    QString want;
};

const QString kChecking = "💎 음질을 확인하는 중… (확인되는 대로 목록에 나타납니다)";
const QString kRadioOn = "📻 비슷한 곡 40곡을 이어서 재생합니다 (다시 누르면 해제)";

// clang-format off
const std::vector<Case> kSmart = {
    {"hi-res asks only unlabelled rows", [](Rig& r) {
        r.app.library.qual = {{"/m/3.flac", "FLAC 24/96 ★"}, {"/m/4.flac", "MP3 ⬆"}};
        r.choose(6);
        return r.probes.join(',') + " | " + r.ids() + " | " + r.status();
    }, "1,2 | 3 | " + kChecking},
    {"a list ends the cell filter; the search narrows it", [](Rig& r) {
        r.app.browser.cellFilter = CellFilter{"album", "Noon"};
        r.app.search->setText("Dawn");
        r.choose(3);
        return r.ids() + QString(r.app.browser.cellFilter ? " cell" : "");
    }, "1,2,4"},
    {"shuffle on: most played keeps its order", [](Rig& r) {
        r.app.playback.shuffled = true;
        r.app.playback.stats = {{"/m/3.flac", {4, 0}}, {"/m/4.flac", {9, 0}}};
        r.choose(2);
        return r.ids();
    }, "4,3"},
    {"30 days: dates read first, a recent track joins", [](Rig& r) {
        const double now = QDateTime::currentSecsSinceEpoch();
        r.app.seams.addedDate = [now](const QString& p) { return p == "/m/4.flac" ? now - 60 : 0; };
        r.choose(1);
        const QString asked = r.status();
        (void)QTest::qWaitFor([&r] { return r.ids() != "1,2,3,4"; }, 5000);
        return asked + " | " + r.ids();
    }, "받은 날짜 확인 중… | 4"},
    {"a new App on the same settings", [](Rig& r) {
        r.choose(2);
        Rig again({});
        return QString::number(again.app.listening.smartMode) + " " +
               QString::number(again.app.smartPicker->currentIndex());
    }, "2 2"},
};
// clang-format on

// A catalog of 100 tracks: 1 the seed, 2 its album and folder mate.
std::vector<Track> hundred() {
    std::vector<Track> rows = {tr(1, "Lumen", "Dawn", wav(1)), tr(2, "lumen", "DAWN", wav(2))};
    rows[1].path = QFileInfo(rows[0].path).path() + "/2.wav";
    QFile::copy(wav(2), rows[1].path);
    for (int id = 3; id <= 100; ++id)
        rows.push_back(tr(id, QStringLiteral("A%1").arg(id), {}));
    return rows;
}

QString radio(Rig& r) {
    const auto& q = r.app.listening.radioQueue;
    const auto& cur = r.app.playback.current;
    return QString::number(q.size()) + (q.contains(1) ? " seed" : "") + " | " +
           (cur ? QString::number(cur->id) : "-") + (r.app.isPlaying() ? " playing" : "") + " | " +
           r.status();
}

// clang-format off
const std::vector<Case> kRadio = {
    {"playing seed: 40 queued, playback goes on", [](Rig& r) {
        r.app.play(r.app.library.rows[0]);
        r.app.startRadio();
        return radio(r);
    }, "40 | 1 playing | " + kRadioOn},
    {"a second press empties the queue", [](Rig& r) {
        r.app.play(r.app.library.rows[0]);
        r.app.startRadio();
        r.app.startRadio();
        return radio(r);
    }, "0 | 1 playing | 비슷한 곡 재생을 해제했습니다."},
    {"paused: the best track starts, 39 remain", [](Rig& r) {
        r.app.play(r.app.library.rows[0]);
        r.app.toggle();
        r.app.startRadio();
        return radio(r);
    }, "39 | 2 playing | " + kRadioOn},
    {"a queue from Play Next is emptied instead", [](Rig& r) {
        r.app.listening.radioQueue = {5};
        r.app.startRadio();
        return radio(r);
    }, "0 | - | 비슷한 곡 재생을 해제했습니다."},
    {"no current track and an empty list", [](Rig& r) {
        r.app.browser.filtered.clear();
        r.app.startRadio();
        return radio(r);
    }, "0 | - | 먼저 곡을 재생하세요."},
    {"stale ids only: nothing comes out, nothing is left", [](Rig& r) {
        r.app.listening.radioQueue = {1000, 1001};
        const bool some = r.app.popRadio().has_value();
        return QString(some ? "a track " : "none ") + QString::number(r.app.listening.radioQueue.size());
    }, "none 0"},
};
// clang-format on

QString browser(Rig& r) {
    const auto& cf = r.app.browser.cellFilter;
    return (cf ? cf->key + "=" + cf->value : "-") + " '" + r.app.search->text() + "' " +
           QString::number(r.app.listening.smartMode) + " " +
           QString::number(r.app.browser.viewKind) + " | " + r.played.join(',') + " | " +
           r.status();
}

// clang-format off
const std::vector<Case> kListen = {
    {"play all on an empty catalog", [](Rig& r) {
        r.app.library.rows.clear();
        r.app.playback.shuffled = true;
        r.app.listenAll();
        return QString(r.app.playback.shuffled || UserDefaults().boolean(keys::kShuffle) ? "on " : "off ") + r.status();
    }, "off 재생할 곡이 없습니다."},
    {"random album: drawn among the search's albums, played whole", [](Rig& r) {
        r.app.search->setText("Lumen Dawn");
        r.app.filter(true);
        r.app.listenRandomAlbum();
        return browser(r);
    }, "album=Dawn '' 0 0 | 1 | ▶ 앨범 'Dawn': 3곡"},
    {"random album under a search that leaves nothing", [](Rig& r) {
        r.app.search->setText("zzz");
        r.app.listening.smartMode = 3;
        r.app.browser.viewKind = 2;
        r.app.filter(true);
        r.app.listenRandomAlbum();
        return browser(r);
    }, "- 'zzz' 3 2 |  | 0곡 / 전체 4곡"},
    {"random album never draws a folder-titled tile", [](Rig& r) {
        r.app.library.rows = {tr(1, "A", ""), tr(2, "B", "", "/x/y/2.flac"), tr(3, "C", "Real")};
        QStringList drawn;
        for (int i = 0; i < 12; ++i) {
            r.app.resetFilters();
            r.app.filter(true);
            r.app.listenRandomAlbum();
            drawn << r.app.browser.cellFilter->value;
        }
        return drawn.join(',').replace("Real,", "");
    }, "Real"},
    {"favourites with none", [](Rig& r) {
        r.app.listenFavorites();
        return browser(r);
    }, "- '' 5 0 |  | ♥한 곡이 아직 없습니다. 곡을 재생하고 ♡ 즐겨찾기를 눌러 보세요."},
    {"hi-res with every label known, none hi-res", [](Rig& r) {
        for (const Track& t : r.app.library.rows)
            r.app.library.qual[t.path] = "FLAC 16/44.1";
        r.app.listenHiRes();
        return QString(r.app.library.autoPlayWhenReady ? "armed " : "") + r.probes.join(',') + browser(r);
    }, "armed - '' 6 0 |  | 💎 음질을 확인하는 중… 하이레즈 곡이 확인되면 바로 재생합니다."},
};
// clang-format on

QString hearts(Rig& r) {
    QStringList set = r.app.listening.favorites.values(), file;
    const auto stored = r.app.core.store.load<QSet<QString>>(stores::kFavorites);
    file = stored ? stored->values() : QStringList{"none"};
    set.sort(), file.sort();
    return set.join(',') + " | " + file.join(',') + " | " + r.ids() + " | " +
           r.app.cellText(r.app.library.rows[0], "title") + " | " +
           QString::number(r.app.views.table->selectedRow()) + " | " + r.status();
}

// clang-format off
const std::vector<Case> kHearts = {
    {"two toggles leave set and file as they were", [](Rig& r) {
        r.app.listening.favorites = {"/m/3.flac"};
        r.app.filter(true);
        r.app.toggleFav(r.app.library.rows[0]);
        r.app.toggleFav(r.app.library.rows[0]);
        return hearts(r);
    }, "/m/3.flac | /m/3.flac | 1,2,3,4 | T1 | -1 | 즐겨찾기 해제: T1"},
    {"un-hearting in the favourites list removes the row", [](Rig& r) {
        r.app.listening.favorites = {"/m/3.flac", "/m/4.flac"};
        r.app.setSmart(5);
        r.app.filter(true);
        r.app.toggleFav(r.app.library.rows[2]);
        return hearts(r);
    }, "/m/4.flac | /m/4.flac | 4 | T1 | -1 | 즐겨찾기 해제: T3"},
    {"elsewhere the row stays; the playing row is selected again", [](Rig& r) {
        r.app.listening.favorites = {r.app.library.rows[0].path};
        r.app.filter(true);
        r.app.play(r.app.library.rows[1]);
        r.app.selectTableRow(0);
        r.app.toggleFavorite();
        return hearts(r);
    }, " |  | 1,2,3,4 | T1 | 1 | 즐겨찾기 해제: T1"},
    {"no selection and nothing current", [](Rig& r) {
        r.app.toggleFavorite();
        return hearts(r);
    }, " | none | 1,2,3,4 | T1 | -1 | 먼저 곡을 선택하세요."},
    {"english keeps a Korean title", [](Rig& r) {
        L10n::setLanguage("en");
        r.app.library.rows[0].title = "밤편지";
        r.app.toggleFav(r.app.library.rows[0]);
        const QString said = r.status();
        Rig again(small()); // the hearts come back with the next start
        return hearts(again).section(" | ", 3, 3) + " | " + said;
    }, "♥ T1 | ♥ Added to favorites: 밤편지"},
};
// clang-format on

} // namespace

class ListeningAppTest : public QObject {
    Q_OBJECT
    static void check(const std::vector<Case>& cases, std::vector<Track> rows) {
        const Case& c = test::currentCase(cases);
        Rig r(std::move(rows));
        QCOMPARE(c.run(r), c.want);
    }
private slots:
    void init() {
        test::clearSettings();
        QFile::remove(JSONStore().filePath(stores::kFavorites));
    }
    void smartLists_data() { test::addRows(kSmart); }
    void smartLists() { check(kSmart, small()); }
    void radio_data() { test::addRows(kRadio); }
    void radio() { check(kRadio, hundred()); }
    void listen_data() { test::addRows(kListen); }
    void listen() { check(kListen, small()); }
    void hearts_data() { test::addRows(kHearts); }
    void hearts() { check(kHearts, small()); }
};

QL_TEST_MAIN(ListeningAppTest)
#include "ListeningAppTest.moc"
