// Guards against: tick work done at the wrong cadence, or not at all.
#include "analysis/WaveformView.h"
#include "app/App.h"
#include "platform/Platform.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "FakeServices.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTemporaryDir>

#include <cmath>
#include <limits>
#include <memory>

using namespace ql;
using Facts = PlayerFacts;

Q_DECLARE_METATYPE(Facts)
Q_DECLARE_METATYPE(std::optional<Facts>)

namespace {

// An App whose tick is driven by hand: every step that belongs to another
// part of the program is recorded (and skipped), request lines are recorded
// by tick, and the stores live in a temporary folder.
struct Driven {
    QTemporaryDir storeDir;
    platform::Platform plat;
    std::unique_ptr<App> app;
    QList<QStringList> stepsByTick; // [tick - 1] = steps of that tick, in order
    QStringList sent;               // "tick:action" or "tick:action:path"
    bool backendAnswers = true;     // a reply ends each request before the next tick
    std::optional<Facts> player;

    Driven() {
        app = std::make_unique<App>(plat, test::fakeServices());
        app->core.store = JSONStore(storeDir.path());
        test::fakes(*app).observer.tickStep = [this](const char* step) {
            stepsByTick.last() << QString::fromLatin1(step);
            return true;
        };
        test::fakes(*app).tools.backendWrite = [this](const QByteArray& line) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            QString entry = QString::number(app->core.ticks) + ':' + o["action"].toString();
            if (o.contains("path"))
                entry += ':' + o["path"].toString();
            sent << entry;
        };
        test::fakes(*app).clock.player = [this] { return player; };
    }

    void tick(int count = 1) {
        for (int i = 0; i < count; ++i) {
            stepsByTick << QStringList{};
            app->tick();
            if (backendAnswers)
                app->library.pending = false; // the reply line arrived
        }
    }

    // Ticks (1-based) at which `step` ran.
    QList<int> ticksOf(const QString& step) const {
        QList<int> at;
        for (int i = 0; i < stepsByTick.size(); ++i)
            if (stepsByTick[i].contains(step))
                at << i + 1;
        return at;
    }

    QString storeFile(const char* name) const {
        return storeDir.filePath(QString::fromLatin1(name));
    }
};

QList<int> multiplesOf(int n, int upTo) {
    QList<int> list;
    for (int i = n; i <= upTo; i += n)
        list << i;
    return list;
}

const QStringList kEveryTick{"countTick",    "sleepTick", "aimLookAhead",    "crossfadeCheck",
                             "gaplessCheck", "openAhead", "updateNowPlaying"};

} // namespace

class TickTest : public QObject {
    Q_OBJECT
private slots:
    void cadencesOverFortyTicks() {
        Driven d;
        d.tick(40);
        QCOMPARE(d.app->core.ticks, qint64(40));
        QCOMPARE(d.ticksOf("translateUI"), multiplesOf(2, 40));
        QCOMPARE(d.ticksOf("publish"), multiplesOf(2, 40));
        for (const QString& step : kEveryTick)
            QCOMPARE(d.ticksOf(step), multiplesOf(1, 40));
        for (const char* step :
             {"updateHW", "updateLockIcon", "refreshDACLabel", "refreshSignalPanel"})
            QCOMPARE(d.ticksOf(step), multiplesOf(4, 40));
        QCOMPARE(d.ticksOf("refreshDevicePopup"), (QList<int>{20, 40}));
        QStringList polls;
        for (int t : multiplesOf(4, 40))
            polls << QString::number(t) + ":list";
        QCOMPARE(d.sent, polls);
        // No player: the paused-player refresh never runs.
        QVERIFY(d.ticksOf("refreshTimes").isEmpty());
    }

    void stepsRunInTheirOrderWithinATick_data() {
        QTest::addColumn<int>("tick");
        QTest::addColumn<QStringList>("steps");
        const QStringList device{"updateHW", "updateLockIcon", "refreshDACLabel",
                                 "refreshSignalPanel"};
        QTest::newRow("tick 20: the device pop-up before the 2 s polls")
            << 20
            << QStringList{"translateUI"} + kEveryTick + QStringList{"refreshDevicePopup"} +
                   device + QStringList{"publish"};
    }
    void stepsRunInTheirOrderWithinATick() {
        QFETCH(int, tick);
        QFETCH(QStringList, steps);
        Driven d;
        d.tick(tick);
        QCOMPARE(d.stepsByTick[tick - 1], steps);
    }

