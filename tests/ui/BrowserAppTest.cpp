// Guards against: a browser that shows the wrong folder, order or count.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/StatusLabel.h"
#include "ui/StoredOrder.h"
#include "ui/l10n/L10n.h"

#include "StoredSettings.h"
#include "TestHome.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QStandardPaths>

#include <algorithm>

using namespace ql;

namespace {

Track track(qint64 id, const QString& path, const QString& title) {
    return Track{id, path, title, "Lumen", "Harbor", 0, {}};
}

std::vector<Track> catalog(int n, qint64 firstId = 1) {
    std::vector<Track> rows;
    for (int i = 0; i < n; ++i) {
        const qint64 id = firstId + i;
        rows.push_back(track(id, QString("/Music/%1/%2.flac").arg(i % 2 ? "Jazz" : "Rock").arg(id),
                             QString("Song %1").arg(id)));
    }
    return rows;
}

QStringList pickerItems(const App& app) {
    QStringList out;
    for (int i = 0; i < app.folderPicker->count(); ++i)
        out << app.folderPicker->itemText(i);
    return out;
}

} // namespace

class BrowserAppTest : public QObject {
    Q_OBJECT
private slots:
    // The texts below are the Korean ones the code composes; one test looks
    // at English.
    void init() {
        test::clearSettings();
        L10n::setLanguage("ko");
    }
    void cleanup() { L10n::setLanguage("ko"); }

    void englishKeepsNamesAsTheyAre() {
        L10n::setLanguage("en");
        platform::Platform plat;
        App app(plat);
        app.library.rows = catalog(3);
        app.library.rows[0].album = "가을 아침";
        app.rebuildFolders();
        app.filter();
        QCOMPARE(pickerItems(app),
                 (QStringList{"All folders (3 tracks)", "Jazz (1 track)", "Rock (2 tracks)"}));
        QCOMPARE(app.status->stringValue(), QString("3 tracks / All 3 tracks"));
        app.applyCellFilter("album", "가을 아침");
        QVERIFY(app.status->stringValue().contains("'가을 아침'"));
        QVERIFY(!L10n::hasHangul(app.status->stringValue().remove("가을 아침")));
        QVERIFY(app.status->isFinal());
    }

