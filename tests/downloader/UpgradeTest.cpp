// Guards against: a lossless or unprobed track handed to the downloader, the
// wrong row handed over, a title split at the wrong separator, a hand-over
// that starts or disturbs a download, and a row-menu item without a script.
#include "app/App.h"
#include "downloader/FlacFetcher.h"

#include "app/UserDefaults.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "TestHome.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

using namespace ql;

namespace {

const QString kStandIn = QStringLiteral(QL_TEST_SUPPORT_DIR "/fetch_standin.py");
const QString kLossless =
    QStringLiteral("이 곡은 이미 무손실이거나 음질 확인 전입니다 (음질 열에 ⬆가 있는 곡만 대상).");
const QString kNoTrack = QStringLiteral("업그레이드할 곡을 먼저 선택하세요.");

Track track(qint64 id, const QString& artist, const QString& title) {
    return Track{id, QStringLiteral("/m/%1.x").arg(id), title, artist, {}, 60};
}
// Quality labels by track id; 5 has none (not probed yet).
const QHash<qint64, QString> kLabels = {
    {1, "MP3 320k ⬆"}, {2, "FLAC 16/44.1"}, {3, "AAC 256k ⬆"}, {4, "MP3 ⬆"}};
const Track kLossy = track(1, "Queen", "Bohemian Rhapsody");
const Track kFlac = track(2, "Queen", "Love");
const Track kThree = track(3, "", "A - B - C");
const Track kOne = track(4, "", "Solo");
const Track kUnprobed = track(5, "Queen", "New");

struct Case {
    const char* name;
    std::vector<Track> rows;
    int selected;
    std::optional<Track> current;
    int rightClick = -1; // the row menu's item on this row
    bool duringRun = false, script = true;
    QString status;                  // the refusal, or none for a hand-over
    QString artist = {}, title = {}; // what the downloader's form shows
};

// clang-format off
const std::vector<Case> kCases = {
    {"nothing selected: the lossy current track", {kFlac}, -1, kLossy, -1, false, true, {}, "Queen", "Bohemian Rhapsody"},
    {"a selected lossless row wins over the lossy current", {kLossy, kFlac}, 1, kLossy, -1, false, true, kLossless},
    {"an unprobed track is refused", {kUnprobed}, 0, {}, -1, false, true, kLossless},
    {"nothing selected, nothing current", {kLossy}, -1, {}, -1, false, true, kNoTrack},
    {"empty artist: split at the first separator", {kThree}, 0, {}, -1, false, true, {}, "A", "B - C"},
    {"empty artist without separator", {kOne}, 0, {}, -1, false, true, {}, "", "Solo"},
    {"row menu on another row", {kFlac, kLossy}, 0, {}, 1, false, true, {}, "Queen", "Bohemian Rhapsody"},
    {"during a run: the form is replaced, the run goes on", {kLossy}, 0, {}, -1, true, true, {}, "Queen", "Bohemian Rhapsody"},
    {"no script: no row-menu item", {kLossy}, 0, {}, 0, false, false, {}},
};
// clang-format on

} // namespace

class UpgradeTest : public QObject {
    Q_OBJECT
private slots:
    void init() { UserDefaults().clear(); }

    void upgrade_data() { test::addRows(kCases); }
    void upgrade() {
        const Case& c = test::currentCase(kCases);
        QTemporaryDir dir;
        const QString res = dir.filePath("res");
        QDir().mkpath(res);
        QDir().mkpath(dir.filePath("home/Downloads"));
        if (c.script)
            QFile::copy(kStandIn, res + "/flac_fetch.py");
        qputenv("STANDIN_RECORD", dir.filePath("record.json").toUtf8());
        qputenv("STANDIN_STEPS", "hang");
        test::LaunchedApp l("ko");
        FlacFetcher& fetcher = *l->fetcher;
        fetcher.setFolders({res, dir.filePath("home")});
        auto field = [&](const char* name) {
            return fetcher.window()->findChild<QLineEdit*>(name)->text();
        };
        if (c.duringRun) {
            fetcher.window()->findChild<QLineEdit*>("artistField")->setText("X");
            fetcher.startFetch();
            QVERIFY(fetcher.isRunning());
        }
        for (const Track& t : {kLossy, kFlac, kThree, kOne, kUnprobed})
            if (kLabels.contains(t.id))
                l->library.qual[t.path] = kLabels[t.id];
        l->showListView();
        l->browser.filtered = c.rows;
        l->reloadTable();
        l->selectTableRow(c.selected);
        l->playback.current = c.current;
        const QString statusBefore = l->status->stringValue();

        if (c.rightClick >= 0) {
            TrackTableView* table = l->views.table;
            const QRect cell = table->visualRect(table->model()->index(c.rightClick, 0));
            QTest::mousePress(table->viewport(), Qt::RightButton, {}, cell.center());
            table->selectRowOnly(c.selected); // a press that left the selection alone
            QMenu menu;
            l->addUpgradeItem(&menu);
            QCOMPARE(menu.actions().size(), c.script ? 1 : 0);
            if (!c.script)
                return;
            QCOMPARE(menu.actions()[0]->text(), "⬆ FLAC로 받기");
            menu.actions()[0]->trigger();
            QCOMPARE(table->selectionModel()->selectedRows().size(), 1);
            QCOMPARE(table->selectedRow(), c.rightClick);
        } else {
            l->upgradeFlac();
        }

        if (!c.status.isNull()) {
            QCOMPARE(l->status->stringValue(), c.status);
            QVERIFY(!fetcher.window()->isVisible());
            return;
        }
        QCOMPARE(l->status->stringValue(), statusBefore);
        QVERIFY(fetcher.window()->isVisible());
        QVERIFY(fetcher.window()->findChild<QAbstractButton*>("mode2")->isChecked());
        QCOMPARE(field("artistField"), c.artist);
        QCOMPARE(field("valueField"), c.title);
        QCOMPARE(fetcher.window()->findChild<QLabel*>("summary")->text(),
                 "'받기 시작'을 누르면 이 곡을 FLAC로 받습니다.");
        QCOMPARE(fetcher.isRunning(), c.duringRun);
        fetcher.terminateIfRunning();
    }
};

QL_TEST_MAIN(UpgradeTest)
#include "UpgradeTest.moc"
