// Guards against: a lossless or unprobed track handed over, the wrong row, a title split at
// the wrong separator, a hand-over that disturbs a download, a menu item without a script.
#include "app/App.h"
#include "downloader/FlacFetcher.h"

#include "app/UserDefaults.h"
#include "ui/StatusLabel.h"
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

// A track whose file's extension says its quality label: "mp3" lossy,
// "flac" lossless, "new" not probed yet (no label).
Track track(qint64 id, const QString& ext, const QString& artist, const QString& title) {
    return Track{id, QStringLiteral("/m/%1.%2").arg(id).arg(ext), title, artist, {}, 60, {}};
}
const Track kLossy = track(1, "mp3", "Queen", "Bohemian Rhapsody");
const Track kFlac = track(2, "flac", "Queen", "Love");

// clang-format off
// The rows shown, the one selected and the current track; the row menu's
// item used on a row (else the button); the refusal, or the form's fields.
struct Case { const char* name; std::vector<Track> rows; int selected; std::optional<Track> current; int rightClick = -1;
              bool duringRun = false, script = true; QString status, artist = {}, title = {}; };
const std::vector<Case> kCases = {
    {"nothing selected: the lossy current track", {kFlac}, -1, kLossy, -1, false, true, {}, "Queen", "Bohemian Rhapsody"},
    {"a selected lossless row wins over the lossy current", {kLossy, kFlac}, 1, kLossy, -1, false, true, kLossless},
    {"an unprobed track is refused", {track(5, "new", "Queen", "New")}, 0, {}, -1, false, true, kLossless},
    {"nothing selected, nothing current", {kLossy}, -1, {}, -1, false, true, kNoTrack},
    {"empty artist: split at the first separator", {track(3, "mp3", "", "A - B - C")}, 0, {}, -1, false, true, {}, "A", "B - C"},
    {"empty artist without separator", {track(4, "mp3", "", "Solo")}, 0, {}, -1, false, true, {}, "", "Solo"},
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
        if (c.script)
            QFile::copy(kStandIn, res + "/flac_fetch.py");
        qputenv("STANDIN_RECORD", dir.filePath("record.json").toUtf8());
        qputenv("STANDIN_STEPS", "hang");
        test::LaunchedApp l("ko");
        FlacFetcher& fetcher = *l->fetcher;
        fetcher.setFolders({res, dir.filePath("home")});
        auto field = [&](const char* name) {
            return fetcher.window()->findChild<QLineEdit*>(name);
        };
        if (c.duringRun) {
            field("artistField")->setText("X");
            fetcher.startFetch();
            QVERIFY(fetcher.isRunning());
        }
        auto label = [&](const Track& t) {
            if (!t.path.endsWith("new"))
                l->library.qual[t.path] = t.path.endsWith("mp3") ? "MP3 320k ⬆" : "FLAC 16/44.1";
        };
        std::for_each(c.rows.begin(), c.rows.end(), label);
        label(kLossy);
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
        QCOMPARE(field("artistField")->text(), c.artist);
        QCOMPARE(field("valueField")->text(), c.title);
        QCOMPARE(fetcher.window()->findChild<QLabel*>("summary")->text(),
                 "'받기 시작'을 누르면 이 곡을 FLAC로 받습니다.");
        QCOMPARE(fetcher.isRunning(), c.duringRun);
        fetcher.terminateIfRunning();
    }
};

QL_TEST_MAIN(UpgradeTest)
#include "UpgradeTest.moc"