    // The downloader's work queue against a backend that answers at once,
    // never, or has failed.
    void backendWorkQueue_data() {
        QTest::addColumn<QStringList>("adds");
        QTest::addColumn<bool>("scan");
        QTest::addColumn<QString>("backend"); // "answers", "silent", "failed"
        QTest::addColumn<int>("ticks");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("addsLeft");
        QTest::addColumn<bool>("scanLeft");
        QTest::newRow("three adds on three ticks, then the scan, then polls")
            << QStringList{"/d/1.flac", "/d/2.flac", "/d/3.flac"} << true << "answers" << 8
            << QStringList{"1:add:/d/1.flac", "2:add:/d/2.flac", "3:add:/d/3.flac", "4:scan",
                           "8:list"}
            << QStringList{} << false;
        QTest::newRow("an add on a poll tick drops that poll")
            << QStringList{"/a", "/b", "/c", "/d"} << false << "answers" << 8
            << QStringList{"1:add:/a", "2:add:/b", "3:add:/c", "4:add:/d", "8:list"}
            << QStringList{} << false;
        QTest::newRow("a scan alone goes out on the first tick")
            << QStringList{} << true << "answers" << 4 << QStringList{"1:scan", "4:list"}
            << QStringList{} << false;
        QTest::newRow("nothing goes out while a request is in flight")
            << QStringList{"/a", "/b"} << true << "silent" << 12 << QStringList{"1:add:/a"}
            << QStringList{"/b"} << true;
        QTest::newRow("nothing goes out after a backend failure")
            << QStringList{"/a"} << true << "failed" << 12 << QStringList{} << QStringList{"/a"}
            << true;
    }
    void backendWorkQueue() {
        QFETCH(QStringList, adds);
        QFETCH(bool, scan);
        QFETCH(QString, backend);
        QFETCH(int, ticks);
        QFETCH(QStringList, sent);
        QFETCH(QStringList, addsLeft);
        QFETCH(bool, scanLeft);
        Driven d;
        d.app->core.pendingAdds = adds;
        d.app->core.needsScan = scan;
        d.backendAnswers = backend == "answers";
        d.app->library.backendError = backend == "failed";
        d.tick(ticks);
        QCOMPARE(d.sent, sent);
        QCOMPARE(d.app->core.pendingAdds, addsLeft);
        QCOMPARE(d.app->core.needsScan, scanLeft);
    }

    void eachQueuedRequestIsAnnounced() {
        Driven d;
        d.app->core.pendingAdds = {"/d/1.flac"};
        d.app->core.needsScan = true;
        d.tick();
        // Shown in the interface language at once.
        QCOMPARE(d.app->status->stringValue(), L10n::tr("새로 받은 곡을 목록에 추가 중…"));
        d.tick();
        QCOMPARE(d.app->status->stringValue(), L10n::tr("새로 받은 음원을 다시 찾는 중…"));
    }

