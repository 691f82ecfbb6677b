// Guards against: tabs, sidebar, history arrows and page header that show a
// view other than the one the browser is in.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "ui/SidebarButton.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/TabBar.h"
#include "ui/Theme.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestHome.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>

using namespace ql;

namespace {

// Three tracks by Lumen on "Dawn" (two) and "Noon", one without artist on "Night".
std::vector<Track> catalog() {
    return {{1, "/M/Rock/1.flac", "A", "Lumen", "Dawn"},
            {2, "/M/Rock/2.flac", "B", "Lumen", "Dawn"},
            {3, "/M/Jazz/3.flac", "C", "Lumen", "Noon"},
            {4, "/M/Jazz/4.flac", "D", "", "Night"}};
}

struct Browser {
    QStringList probes, covers; // quality probes started, header covers asked
    std::vector<std::function<void(const QImage&)>> answers;
    test::LaunchedApp l{"ko", [this](App& app) {
                            app.seams.qualityProbe = [this](const Track& t) { probes << t.path; };
                            app.seams.addedDate = [](const QString&) { return 0.0; };
                            app.seams.probeTool = [](const QString&) {
                                return QString("/bin/false");
                            };
                            app.seams.groupCover = [this](const AlbumItem& item, auto done) {
                                covers << item.key;
                                answers.push_back(done);
                            };
                        }};
    App& app = *l.app;
    Browser() { app.library.rows = catalog(); }
    void clickTab(int segment) {
        for (SymbolButton* b : app.viewModeControl->findChildren<SymbolButton*>())
            if (b->tag() == segment)
                QTest::mouseClick(b, Qt::LeftButton);
    }
    void clickSidebar(int tag) {
        for (SidebarButton* b : app.views.sidebarButtons)
            if (b->tag() == tag)
                QTest::mouseClick(b, Qt::LeftButton);
    }
    int activeTag() const {
        for (SidebarButton* b : app.views.sidebarButtons)
            if (b->active())
                return b->tag();
        return -1;
    }
    // "T" table, "G" grid, "L" letter bar: the ones on screen.
    QString shown() const {
        return QString(app.views.table->isVisible() ? "T" : "") +
               (app.views.albumScroll->isVisible() ? "G" : "") +
               (app.views.letterBar->isVisible() ? "L" : "");
    }
    QString arrows() const {
        auto tint = [](SymbolButton* b) {
            return b->contentTint() == Theme::dim() ? "dim" : "white";
        };
        return QString("%1 %2 %3 %4")
            .arg(app.browser.navStack.size())
            .arg(app.browser.navIndex)
            .arg(tint(app.views.navBackBtn), tint(app.views.navFwdBtn));
    }
};

const QString kCounted3 = "3곡 / 전체 4곡", kCounted4 = "4곡 / 전체 4곡",
              kDates = "받은 날짜 확인 중…", kGenres = "🎼 장르 태그 읽는 중… (4곡, 백그라운드)",
              kQuality = "💎 음질을 확인하는 중… (확인되는 대로 나타납니다)";

// Each row starts from the launched window with the artist filter "Lumen" and
// the search "Lumen" in place (smart list `preSmart`), then clicks: a tab
// segment, a sidebar tag, or "sync" (the highlight alone). An empty status is
// not checked; `history` is the number of entries afterwards.
struct ModeCase {
    const char* name;
    const char* action;
    int n, viewKind, smart;
    QString search, status;
    int probes, history;
    QString shown;
    int segment, active, preSmart = 0;
};

// clang-format off
const std::vector<ModeCase> kModes = {
    {"albums tab", "seg", 0, 1, 0, "Lumen", kCounted3, 0, 2, "GL", 0, 0},
    {"artists tab: no letter bar", "seg", 1, 2, 0, "Lumen", kCounted3, 0, 2, "G", 1, 0},
    {"tracks tab", "seg", 2, 0, 0, "Lumen", kCounted3, 0, 2, "T", 2, 0},
    {"genres tab scans genres", "seg", 3, 3, 0, "Lumen", kGenres, 0, 2, "G", 3, 0},
    {"recently added reads dates", "seg", 4, 1, 1, "Lumen", kDates, 0, 2, "GL", 4, 5},
    {"hi-res asks every label", "seg", 5, 1, 6, "Lumen", kQuality, 4, 2, "GL", 5, 6},
    {"local entry is the albums tab", "tag", 0, 1, 0, "Lumen", kCounted3, 0, 2, "GL", 0, 0},
    {"favourites in the track list", "tag", 1, 0, 5, "", kCounted4, 0, 2, "T", -1, 1},
    {"often played", "tag", 2, 0, 2, "", kCounted4, 0, 2, "T", -1, 2},
    {"never played", "tag", 3, 0, 3, "", kCounted4, 0, 2, "T", -1, 3},
    {"new this week reads dates", "tag", 4, 0, 4, "", kDates, 0, 2, "T", -1, 4},
    {"recently received entry", "tag", 5, 1, 1, "Lumen", kDates, 0, 2, "GL", 4, 5},
    {"hi-res entry", "tag", 6, 1, 6, "Lumen", kQuality, 4, 2, "GL", 5, 6},
    {"play all: view untouched", "tag", 10, 1, 0, "Lumen", "", 0, 1, "T", 0, 0},
    {"shuffle all: view untouched", "tag", 11, 1, 0, "Lumen", "", 0, 1, "T", 0, 0},
    {"random album: segment untouched", "tag", 12, 1, 0, "Lumen", "", 0, 1, "T", 0, 0},
    {"cell filter alone: no entry lit", "sync", 0, 1, 0, "Lumen", "", 0, 1, "T", 0, -1},
    {"cell filter in favourites: its entry", "sync", 0, 1, 5, "Lumen", "", 0, 1, "T", -1, 1, 5},
};

// Steps: s<n> a tab, t<n> a sidebar tag, b back, f forward, q<text> typed
// into the search field, F the Jazz folder chosen, K an entry before the
// current one holding a genre filter key without a value.
struct NavCase {
    const char* name;
    QString steps, arrows, search = "";
};

const std::vector<NavCase> kNav = {
    {"after launch one entry, both dim", "", "1 0 dim dim"},
    {"back and forward do nothing at the ends", "b f", "1 0 dim dim"},
    {"same tab twice records once", "s2 s2", "2 1 white dim"},
    {"a new view after two steps back drops the forward part", "s1 s2 s3 s4 b b s0", "4 3 white dim"},
    {"back then forward returns without growth", "s2 s3 b f", "3 2 white dim"},
    {"in the middle both arrows are lit", "s1 s2 b", "3 1 white white"},
    {"a search typed after recording is lost", "s2 qabc b f", "2 1 white dim", ""},
    {"a different search alone is a new entry", "s2 qabc s2", "3 2 white dim", "abc"},
    {"smart list entries step back too", "t1 t3 b", "3 1 white white"},
};

// The state before updateHeader: view kind, smart list, cell filter
// ("key=value", "" none), language; then header shown, title, subtitle,
// count label and the cover key asked ("" none).
struct HeaderCase {
    const char* name;
    int viewKind, smart;
    QString filter, lang, shown, title, sub, count, cover;
};

const std::vector<HeaderCase> kHeader = {
    {"no page: hidden, count still set", 0, 0, "", "ko", "no", "곡", "4곡", "4곡", ""},
    {"artist page", 0, 0, "artist=Lumen", "ko", "yes", "Lumen", "3곡", "3곡", "hdr:Lumen:3"},
    {"album page with its artist", 0, 0, "album=Dawn", "ko", "yes", "Dawn", "Lumen · 2곡", "2곡", "hdr:Dawn:2"},
    {"album page without artist", 0, 0, "album=Night", "ko", "yes", "Night", "1곡", "1곡", "hdr:Night:1"},
    {"empty genre value names the key", 0, 0, "genre=", "ko", "yes", "장르", "4곡", "4곡", "hdr:장르:4"},
    {"a filter outranks the smart list", 0, 5, "artist=Lumen", "ko", "yes", "Lumen", "3곡", "3곡", "hdr:Lumen:3"},
    {"empty page asks no cover", 0, 0, "artist=Nobody", "ko", "yes", "Nobody", "0곡", "0곡", ""},
    {"album grid count", 1, 0, "album=Dawn", "ko", "yes", "Dawn", "Lumen · 2곡", "1장 • 2곡", "hdr:Dawn:2"},
    {"artist grid count", 2, 0, "artist=Lumen", "ko", "yes", "Lumen", "3곡", "1개 • 3곡", "hdr:Lumen:3"},
    {"view kind below range", -3, 0, "", "ko", "no", "곡", "4곡", "4곡", ""},
    {"view kind above range", 7, 0, "", "ko", "no", "장르", "4곡", "3개 • 4곡", ""},
    {"favourites key", 0, 5, "", "ko", "yes", "즐겨찾기", "4곡", "4곡", "hdr:즐겨찾기:4"},
    {"english smart title", 0, 1, "", "en", "yes", "Recently downloaded", "4 tracks", "4곡", "hdr:최근 받은 곡:4"},
    {"english keeps a Korean album", 0, 0, "album=Night", "en", "yes", "Night", "1 track", "1곡", "hdr:Night:1"},
};
// clang-format on

} // namespace

class ViewStateTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }
    void cleanup() { L10n::setLanguage("en"); }

    void modes_data() { test::addRows(kModes); }
    void modes() {
        const ModeCase& c = test::currentCase(kModes);
        Browser b;
        App& app = b.app;
        app.browser.cellFilter = CellFilter{"artist", "Lumen"};
        app.search->setText("Lumen");
        app.listening.smartMode = c.preSmart;
        const QString before = app.status->stringValue();
        app.library.qualPending.clear();
        b.probes.clear();
        const QString action = c.action;
        if (action == "seg")
            b.clickTab(c.n);
        else if (action == "tag")
            b.clickSidebar(c.n);
        else
            app.syncTabs();
        QCOMPARE(app.browser.viewKind, c.viewKind);
        QCOMPARE(app.listening.smartMode, c.smart);
        QCOMPARE(app.browser.cellFilter.has_value(), action == "sync" || c.n >= 10);
        QCOMPARE(app.search->text(), c.search);
        QCOMPARE(app.status->stringValue(), c.status.isEmpty() ? before : c.status);
        QStringList allPaths;
        for (const Track& t : catalog())
            allPaths << t.path;
        QCOMPARE(b.probes, allPaths.mid(0, c.probes));
        QCOMPARE(int(app.browser.navStack.size()), c.history);
        QCOMPARE(UserDefaults().intIfPresent(keys::kViewKind).value_or(-9),
                 c.history > 1 ? c.viewKind : -9);
        QCOMPARE(b.shown(), c.shown);
        QCOMPARE(app.viewModeControl->selectedSegment(), c.segment);
        QCOMPARE(b.activeTag(), c.active);
    }

    void history_data() { test::addRows(kNav); }
    void history() {
        const NavCase& c = test::currentCase(kNav);
        Browser b;
        App& app = b.app;
        for (const QString& step : c.steps.split(' ', Qt::SkipEmptyParts)) {
            const int n = step.mid(1).toInt();
            switch (step[0].toLatin1()) {
            case 's':
                b.clickTab(n);
                break;
            case 't':
                b.clickSidebar(n);
                break;
            case 'b':
                QTest::mouseClick(app.views.navBackBtn, Qt::LeftButton);
                break;
            case 'f':
                QTest::mouseClick(app.views.navFwdBtn, Qt::LeftButton);
                break;
            case 'q':
                QTest::keyClicks(app.search, step.mid(1));
                break;
            }
        }
        QCOMPARE(b.arrows(), c.arrows);
        QCOMPARE(app.search->text(), c.search);
    }

    // An entry whose filter has a key and no value; the folder chosen after
    // recording survives the steps.
    void restoreKeepsFolderAndEmptyValue() {
        Browser b;
        App& app = b.app;
        app.rebuildFolders();
        b.clickTab(2);
        app.browser.navStack[0].fk = "genre";
        app.folderPicker->setCurrentIndex(1);
        app.folderChanged();
        const QString folder = app.browser.selectedFolder;
        app.navBack();
        QCOMPARE(app.browser.cellFilter, (CellFilter{"genre", ""}));
        app.navForward();
        QCOMPARE(app.browser.selectedFolder, folder);
        QVERIFY(!folder.isEmpty());
        QCOMPARE(b.arrows(), "2 1 white dim");
        app.resetFilters();
        QCOMPARE(UserDefaults().string(keys::kSelectedFolder).value_or("unset"), QString(""));
        QCOMPARE(app.folderPicker->currentIndex(), 0);
    }

    void header_data() { test::addRows(kHeader); }
    void header() {
        const HeaderCase& c = test::currentCase(kHeader);
        Browser b{};
        App& app = b.app;
        L10n::setLanguage(c.lang);
        app.views.pageCover->setPixmap(QPixmap(4, 4));
        app.browser.viewKind = c.viewKind;
        app.listening.smartMode = c.smart;
        if (!c.filter.isEmpty())
            app.browser.cellFilter =
                CellFilter{c.filter.section('=', 0, 0), c.filter.section('=', 1)};
        b.covers.clear();
        app.filter(true);
        QCOMPARE(app.views.pageHeader->isVisible() ? "yes" : "no", c.shown);
        QCOMPARE(app.views.pageTitle->text(), c.title);
        QCOMPARE(app.views.pageSub->text(), c.sub);
        QCOMPARE(app.views.countLabel->text(), c.count);
        QCOMPARE(b.covers.join(','), c.cover);
        QVERIFY(!app.views.pageCover->pixmap().isNull()); // the previous cover stays
        if (!qEnvironmentVariableIsEmpty("QL_HEADER_SHOT") && c.cover == "hdr:Dawn:2") {
            QImage red(300, 300, QImage::Format_RGB32);
            red.fill(Qt::red);
            b.answers.back()(red);
            QTest::qWait(100);
            app.window->grab().save(qEnvironmentVariable("QL_HEADER_SHOT"));
        }
    }

    // A slow cover of the page left behind never lands on the new page, and
    // one that comes after the controller is gone is dropped.
    void lateCovers() {
        auto b = std::make_unique<Browser>();
        App& app = b->app;
        QImage red(8, 8, QImage::Format_RGB32), blue(8, 8, QImage::Format_RGB32);
        red.fill(Qt::red);
        blue.fill(Qt::blue);
        app.applyCellFilter("artist", "Lumen");
        app.applyCellFilter("album", "Night");
        QCOMPARE(b->covers, (QStringList{"hdr:Lumen:3", "hdr:Night:1"}));
        b->answers[1](blue);
        b->answers[0](red);
        QCOMPARE(app.views.pageCover->pixmap().toImage().pixelColor(0, 0), QColor(Qt::blue));
        auto late = b->answers[0];
        b.reset();
        late(red);
    }
};

QL_TEST_MAIN(ViewStateTest)
#include "ViewStateTest.moc"
