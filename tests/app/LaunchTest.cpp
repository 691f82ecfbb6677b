// Guards against: launch steps out of order or skipped, or the wrong window state after.
#include "app/App.h"
#include "app/AppPaths.h"
#include "downloader/FlacFetcher.h"
#include "effects/FXPanel.h"
#include "platform/HomeLock.h"
#include "platform/Platform.h"
#include "platform/SingleInstance.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "FakeServices.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDirIterator>
#include <QMainWindow>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>

using namespace ql;

namespace {

// Every file under `root` with its bytes.
QMap<QString, QByteArray> filesUnder(const QString& root) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        files.insert(path, f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?"));
    }
    return files;
}

const QStringList kLaunchOrder{"activationPolicy",
                               "loadExtras",
                               "icon",
                               "buildMenu",
                               "createWindow",
                               "title",
                               "minimumSize",
                               "centre",
                               "buildMainUI",
                               "volumeChanged",
                               "syncTabs",
                               "updateHeader",
                               "pushNav",
                               "updateLockIcon",
                               "wireFetcher",
                               "restoreCatalog",
                               "startBackend",
                               "registerRemote",
                               "registerVolumeKeys",
                               "startTimer",
                               "showWindow",
                               "noFirstResponder",
                               "activate",
                               "queueToolCheck",
                               "launched",
                               "openAudioFiles",
                               "pointerMonitor",
                               "keyMonitor"};

struct Recorder {
    QStringList steps;
    QList<QStringList> opened;
    bool timerRanAtOpen = false;
    bool windowShownAtOpen = false;

    void attach(App& app) {
        test::fakes(app).observer.trace = [this, &app](const QString& step,
                                                       const QStringList& files) {
            steps << step;
            if (step == "openAudioFiles") {
                opened << files;
                timerRanAtOpen = app.timer && app.timer->isActive();
                windowShownAtOpen = app.window && app.window->isVisible();
            }
        };
        test::fakes(app).tools.missingTools = [] { return QStringList{}; };
        // A backend that never answers.
        test::fakes(app).tools.backendWrite = [](const QByteArray&) {};
    }
};

QString quavelarkPath() {
    return test::TestHome::buildDir() + "/quavelark";
}

} // namespace

class LaunchTest : public QObject {
    Q_OBJECT
private slots:
    void stepsRunInOrderAndQueuedFilesOpenOnceAfterTheTimer() {
        platform::Platform plat;
        App app(plat, test::fakeServices());
        Recorder rec;
        rec.attach(app);
        app.applicationOpen({"/m/a.flac"});
        app.applicationOpen({"/m/b.flac", "/m/c.flac"});
        QVERIFY(rec.opened.isEmpty());

        app.applicationDidFinishLaunching();

        QCOMPARE(rec.steps, kLaunchOrder);
        QCOMPARE(rec.opened, (QList<QStringList>{{"/m/a.flac", "/m/b.flac", "/m/c.flac"}}));
        QVERIFY(rec.timerRanAtOpen);
        QVERIFY(rec.windowShownAtOpen);
        QVERIFY(app.core.waitingFiles.isEmpty());
        QVERIFY(app.core.launched);
    }

    // Without queued files the open step is skipped; files that come later
    // pass at once, one call per request.
    void filesAfterLaunchPassAtOnceOneCallPerRequest() {
        platform::Platform plat;
        App app(plat, test::fakeServices());
        Recorder rec;
        rec.attach(app);
        app.applicationDidFinishLaunching();
        QStringList expected = kLaunchOrder;
        expected.removeAll("openAudioFiles");
        QCOMPARE(rec.steps, expected);
        app.applicationOpen({"/m/x.flac"});
        app.applicationOpen({"/m/y.flac", "/m/z.flac"});
        QCOMPARE(rec.opened, (QList<QStringList>{{"/m/x.flac"}, {"/m/y.flac", "/m/z.flac"}}));
    }