    // Changed stores are saved on ticks 20 and 40 only, and only when marked.
    void storeSaves_data() {
        QTest::addColumn<bool>("loudDirty");
        QTest::addColumn<bool>("qualDirty");
        QTest::newRow("loudness changed") << true << false;
        QTest::newRow("quality changed") << false << true;
        QTest::newRow("nothing changed") << false << false;
    }
    void storeSaves() {
        QFETCH(bool, loudDirty);
        QFETCH(bool, qualDirty);
        Driven d;
        d.app->playback.loud = {{"/m/a.flac", -14.5}};
        d.app->library.qual = {{"/m/a.flac", "★ 24bit"}};
        d.app->playback.loudDirty = loudDirty;
        d.app->library.qualDirty = qualDirty;
        const QString loud = d.storeFile("loudness.json");
        const QString qual = d.storeFile("quality.json");

        d.tick(19);
        QVERIFY(!QFile::exists(loud));
        QVERIFY(!QFile::exists(qual));
        d.tick();
        QCOMPARE(QFile::exists(loud), loudDirty);
        QCOMPARE(QFile::exists(qual), qualDirty);
        QVERIFY(!d.app->playback.loudDirty);
        QVERIFY(!d.app->library.qualDirty);

        // Unchanged since: tick 40 writes nothing (the files are removed to see it).
        QFile::remove(loud);
        QFile::remove(qual);
        d.app->playback.loud["/m/b.flac"] = -9.0; // changed in memory but not marked
        d.tick(20);
        QVERIFY(!QFile::exists(loud));
        QVERIFY(!QFile::exists(qual));

        // Marked again at tick 45: written at tick 60, not before.
        d.tick(5);
        d.app->playback.loudDirty = true;
        d.tick(14);
        QVERIFY(!QFile::exists(loud));
        d.tick();
        QCOMPARE(QJsonDocument::fromJson(test::readFile(loud)).object().size(), 2);
    }

    // A failed save is not taken for done: the flag stays, and a later tick
    // writes the values once they can be saved.
    void aFailedSaveKeepsTheFlag() {
        Driven d;
        const QString loud = d.storeFile("loudness.json");
        // A value JSON cannot hold makes the save fail and leaves no file.
        d.app->playback.loud = {{"/m/a.flac", -std::numeric_limits<double>::infinity()}};
        d.app->playback.loudDirty = true;
        d.tick(20);
        QVERIFY(!QFile::exists(loud));
        QVERIFY(d.app->playback.loudDirty);
        d.app->playback.loud = {{"/m/a.flac", -12.0}};
        d.tick(20);
        QVERIFY(QFile::exists(loud));
        QVERIFY(!d.app->playback.loudDirty);
    }