    // The settings file as an earlier run left it: QSettings keeps a list of
    // two or more numbers as text, and a stored value may be anything.
    void viewStateWrittenByAnEarlierRun_data() {
        QTest::addColumn<QByteArray>("order");
        QTest::addColumn<TrackIds>("ids");
        QTest::newRow("list of numbers") << QByteArray("3, 1, 2") << TrackIds{3, 1, 2};
        QTest::newRow("a list with a word") << QByteArray("1, two") << TrackIds{};
        QTest::newRow("a single value is no list") << QByteArray("3") << TrackIds{};
    }
    void viewStateWrittenByAnEarlierRun() {
        QFETCH(QByteArray, order);
        QFETCH(TrackIds, ids);
        const QString file = UserDefaults().fileName();
        QDir().mkpath(QFileInfo(file).path());
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("[General]\nvisibleTrackOrder=" + order +
                    "\nselectedFolder=/Music/Jazz\nlibrarySearch=\"  harbor \"\n");
        }
        UserDefaults().sync(); // the run's settings take the file in
        platform::Platform plat;
        App app(plat);
        QCOMPARE(app.browser.orderedIDs, ids);
        QCOMPARE(app.browser.selectedFolder, QString("/Music/Jazz"));
        QCOMPARE(app.search->text(), QString("  harbor "));
    }

    // Twenty keystrokes with shuffle on, each storing 100,000 ids: one write
    // (stood in for: QSettings writes so long a list slowly under the debug
    // allocator). The quit writes what waits; a copy of the file holds it.
    void settingsWritesAreCoalesced() {
        platform::Platform plat;
        App app(plat);
        app.playback.shuffled = true;
        app.library.rows = catalog(100000);
        UserDefaults::standInForWrites([] {});
        app.filter(true);
        UserDefaults().sync();
        const quint64 before = UserDefaults::fileWrites();
        for (int k = 0; k < 20; ++k)
            QTest::keyClick(app.search, k % 2 ? Qt::Key_Backspace : Qt::Key_S);
        QVERIFY(idsFromSetting(UserDefaults().value(keys::kVisibleTrackOrder)).size() == 100000);
        QCOMPARE(UserDefaults::fileWrites(), before);
        QTest::qWait(3 * UserDefaults::kWriteDelayMs);
        QCOMPARE(UserDefaults::fileWrites(), before + 1);
        UserDefaults::standInForWrites({});

        app.library.rows = catalog(8);
        app.search->setText("song");
        app.filter(true);
        UserDefaults().set(keys::kPlayerVolume, 37.5);
        app.applicationWillTerminate();
        const QString copy = QDir::temp().filePath("settings-copy.ini");
        QVERIFY(QFile::copy(UserDefaults().fileName(), copy));
        const UserDefaults onDisk(copy);
        QCOMPARE(onDisk.string(keys::kLibrarySearch), std::optional<QString>("song"));
        QCOMPARE(onDisk.real(keys::kPlayerVolume), 37.5);
    }

    void shuffledOrderSurvivesARestart() {
        TrackIds saved;
        {
            platform::Platform plat;
            App app(plat);
            app.playback.shuffled = true;
            app.library.rows = catalog(8);
            app.search->setText("  song ");
            app.filter(true);
            saved = trackIds(app.browser.filtered);
            QCOMPARE(app.browser.orderedIDs, saved);
            QCOMPARE(idsFromSetting(UserDefaults().value("visibleTrackOrder")), saved);
            QCOMPARE(UserDefaults().value("librarySearch").toString(), QString("  song "));
        }
        platform::Platform plat;
        App app(plat);
        app.playback.shuffled = true;
        QCOMPARE(app.browser.orderedIDs, saved);
        QCOMPARE(app.search->text(), QString("  song "));

        // Next launch: track saved[2] is gone, ids 20 and 21 are new.
        const qint64 gone = saved[2];
        std::vector<Track> rows = catalog(8);
        rows.erase(
            std::find_if(rows.begin(), rows.end(), [&](const Track& t) { return t.id == gone; }));
        for (const Track& t : catalog(2, 20))
            rows.push_back(t);
        app.library.rows = rows;
        app.filter(); // the first pass after the catalog is restored keeps the order

        TrackIds expected = saved;
        expected.erase(expected.begin() + 2);
        const TrackIds got = trackIds(app.browser.filtered);
        QCOMPARE(got.size(), expected.size() + 2);
        QCOMPARE(TrackIds(got.begin(), got.begin() + qsizetype(expected.size())), expected);
        TrackIds tail(got.begin() + qsizetype(expected.size()), got.end());
        std::sort(tail.begin(), tail.end());
        QCOMPARE(tail, (TrackIds{20, 21}));
    }

    // A stored smart mode beyond the known lists selects like the pop-up
    // shows it (the last list); one below zero is no smart list.
    void smartListStoresNoOrder_data() {
        QTest::addColumn<int>("smartMode");
        QTest::addColumn<bool>("orderKept");
        QTest::newRow("never played") << 3 << false;
        QTest::newRow("beyond the lists") << 9 << false;
        QTest::newRow("below zero") << -1 << true;
    }
    void smartListStoresNoOrder() {
        QFETCH(int, smartMode);
        QFETCH(bool, orderKept);
        platform::Platform plat;
        App app(plat);
        app.playback.shuffled = true;
        app.library.rows = catalog(5);
        app.filter(true);
        QVERIFY(!app.browser.orderedIDs.empty());
        app.listening.smartMode = smartMode;
        app.filter(true);
        QCOMPARE(!app.browser.orderedIDs.empty(), orderKept);
        QCOMPARE(!idsFromSetting(UserDefaults().value("visibleTrackOrder")).empty(), orderKept);
        // No order leaves no entry behind, never an "@Invalid()" one.
        UserDefaults().sync();
        QFile file(UserDefaults().fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().contains("visibleTrackOrder"), orderKept);
        if (!orderKept)
            QCOMPARE(trackIds(app.browser.filtered), (TrackIds{1, 2, 3, 4, 5}));
    }

    void typingFiltersAndEndsTheCellFilter() {
        platform::Platform plat;
        App app(plat);
        app.library.rows = catalog(6);
        app.library.rows[0].album = "Other";
        app.filter();
        QCOMPARE(app.status->stringValue(), QString("6곡 / 전체 6곡"));

        app.applyCellFilter("album", "Harbor");
        QCOMPARE(trackIds(app.browser.filtered), (TrackIds{2, 3, 4, 5, 6}));
        QCOMPARE(app.search->text(), QString());
        QVERIFY(app.browser.cellFilter.has_value());

        QTest::keyClicks(app.search, "song 1");
        QVERIFY(!app.browser.cellFilter.has_value());
        QCOMPARE(trackIds(app.browser.filtered), (TrackIds{1}));
        QCOMPARE(app.status->stringValue(), QString("1곡 / 전체 6곡"));
        QCOMPARE(UserDefaults().value("librarySearch").toString(), QString("song 1"));
    }

    void folderChoiceFiltersAndIsStored() {
        platform::Platform plat;
        App app(plat);
        app.library.rows = catalog(5); // ids 2, 4 in Jazz; 1, 3, 5 in Rock
        app.rebuildFolders();
        app.filter();
        QCOMPARE(pickerItems(app), (QStringList{"모든 폴더 (5곡)", "Jazz (2곡)", "Rock (3곡)"}));
        QCOMPARE(app.folderPicker->itemData(1, Qt::ToolTipRole).toString(), QString("/Music/Jazz"));
        QCOMPARE(app.browser.folderPaths, (QStringList{"", "/Music/Jazz", "/Music/Rock"}));

        app.applyCellFilter("title", "Song 3");
        app.folderPicker->setCurrentIndex(1);
        app.folderChanged();
        QVERIFY(!app.browser.cellFilter.has_value());
        QCOMPARE(trackIds(app.browser.filtered), (TrackIds{2, 4}));
        QCOMPARE(UserDefaults().value("selectedFolder").toString(), QString("/Music/Jazz"));

        app.folderPicker->setCurrentIndex(0);
        app.folderChanged();
        QCOMPARE(trackIds(app.browser.filtered).size(), std::size_t(5));
        QVERIFY(UserDefaults().contains("selectedFolder"));
        QCOMPARE(UserDefaults().value("selectedFolder").toString(), QString());
    }

    void storedFolderAfterARebuild_data() {
        QTest::addColumn<int>("tracks");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<int>("selected");
        // clang-format off
        QTest::newRow("folder still has tracks") << 4 << "/Music/Rock" << "/Music/Rock" << 2;
        QTest::newRow("folder without tracks is forgotten") << 4 << "/Music/Gone" << "" << 0;
        QTest::newRow("empty catalog forgets any folder") << 0 << "/Music/Rock" << "" << 0;
        // clang-format on
    }
    void storedFolderAfterARebuild() {
        QFETCH(int, tracks);
        QFETCH(QString, stored);
        QFETCH(QString, kept);
        QFETCH(int, selected);
        UserDefaults().set("selectedFolder", stored);
        platform::Platform plat;
        App app(plat);
        QCOMPARE(app.browser.selectedFolder, stored);
        app.library.rows = catalog(tracks);
        app.rebuildFolders();
        QCOMPARE(app.browser.selectedFolder, kept);
        QCOMPARE(UserDefaults().contains("selectedFolder"), !kept.isEmpty());
        QCOMPARE(app.folderPicker->currentIndex(), selected);
        QCOMPARE(app.folderPicker->count(), tracks ? 3 : 1);
    }

    void focusSearchSelectsTheText() {
        platform::Platform plat;
        App app(plat);
        app.search->setText("harbor");
        app.focusSearch();
        QCOMPARE(app.search->selectedText(), QString("harbor"));
    }
};

QL_TEST_MAIN(BrowserAppTest)
#include "BrowserAppTest.moc"