    void mainWindowGeometry() {
        platform::Platform plat;
        App app(plat, test::fakeServices());
        Recorder rec;
        rec.attach(app);
        app.applicationDidFinishLaunching();
        QCOMPARE(app.window->windowTitle(), QString("Quavelark"));
        QCOMPARE(app.window->size(), QSize(1280, 820));
        QCOMPARE(app.window->minimumSize(), QSize(1180, 700));
        app.window->resize(800, 500);
        QCOMPARE(app.window->size(), QSize(1180, 700));
        QCOMPARE(app.status->stringValue(), QString("음원 불러오는 중…"));
        QCOMPARE(app.timer->interval(), 500);
        // Once activated, no control holds the keyboard focus: Space and the
        // arrows must not act on the transport buttons.
        QVERIFY(QTest::qWaitForWindowActive(app.window.get()));
        QTest::qWait(20);
        QCOMPARE(QApplication::focusWidget(), nullptr);
        // The plug-ins are found in the background and reach the panel's list.
        QTRY_VERIFY_WITH_TIMEOUT(app.pluginHost, ql::test::kOutcomeMs);
        QVERIFY(app.fxPanel->installed.size() > 10);
    }

    void downloaderCallbacks() {
        platform::Platform plat;
        App app(plat, test::fakeServices());
        Recorder rec;
        rec.attach(app);
        app.applicationDidFinishLaunching();
        app.fetcher->onSaved("/d/1.flac");
        app.fetcher->onSaved("/d/2.flac");
        QCOMPARE(app.core.pendingAdds, (QStringList{"/d/1.flac", "/d/2.flac"}));
        QVERIFY(!app.core.needsScan);
        app.fetcher->onFinished(7);
        QVERIFY(app.core.needsScan);
        QCOMPARE(app.core.pendingAdds.size(), 2);
    }

    void missingProgramsAlert_data() {
        QTest::addColumn<QStringList>("missing");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("alerts");
        QTest::addColumn<int>("setups");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QStringList>("buttons");
        const QStringList korean{"자동 설치", "나중에"};
        const QStringList english{"Install automatically", "Later"};
        QTest::newRow("nothing missing: no alert, status untouched")
            << QStringList{} << 0 << 0 << 0 << "음원 불러오는 중…"
            << "ko" << korean;
        QTest::newRow("install chosen") << QStringList{"Python 3", "FFmpeg"} << 0 << 1 << 1
                                        << "필요한 프로그램 없음: Python 3, FFmpeg"
                                        << "ko" << korean;
        QTest::newRow("later chosen")
            << QStringList{"FFmpeg"} << 1 << 1 << 0 << "필요한 프로그램 없음: FFmpeg"
            << "ko" << korean;
        QTest::newRow("English alert")
            << QStringList{"FFmpeg"} << 1 << 1 << 0 << "Missing programs: FFmpeg"
            << "en" << english;
    }
    void missingProgramsAlert() {
        QFETCH(QStringList, missing);
        QFETCH(int, answer);
        QFETCH(int, alerts);
        QFETCH(int, setups);
        QFETCH(QString, status);
        QFETCH(QString, lang);
        QFETCH(QStringList, buttons);
        L10n::setLanguage(lang);
        platform::Platform plat;
        App app(plat, test::fakeServices());
        Recorder rec;
        rec.attach(app);
        int alertCount = 0, setupCount = 0;
        QString info;
        test::fakes(app).tools.missingTools = [missing] { return missing; };
        QStringList shown;
        test::fakes(app).desktop.alert = [&](const QString&, const QString& i,
                                             const QStringList& b) {
            ++alertCount;
            info = i;
            shown = b;
            return answer;
        };
        test::fakes(app).desktop.runSetupInTerminal = [&] { ++setupCount; };
        app.applicationDidFinishLaunching();
        QCOMPARE(alertCount, 0); // deferred until the event loop runs
        QTest::qWait(50);
        QTRY_COMPARE(alertCount, alerts);
        QCOMPARE(setupCount, setups);
        QCOMPARE(app.status->stringValue(), status);
        if (alerts) {
            QCOMPARE(shown, buttons);
            QVERIFY(info.contains(missing.join(", ")));
            // The Linux wording of the alert is translated whole in English.
            QCOMPARE(L10n::hasHangul(info), lang != "en");
        }
        L10n::setLanguage("en");
    }