    // The play counts and favourites, written at once when they change, are
    // written by a later tick when that write failed.
    void failedUserSavesAreRetried_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("play counts") << "play-stats.json";
        QTest::newRow("favourites") << "favorites.json";
    }
    void failedUserSavesAreRetried() {
        QFETCH(QString, name);
        Driven d;
        const QString file = d.storeFile(name.toLatin1().constData());
        QVERIFY(test::writeFile(file, name == "favorites.json" ? "[]" : "{}"));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
        App& a = *d.app;
        if (name == "favorites.json") {
            a.toggleFav(Track{1, "/m/a.flac", {}, {}, {}, 0, {}});
            QVERIFY(a.listening.favoritesDirty);
        } else {
            a.playback.current = Track{1, "/m/a.flac", {}, {}, {}, 10, {}};
            for (int i = 0; i < 10; ++i)
                a.countTick(true, 10, 1000);
            QVERIFY(a.playback.statsDirty);
        }
        d.tick(20);
        QVERIFY(a.playback.statsDirty || a.listening.favoritesDirty);
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
        d.tick(20);
        QVERIFY(!a.playback.statsDirty && !a.listening.favoritesDirty);
        QVERIFY(test::readFile(file).contains("/m/a.flac"));
    }

    // Seek bar and clock, with the slider not held.
    void seekBarAndClock_data() {
        QTest::addColumn<double>("maxBefore");
        QTest::addColumn<std::optional<Facts>>("player");
        QTest::addColumn<double>("max");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("clock");
        QTest::newRow("a playing track moves the bar")
            << 1.0 << std::optional<Facts>(Facts{200.0, 30.4, true}) << 200.0 << 30.4
            << "0:30 / 3:20";
        QTest::newRow("a length of 0 keeps the maximum")
            << 10.0 << std::optional<Facts>(Facts{0.0, 4.0, true}) << 10.0 << 4.0 << "0:04 / 0:00";
        QTest::newRow("a position past the maximum stops at it")
            << 10.0 << std::optional<Facts>(Facts{0.0, 12.0, true}) << 10.0 << 10.0
            << "0:12 / 0:00";
        QTest::newRow("a length within 0.01 s keeps the maximum")
            << 100.0 << std::optional<Facts>(Facts{100.005, 1.0, true}) << 100.0 << 1.0
            << "0:01 / 1:40";
        QTest::newRow("no player: bar and clock keep their last values")
            << 1.0 << std::optional<Facts>() << 1.0 << 0.5 << "0:00 / 0:00";
    }
    void seekBarAndClock() {
        QFETCH(double, maxBefore);
        QFETCH(std::optional<Facts>, player);
        QFETCH(double, max);
        QFETCH(double, value);
        QFETCH(QString, clock);
        Driven d;
        d.app->seek->setMaximumValue(maxBefore);
        d.app->seek->setDoubleValue(std::min(0.5, maxBefore));
        d.player = player;
        d.tick();
        QCOMPARE(d.app->seek->maximumValue(), max);
        QCOMPARE(d.app->seek->doubleValue(), value);
        QCOMPARE(d.app->clock->text(), clock);
    }

    // The slider sits at 100,50 (200 x 20) in a shown window; the left button
    // is down with the pointer at `pointer` in window coordinates.
    void holdingTheSeekSlider_data() {
        QTest::addColumn<bool>("leftDown");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<bool>("held");
        QTest::newRow("6 px beside it") << true << QPoint(94, 60) << true;
        QTest::newRow("the button up on the slider") << false << QPoint(150, 60) << false;
    }
    void holdingTheSeekSlider() {
        QFETCH(bool, leftDown);
        QFETCH(QPoint, pointer);
        QFETCH(bool, held);
        QWidget window; // made first: it outlives App and takes the slider
        window.resize(400, 120);
        Driven d;
        d.app->seek->setParent(&window);
        d.app->seek->setGeometry(100, 50, 200, 20);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        test::fakes(*d.app).desktop.mouseButtons = [leftDown] {
            return leftDown ? Qt::LeftButton : Qt::NoButton;
        };
        test::fakes(*d.app).desktop.cursorPos = [&window, pointer] {
            return window.mapToGlobal(pointer);
        };

        d.player = Facts{200.0, 30.0, true};
        d.tick();
        const double before = d.app->seek->doubleValue();
        QCOMPARE(before, held ? 0.0 : 30.0);
        d.player = Facts{200.0, 31.0, true};
        d.tick();
        QCOMPARE(d.app->seek->doubleValue(), held ? before : 31.0);
        // The clock advances whether or not the slider is held.
        QCOMPARE(d.app->clock->text(), QString("0:31 / 3:20"));
        QCOMPARE(d.app->seek->maximumValue(), 200.0);
    }

    void aSliderNotOnScreenIsNeverHeld() {
        Driven d;
        test::fakes(*d.app).desktop.mouseButtons = [] { return Qt::LeftButton; };
        test::fakes(*d.app).desktop.cursorPos = [] { return QPoint(0, 0); };
        d.player = Facts{200.0, 30.0, true};
        d.tick();
        QCOMPARE(d.app->seek->doubleValue(), 30.0);
    }

    // A paused or stopped player has its waveform and time labels refreshed
    // by the tick; a playing one is left to the meter timer.
    void waveformWhileNotPlaying_data() {
        QTest::addColumn<Facts>("facts");
        QTest::addColumn<double>("progress");
        QTest::addColumn<bool>("timesRefreshed");
        QTest::newRow("paused halfway") << Facts{200.0, 100.0, false} << 0.5 << true;
        QTest::newRow("paused with a length of 0") << Facts{0.0, 3.0, false} << 0.0 << true;
        QTest::newRow("playing: left alone") << Facts{200.0, 100.0, true} << 0.25 << false;
    }
    void waveformWhileNotPlaying() {
        QFETCH(Facts, facts);
        QFETCH(double, progress);
        QFETCH(bool, timesRefreshed);
        Driven d;
        d.app->wave->setProgress(0.25);
        d.player = facts;
        d.tick();
        QCOMPARE(d.app->wave->progress(), progress);
        QCOMPARE(d.ticksOf("refreshTimes"), timesRefreshed ? QList<int>{1} : QList<int>{});
    }
};

QL_TEST_MAIN(TickTest)
#include "TickTest.moc"
