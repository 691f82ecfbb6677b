// Guards against: tabs, sidebar, history arrows and page header that show a
// view other than the one the browser is in, and a view restored at launch
// that shows less than its tab would.
#include "app/App.h"
#include "app/JSONStore.h"
#include "app/JsonCodec.h"
#include "app/UserDefaults.h"
#include "library/CatalogIntake.h"
#include "ui/AlbumGridView.h"
#include "ui/SidebarButton.h"
#include "ui/StatusLabel.h"
#include "ui/TabBar.h"
#include "ui/Theme.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "ReplyPipe.h"
#include "StoredSettings.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTemporaryDir>

using namespace ql;

namespace {

// Three tracks by Lumen on "Dawn" (two) and "Noon", one without artist on
// "즐겨찾기" (a phrase of the translation table, yet an album's name here).
// clang-format off
const std::vector<Track> kCatalog = {{1, "/M/Rock/1.flac", "A", "Lumen", "Dawn", 0, {}}, {2, "/M/Rock/2.flac", "B", "Lumen", "Dawn", 0, {}},
                                     {3, "/M/Jazz/3.flac", "C", "Lumen", "Noon", 0, {}}, {4, "/M/Jazz/4.flac", "D", "", "즐겨찾기", 0, {}}};
// clang-format on

struct Browser {
    QStringList probes, covers; // quality probes started, header covers asked
    std::vector<std::function<void(const QImage&)>> answers;
    test::LaunchedApp l{
        "ko", [this](App& app) {
            test::fakes(app).observer.qualityProbe = [this](const Track& t) {
                probes << QString::number(t.id);
            };
            test::fakes(app).tools.probeTool = [](const QString&) { return "/bin/false"; };
            test::fakes(app).observer.fallbackRoad = [](const char*, const Track&, quint64) {};
            test::fakes(app).analysers.groupCover = [this](const AlbumItem& item, auto done) {
                covers << item.key;
                answers.push_back(done);
            };
        }};
    App& app = *l.app;
    Browser() { app.library.rows = kCatalog; }
    // A click on tab segment `tag`, or on the sidebar entry with that tag.
    void click(bool tab, int tag) {
        for (SymbolButton* b : app.window->findChildren<SymbolButton*>())
            if (b->tag() == tag && (tab ? b->parent() == app.viewModeControl.get()
                                        : qobject_cast<SidebarButton*>(b) != nullptr))
                QTest::mouseClick(b, Qt::LeftButton);
    }
    QString state() const {
        const auto& v = app.views;
        int active = -1;
        for (SidebarButton* b : v.sidebarButtons)
            active = b->active() ? b->tag() : active;
        const QString shown = QString(v.table->isVisible() ? "T" : "") +
                              (v.albumView->isVisible() ? "G" : "") +
                              (v.letterBar->isVisible() ? "L" : "");
        const std::optional<CellFilter>& cf = app.browser.cellFilter;
        const QString folder = UserDefaults().string(keys::kSelectedFolder).value_or("?");
        auto n = [](auto x) { return QString::number(x); };
        auto tint = [](SymbolButton* b) {
            return b->contentTint() == Theme::dim() ? "dim" : "white";
        };
        // clang-format off
        return QStringList{n(app.browser.viewKind), n(app.listening.smartMode), cf ? cf->key + "=" + cf->value : "-",
                           "'" + app.search->text() + "'", "|", shown, n(app.viewModeControl->selectedSegment()),
                           n(active), "|", n(app.browser.navStack.size()), n(app.browser.navIndex), tint(v.navBackBtn),
                           tint(v.navFwdBtn), "|", n(app.folderPicker->currentIndex()) + ":" + folder.section('/', -1)}
            .join(' ');
        // clang-format on
    }
};

const QString kCounted3 = "3곡 / 전체 4곡", kCounted4 = "4곡 / 전체 4곡",
              kDates = "받은 날짜 확인 중…", kGenres = "🎼 장르 태그 읽는 중… (4곡, 백그라운드)",
              kQuality = "💎 음질을 확인하는 중… (확인되는 대로 나타납니다)";

// State: "viewKind smartMode cellFilter 'search' | views shown (Table, Grid,
// Letter bar) tab segment lit sidebar tag | history size, index, arrows |
// folder item:stored folder". A row starts with the filter and search "Lumen",
// then clicks a tab segment, a sidebar tag, or syncs the highlight alone.
// No status: unchanged; `probes`: the track ids asked, in order.
struct ModeCase {
    const char *name, *action;
    int n;
    QString state, status, probes = "";
    int preSmart = 0; // the smart list before the click
};

// clang-format off
const std::vector<ModeCase> kModes = {
    {"albums tab", "seg", 0, "1 0 - 'Lumen' | GL 0 0 | 2 1 white dim | 0:?", kCounted3},
    {"artists tab: no letter bar", "seg", 1, "2 0 - 'Lumen' | G 1 0 | 2 1 white dim | 0:?", kCounted3},
    {"tracks tab", "seg", 2, "0 0 - 'Lumen' | T 2 0 | 2 1 white dim | 0:?", kCounted3},
    {"genres tab scans genres", "seg", 3, "3 0 - 'Lumen' | G 3 0 | 2 1 white dim | 0:?", kGenres},
    {"recently added reads dates", "seg", 4, "1 1 - 'Lumen' | GL 4 5 | 2 1 white dim | 0:?", kDates},
    {"hi-res asks every label", "seg", 5, "1 6 - 'Lumen' | GL 5 6 | 2 1 white dim | 0:?", kQuality, "1 2 3 4"},
    {"local entry is the albums tab", "tag", 0, "1 0 - 'Lumen' | GL 0 0 | 2 1 white dim | 0:?", kCounted3},
    {"favourites in the track list", "tag", 1, "0 5 - '' | T -1 1 | 2 1 white dim | 0:?", "0곡 / 전체 4곡"},
    {"often played", "tag", 2, "0 2 - '' | T -1 2 | 2 1 white dim | 0:?", "0곡 / 전체 4곡"},
    {"never played", "tag", 3, "0 3 - '' | T -1 3 | 2 1 white dim | 0:?", kCounted4},
    {"new this week reads dates", "tag", 4, "0 4 - '' | T -1 4 | 2 1 white dim | 0:?", kDates},
    {"recently received entry", "tag", 5, "1 1 - 'Lumen' | GL 4 5 | 2 1 white dim | 0:?", kDates},
    {"hi-res entry", "tag", 6, "1 6 - 'Lumen' | GL 5 6 | 2 1 white dim | 0:?", kQuality, "1 2 3 4"},
    {"play all: filters reset, the list shown", "tag", 10, "0 0 - '' | T 2 0 | 1 0 dim dim | 0:", "▶ 전체 재생: 4곡"},
    {"shuffle all: filters reset, the list shown", "tag", 11, "0 0 - '' | T 2 0 | 1 0 dim dim | 0:", "▶ 전체 랜덤: 4곡"},
    {"random album with nothing visible: view kept", "tag", 12, "1 0 artist=Lumen 'Lumen' | GL 0 0 | 1 0 dim dim | 0:?", ""},
    {"cell filter alone: no entry lit", "sync", 0, "1 0 artist=Lumen 'Lumen' | GL 0 -1 | 1 0 dim dim | 0:?", ""},
    {"cell filter in favourites: its entry", "sync", 0, "1 5 artist=Lumen 'Lumen' | GL -1 1 | 1 0 dim dim | 0:?", "", "", 5},
};

// Steps: s<n> a tab, t<n> a sidebar tag, b back, f forward, q<text> typed
// into the search field, F the Jazz folder chosen, K the first entry given a
// genre filter key without a value, R the filters reset.
struct NavCase {
    const char* name;
    QString steps, state;
};

const std::vector<NavCase> kNav = {
    {"after launch one entry, both dim", "", "1 0 - '' | GL 0 0 | 1 0 dim dim | 0:?"},
    {"back and forward do nothing at the ends", "b f", "1 0 - '' | GL 0 0 | 1 0 dim dim | 0:?"},
    {"same tab twice records once", "s2 s2", "0 0 - '' | T 2 0 | 2 1 white dim | 0:?"},
    {"a new view after two steps back drops the forward part", "s1 s2 s3 s4 b b s0", "1 0 - '' | GL 0 0 | 4 3 white dim | 0:?"},
    {"back then forward returns without growth", "s2 s3 b f", "3 0 - '' | G 3 0 | 3 2 white dim | 0:?"},
    {"in the middle both arrows are lit", "s1 s2 b", "2 0 - '' | G 1 0 | 3 1 white white | 0:?"},
    {"a search typed after recording is lost", "s2 qabc b f", "0 0 - '' | T 2 0 | 2 1 white dim | 0:?"},
    {"a different search alone is a new entry", "s2 qabc s2", "0 0 - 'abc' | T 2 0 | 3 2 white dim | 0:?"},
    {"smart list entries step back too", "t1 t3 b", "0 5 - '' | T -1 1 | 3 1 white white | 0:?"},
    {"a key without a value, the folder kept", "s2 K F b", "1 0 genre= '' | GL 0 -1 | 2 0 dim white | 1:Jazz"},
    {"reset clears folder, search and list", "F t2 qabc R", "0 0 - '' | T -1 2 | 2 1 white dim | 0:"},
};

// View kind, smart list, cell filter, language; then "header
// shown | title | subtitle | count label | cover key asked".
struct HeaderCase {
    const char* name;
    int viewKind, smart;
    std::optional<CellFilter> filter;
    QString lang, want;
};

const std::vector<HeaderCase> kHeader = {
    {"no page: hidden, count still set", 0, 0, {}, "ko", "no | 곡 | 4곡 | 4곡 | "},
    {"artist page", 0, 0, CellFilter{"artist", "Lumen"}, "ko", "yes | Lumen | 3곡 | 3곡 | hdr:Lumen:3"},
    {"album page with its artist", 0, 0, CellFilter{"album", "Dawn"}, "ko", "yes | Dawn | Lumen · 2곡 | 2곡 | dawn|lumen"},
    {"album page without artist", 0, 0, CellFilter{"album", "즐겨찾기"}, "ko", "yes | 즐겨찾기 | 1곡 | 1곡 | 즐겨찾기|"},
    {"empty genre value names the key", 0, 0, CellFilter{"genre", ""}, "ko", "yes | 장르 | 4곡 | 4곡 | hdr:장르:4"},
    {"a filter outranks the smart list", 0, 5, CellFilter{"artist", "Lumen"}, "ko", "yes | Lumen | 3곡 | 3곡 | hdr:Lumen:3"},
    {"empty page asks no cover", 0, 0, CellFilter{"artist", "Nobody"}, "ko", "yes | Nobody | 0곡 | 0곡 | "},
    {"album grid count", 1, 0, CellFilter{"album", "Dawn"}, "ko", "yes | Dawn | Lumen · 2곡 | 1장 • 2곡 | dawn|lumen"},
    {"artist grid count", 2, 0, CellFilter{"artist", "Lumen"}, "ko", "yes | Lumen | 3곡 | 1개 • 3곡 | hdr:Lumen:3"},
    {"view kind below range", -3, 0, {}, "ko", "no | 곡 | 4곡 | 4곡 | "},
    {"view kind above range", 7, 0, {}, "ko", "no | 장르 | 4곡 | 3개 • 4곡 | "},
    {"favourites key", 0, 5, {}, "ko", "yes | 즐겨찾기 | 4곡 | 4곡 | hdr:즐겨찾기:4"},
    {"english smart title", 0, 1, {}, "en", "yes | Recently downloaded | 4 tracks | 4 tracks | hdr:최근 받은 곡:4"},
    {"english keeps a Korean album", 0, 0, CellFilter{"album", "즐겨찾기"}, "en", "yes | 즐겨찾기 | 1 track | 1 track | 즐겨찾기|"},
};
// clang-format on

// A restart into a list chosen by date added. The catalog: 40 tracks on 10
// albums, four a piece; tracks 1-20 came 2 days ago, 21-36 20 days ago, the
// rest 100 days ago. It arrives from the cache the launch restores or as the
// backend's first reply; nothing is clicked.
struct RestartCase {
    const char* name;
    int smart, viewKind;
    bool fromCache;
    QString label; // the count label once the dates are in
};
// clang-format off
const std::vector<RestartCase> kRestarts = {
    {"최근 추가 from the cache", 1, 1, true, "9장 • 36곡"},
    {"최근 추가 from the backend's reply", 1, 1, false, "9장 • 36곡"},
    {"이번 주 새 곡 from the cache", 4, 0, true, "20곡"},
    {"이번 주 새 곡 from the backend's reply", 4, 0, false, "20곡"},
};
// clang-format on

// A restart into the hi-res list. Of the dated catalog, tracks 1-10 have
// labels from the last run (1-5 hi-res, 6-10 CD quality); 11-40 came while
// the program was closed, and ffprobe finds them 24-bit/96 kHz.
struct HiResRestartCase {
    const char* name;
    bool fromCache;
};
const std::vector<HiResRestartCase> kHiResRestarts = {
    {"하이레즈 from the cache", true},
    {"하이레즈 from the backend's reply", false},
};

std::vector<Track> datedCatalog() {
    std::vector<Track> rows;
    for (int i = 1; i <= 40; ++i)
        rows.push_back(Track{i,
                             QStringLiteral("/D/%1.flac").arg(i),
                             QStringLiteral("T%1").arg(i),
                             QStringLiteral("Lumen"),
                             QStringLiteral("A%1").arg((i - 1) / 4),
                             60,
                             {}});
    return rows;
}

// The backend's reply with datedCatalog(), sent to `app` unless the catalog
// came from the cache file; the pipe lives as long as the row waits.
std::unique_ptr<test::ReplyPipe> replyUnlessCached(App& app, bool fromCache) {
    if (fromCache)
        return nullptr;
    auto backend = std::make_unique<test::ReplyPipe>(app);
    if (!backend->send(*JsonCodec<Library>::encode(Library{datedCatalog(), false, {}}) + '\n'))
        qFatal("the backend's reply could not be sent");
    return backend;
}

double daysAgo(const QString& path) {
    const int n = QFileInfo(path).baseName().toInt();
    const double now = double(QDateTime::currentSecsSinceEpoch());
    return now - 86400.0 * (n <= 20 ? 2 : n <= 36 ? 20 : 100);
}

} // namespace

class ViewStateTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }

    void modes_data() { test::addRows(kModes); }
    void modes() {
        const ModeCase& c = test::currentCase(kModes);
        Browser b;
        App& app = b.app;
        app.browser.cellFilter = CellFilter{"artist", "Lumen"};
        app.search->setText("Lumen");
        app.listening.smartMode = c.preSmart;
        const QString before = app.status->stringValue();
        if (QString(c.action) == "sync")
            app.syncTabs();
        else
            b.click(QString(c.action) == "seg", c.n);
        QCOMPARE(b.state(), c.state);
        // The listen actions store the list view without a history entry.
        const bool stored = app.browser.navStack.size() > 1 || (c.n >= 10 && !c.status.isEmpty());
        QCOMPARE(UserDefaults().intIfPresent(keys::kViewKind).value_or(-9),
                 stored ? app.browser.viewKind : -9);
        QCOMPARE(app.status->stringValue(), c.status.isEmpty() ? before : c.status);
        QCOMPARE(b.probes.join(' '), c.probes);
    }
    void history_data() { test::addRows(kNav); }
    void history() {
        const NavCase& c = test::currentCase(kNav);
        Browser b;
        App& app = b.app;
        app.rebuildFolders();
        for (const QString& step : c.steps.split(' ', Qt::SkipEmptyParts)) {
            const char k = step[0].toLatin1();
            if (k == 's' || k == 't')
                b.click(k == 's', step.mid(1).toInt());
            else if (k == 'b' || k == 'f')
                QTest::mouseClick(k == 'b' ? app.views.navBackBtn : app.views.navFwdBtn,
                                  Qt::LeftButton);
            else if (k == 'q')
                QTest::keyClicks(app.search, step.mid(1));
            else if (k == 'K')
                app.browser.navStack[0].fk = "genre";
            else if (k == 'R')
                app.resetFilters();
            else if (k == 'F') {
                app.folderPicker->setCurrentIndex(1);
                app.folderChanged();
            }
        }
        QCOMPARE(b.state(), c.state);
    }
    void header_data() { test::addRows(kHeader); }
    void header() {
        const HeaderCase& c = test::currentCase(kHeader);
        Browser b{};
        App& app = b.app;
        for (const Track& t : kCatalog) // every track a favourite, with a recent date
            app.listening.favorites << t.path, app.library.added[t.path] = 2e9;
        L10n::setLanguage(c.lang);
        app.views.pageCover->setPixmap(QPixmap(4, 4));
        app.browser.viewKind = c.viewKind;
        app.listening.smartMode = c.smart;
        app.browser.cellFilter = c.filter;
        app.filter(true);
        const WindowViews& v = app.views;
        QCOMPARE(QStringList({v.pageHeader->isVisible() ? "yes" : "no", v.pageTitle->text(),
                              v.pageSub->text(), v.countLabel->text(), b.covers.join(',')})
                     .join(" | "),
                 c.want);
        QCOMPARE(v.pageCover->pixmap().size() == QSize(4, 4), !v.pageHeader->isVisible());
    }

    // The restored view reads the dates its tab reads, so the list shows its
    // tracks without a click.
    void restartIntoDateList_data() { test::addRows(kRestarts); }
    void restartIntoDateList() {
        const RestartCase& c = test::currentCase(kRestarts);
        QTemporaryDir stores;
        QVERIFY(stores.isValid());
        if (c.fromCache)
            QCOMPARE(writeCatalogFile(JSONStore(stores.path()), datedCatalog()),
                     CatalogSave::Written);
        test::storeSetting(keys::kSmartMode, c.smart);
        test::storeSetting(keys::kViewKind, c.viewKind);
        test::LaunchedApp l("ko", [&](App& app) {
            app.core.store = JSONStore(stores.path());
            test::fakes(app).tools.addedDate = [](const QString& path) { return daysAgo(path); };
            test::fakes(app).analysers.groupCover = [](const AlbumItem&, auto done) {
                done(QImage());
            };
            app.runCatalogInBackground();
        });
        App& app = *l;
        const std::unique_ptr<test::ReplyPipe> backend = replyUnlessCached(app, c.fromCache);
        QTRY_COMPARE_WITH_TIMEOUT(app.library.rows.size(), std::size_t(40), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(app.views.countLabel->text(), c.label, 20000);
        QCOMPARE(app.listening.smartMode, c.smart);
        QCOMPARE(app.browser.viewKind, c.viewKind);
    }

    // The restored hi-res list asks the labels its tab asks, only for the
    // files without one, and shows those that turn out hi-res.
    void restartIntoHiResList_data() { test::addRows(kHiResRestarts); }
    void restartIntoHiResList() {
        const HiResRestartCase& c = test::currentCase(kHiResRestarts);
        QTemporaryDir stores;
        QVERIFY(stores.isValid());
        const JSONStore store(stores.path());
        if (c.fromCache)
            QCOMPARE(writeCatalogFile(store, datedCatalog()), CatalogSave::Written);
        QHash<QString, QString> labels;
        for (int i = 1; i <= 10; ++i)
            labels.insert(QStringLiteral("/D/%1.flac").arg(i),
                          i <= 5 ? "FLAC 96kHz/24bit ★" : "FLAC 44.1kHz/16bit");
        QVERIFY(store.save(QString::fromLatin1(stores::kQuality), labels));
        const QString asked = stores.filePath("asked"), ffprobe = stores.filePath("ffprobe");
        // Writes down the file it is asked about (its last argument).
        QVERIFY(test::writeExecutable(
            ffprobe, "for a; do last=$a; done\necho \"$last\" >> '" + asked.toUtf8() +
                         "'\necho '{\"streams\":[{\"codec_name\":\"flac\",\"sample_rate\":"
                         "\"96000\",\"bits_per_raw_sample\":\"24\"}]}'\n"));
        test::storeSetting(keys::kSmartMode, 6);
        test::storeSetting(keys::kViewKind, 1);
        test::LaunchedApp l("ko", [&](App& app) {
            app.core.store = store;
            test::fakes(app).tools.probeTool = [ffprobe](const QString&) { return ffprobe; };
            test::fakes(app).analysers.groupCover = [](const AlbumItem&, auto done) {
                done(QImage());
            };
            app.runCatalogInBackground();
        });
        App& app = *l;
        const std::unique_ptr<test::ReplyPipe> backend = replyUnlessCached(app, c.fromCache);
        // Tracks 1-5 and 11-40, on A0, A1 and A2-A9 (before: 2장 • 5곡).
        QTRY_COMPARE_WITH_TIMEOUT(app.views.countLabel->text(), QString("10장 • 35곡"), 30000);
        QStringList want;
        for (int i = 11; i <= 40; ++i)
            want << QStringLiteral("/D/%1.flac").arg(i);
        QStringList got = QString::fromUtf8(test::readFile(asked)).split('\n', Qt::SkipEmptyParts);
        for (QString& line : got)
            line = line.section(':', -1); // ffmpegInput's "file:" prefix
        got.sort();
        want.sort();
        QCOMPARE(got, want);
        QCOMPARE(app.listening.smartMode, 6);
    }

    // A slow cover of the page left behind never lands on the new page, and
    // one that comes after the controller is gone is dropped.
    void lateCovers() {
        auto b = std::make_unique<Browser>();
        App& app = b->app;
        QImage red(8, 8, QImage::Format_RGB32), blue = red;
        red.fill(Qt::red), blue.fill(Qt::blue);
        app.applyCellFilter("artist", "Lumen");
        app.applyCellFilter("album", "즐겨찾기");
        QCOMPARE(b->covers, (QStringList{"hdr:Lumen:3", "즐겨찾기|"}));
        b->answers[1](blue);
        b->answers[0](red);
        // The centre: the corners are rounded away.
        QCOMPARE(app.views.pageCover->pixmap().toImage().pixelColor(56, 56), QColor(Qt::blue));
        auto late = b->answers[0];
        b.reset();
        late(red);
    }
};

QL_TEST_MAIN(ViewStateTest)
#include "ViewStateTest.moc"