    void closingTheLastWindowQuits() {
        platform::Platform plat;
        App app(plat, test::fakeServices());
        Recorder rec;
        rec.attach(app);
        app.applicationDidFinishLaunching();
        QTimer::singleShot(50, app.window.get(), [&app] { app.window->close(); });
        QTimer watchdog;
        bool timedOut = false;
        watchdog.singleShot(10000, [&] {
            timedOut = true;
            QCoreApplication::quit();
        });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!timedOut);
        QVERIFY(app.core.terminated); // the quit's own steps ran
    }

    // A second program start hands its files to this one and exits; a start
    // without files asks this one to show its window.
    void secondInstanceHandsOverItsFiles() {
        platform::Platform plat;
        App app(plat, test::fakeServices());
        Recorder rec;
        rec.attach(app);
        platform::SingleInstance instance(platform::SingleInstance::defaultName());
        QVERIFY(instance.listen());
        int reopens = 0;
        instance.onOpenFiles = [&app](const QStringList& f) { app.applicationOpen(f); };
        instance.onReopen = [&reopens] { ++reopens; };
        app.applicationDidFinishLaunching();

        QProcess second;
        second.setWorkingDirectory("/tmp");
        // Qt's own options and their values are not files.
        second.start(quavelarkPath(),
                     {"-platform", "offscreen", "-style", "fusion", "rel.flac", "/abs/b.wav"});
        QVERIFY(second.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(rec.opened.size(), 1, 20000);
        QCOMPARE(rec.opened[0], (QStringList{"/tmp/rel.flac", "/abs/b.wav"}));
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 20000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        QProcess third;
        third.start(quavelarkPath(), {"-platform", "offscreen"});
        QTRY_COMPARE_WITH_TIMEOUT(reopens, 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(third.state() == QProcess::NotRunning, 20000);
        QCOMPARE(third.exitCode(), 0);
        QCOMPARE(rec.opened.size(), 1);
    }

    // Only a lock another start holds keeps a start from running; a home
    // where no lock can be had (a folder that cannot be made) is still
    // played from, its saves failing and told.
    void theHomeLockTellsTakenFromUnavailable_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("held");
        QTest::addColumn<bool>("taken");
        QTest::newRow("free") << "free" << true << false;
        QTest::newRow("held by another start") << "other" << false << true;
        QTest::newRow("folder cannot be made") << "under a file" << false << false;
    }
    void theHomeLockTellsTakenFromUnavailable() {
        QFETCH(QString, how);
        QFETCH(bool, held);
        QFETCH(bool, taken);
        QTemporaryDir dir;
        QString folder = dir.path() + "/data";
        std::optional<platform::HomeLock> other;
        if (how == "other")
            other.emplace(folder);
        if (how == "under a file") {
            QVERIFY(test::writeFile(folder, "not a folder"));
            folder += "/deeper";
        }
        const platform::HomeLock lock(folder);
        QCOMPARE(lock.held(), held);
        QCOMPARE(lock.taken(), taken);
        QCOMPARE(lock.why().isEmpty(), held);
    }

    // A data folder that cannot be made (here: under a file) does not keep
    // the player from starting; standard error says it runs without the lock.
    void aHomeWithoutALockStillStarts() {
        QTemporaryDir dir;
        QVERIFY(test::writeFile(dir.path() + "/data", "not a folder"));
        QTemporaryDir runtime;
        QVERIFY(QFile::setPermissions(runtime.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dir.path() + "/data");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        QProcess start;
        start.setProcessEnvironment(env);
        start.start(quavelarkPath(), {"-platform", "offscreen"});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += start.readAllStandardError())
                                         .contains("without the home "
                                                   "lock") ||
                                     start.state() == QProcess::NotRunning,
                                 60000);
        const bool running = start.state() != QProcess::NotRunning;
        if (running) {
            start.terminate();
            QVERIFY(start.waitForFinished(60000));
        }
        QVERIFY2(running, said.constData());
    }

    // Two sessions of one user (one home, two runtime folders): the second
    // start cannot reach the first over its socket, finds the home taken,
    // says why on standard error and ends with a failure, writing nothing.
    void aSecondStartOnTheSameHomeLeaves() {
        platform::HomeLock lock(appSupportDir());
        QVERIFY(lock.held());
        platform::SingleInstance instance(platform::SingleInstance::defaultName());
        QVERIFY(instance.listen());
        const QString home = qEnvironmentVariable("HOME");
        QVERIFY(test::writeFile(appSupportDir() + "/play-stats.json", "{}"));
        const QMap<QString, QByteArray> before = filesUnder(home);

        QTemporaryDir otherRuntime;
        QVERIFY(QFile::setPermissions(otherRuntime.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", otherRuntime.path());
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(quavelarkPath(), {"-platform", "offscreen"});
        QVERIFY(second.waitForFinished(60000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QVERIFY2(second.readAllStandardError().contains("another Quavelark is running"),
                 "the reason on standard error");
        QCOMPARE(filesUnder(home), before);
        QVERIFY(QDir(otherRuntime.path()).isEmpty());
    }
};

QL_TEST_MAIN(LaunchTest)
#include "LaunchTest.moc"
