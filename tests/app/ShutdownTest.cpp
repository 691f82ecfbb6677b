// Guards against: a quit that loses a save, hangs on a child, or runs its steps out of order.
// The quit of a launched controller: the order of its steps as they run,
// the steps skipped when their object is absent, and what it leaves on
// disk — temporary files gone (also a decode's partial output and a render
// that finishes after the quit), stores and view state written.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/sim/SimPlatform.h"

#include "CaseRows.h"
#include "FakeBackend.h"
#include "LaunchedApp.h"
#include "OpenSettled.h"
#include "ReadersSettled.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QSemaphore>
#include <QThreadPool>

#include <sndfile.h>

#include <atomic>
#include <cerrno>
#include <csignal>

using namespace ql;
using test::addRows;
using test::tempFile;

namespace {

constexpr int kWaitMs = 20000;

QString floatCaf(const QString& name) {
    return test::writeTemp(name, {.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT});
}

// Stands in for ffmpeg: leaves a partial output, then decodes for a long
// time (until it is terminated).
QString slowDecoder() {
    const QString path = tempFile(QStringLiteral("slow-decoder.sh"));
    if (!test::writeExecutable(path, "for out; do :; done\nprintf partial > \"$out\"\n"
                                     "exec sleep 60\n"))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

enum class Backend { None, Alive, ExitedByItself };
enum class Playing { Nothing, Render, Decoding };

struct QuitCase {
    const char* name;
    Playing playing;
    bool fxCached;
    Backend backend;
    QStringList steps;
};

const QStringList kStores{"releaseHog",  "syncSettings",  "saveExtras",           "stopFetcher",
                          "dropImports", "saveViewState", "removeVolumeMonitors", "bumpGeneration"};

// clang-format off
const std::vector<QuitCase> quitCases{
    {"nothing played: the stores and view state still saved",
     Playing::Nothing, false, Backend::None,
     kStores + QStringList{"clearNowPlaying"}},
    {"a render playing, the render cache filled, the backend running",
     Playing::Render, true, Backend::Alive,
     QStringList{"deleteFXCache"} + kStores +
         QStringList{"stopPlayer", "detachBackendOutput", "closeBackendInput",
                     "deleteCacheFile", "clearNowPlaying"}},
    {"a backend that exited by itself is detached, not terminated again",
     Playing::Nothing, false, Backend::ExitedByItself,
     kStores + QStringList{"detachBackendOutput", "closeBackendInput", "clearNowPlaying"}},
    {"during a decode: the decoder stopped, its partial output deleted (the file before went with the request)",
     Playing::Decoding, false, Backend::None,
     kStores + QStringList{"stopDecoder", "clearNowPlaying"}},
};
// clang-format on

// A backend that takes no notice of its input's end, nor of SIGTERM, and has
// started a program of its own: each writes its id to `pids`.
QString stubbornBackend(const QString& pids) {
    const QString path = tempFile(QStringLiteral("stubborn-backend.sh"));
    const QByteArray at = QFile::encodeName(pids);
    if (!test::writeExecutable(path, "trap '' TERM\nsleep 600 &\necho $! >> '" + at +
                                         "'\necho $$ >> '" + at +
                                         "'\nexec 0</dev/null\nwhile :; do sleep 1; done\n"))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

bool processGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

QStringList tempLeftovers() {
    return test::ourFiles({QStringLiteral("Quavelark-*")});
}

} // namespace

class ShutdownTest : public QObject {
    Q_OBJECT
private slots:
    void quit_data() { addRows(quitCases); }
    void quit() {
        const QuitCase& c = test::currentCase(quitCases);
        UserDefaults().clear();
        test::FakeBackend backend;
        if (c.backend == Backend::ExitedByItself)
            backend.plan.insert("greeting", QJsonObject{{"exit", 0}});
        backend.install();
        test::LaunchedApp l(QStringLiteral("ko"), [&c](App& app) {
            // A device to play on (the fixture's platform has none).
            app.platform = platform::makeSimulatedPlatform();
            if (c.backend != Backend::None) {
                test::fakes(app).tools.backendWrite = nullptr;
                test::fakes(app).tools.backendCommand = [] { return test::FakeBackend::command(); };
            }
            test::fakes(app).analysers.fxSignature = [&c] {
                return c.playing == Playing::Render ? std::optional(QStringLiteral("eq"))
                                                    : std::nullopt;
            };
            test::fakes(app).analysers.renderFX = [](const RenderSnapshot&) {
                return RenderResult{floatCaf(QStringLiteral("Quavelark-fx-played.caf")), {}};
            };
            test::fakes(app).tools.decodeProgram = [] { return slowDecoder(); };
        });
        App& app = *l.app;
        if (c.backend == Backend::ExitedByItself)
            QVERIFY(QTest::qWaitFor([&] { return app.library.backendError; }, kWaitMs));

        QStringList partial;
        if (c.playing == Playing::Render) {
            app.play(Track{1, tempFile("a.flac"), "A", {}, {}, 1, {}});
            QVERIFY(QTest::qWaitFor([&] { return !app.playback.loading; }, kWaitMs));
            QVERIFY(app.isPlaying());
        } else if (c.playing == Playing::Decoding) {
            app.playback.cacheURL = floatCaf(QStringLiteral("Quavelark-previous.caf"));
            QVERIFY(test::playTaken(app, Track{2, tempFile("b.wv"), "B", {}, {}, 1, {}}));
            QVERIFY(app.playback.roadDecode);
            partial << app.playback.roadDecode->job.output;
            QVERIFY(QTest::qWaitFor([&] { return QFile::exists(partial[0]); }, kWaitMs));
        }
        // What the track shown reads aside (its cover's work file, its
        // probe) has answered: the steps judged are the quit's own, not a
        // reader's that a busy machine left running.
        QVERIFY(test::readersSettled());
        if (c.fxCached)
            app.playback.fxCache =
                RenderCacheEntry{"next|eq", floatCaf(QStringLiteral("Quavelark-fx-next.caf")), {}};
        app.search->setText(QStringLiteral("quiet"));
        QProcess* backendProcess = app.library.backend;
        const quint64 generation = app.playback.generation;
        QStringList steps;
        test::fakes(app).observer.trace = [&steps](const QString& step, const QStringList&) {
            steps << step;
        };

        app.applicationWillTerminate();
        app.applicationWillTerminate(); // a second quit does nothing

        QCOMPARE(steps.join(QStringLiteral(", ")), c.steps.join(QStringLiteral(", ")));
        QVERIFY2(tempLeftovers().isEmpty(), qPrintable(tempLeftovers().join(QStringLiteral(", "))));
        QVERIFY(QFile::exists(app.core.store.filePath(QString::fromLatin1(stores::kPlayStats))));
        QCOMPARE(UserDefaults().string(keys::kLibrarySearch), std::optional<QString>("quiet"));
        QVERIFY(app.playback.volumeMonitors.empty());
        QCOMPARE(app.playback.generation, generation + 1);
        if (backendProcess)
            QVERIFY(QTest::qWaitFor([&] { return backendProcess->state() == QProcess::NotRunning; },
                                    kWaitMs));
        test::fakes(app).observer.trace = nullptr;
    }

    // A backend that outlasts its time to save (it ignores its input's end
    // and SIGTERM) is killed by the teardown with what it started: no
    // process of the backend's is left once the controller has gone.
    void stubbornBackendEndsWithItsGroup_data() {
        QTest::addColumn<bool>("quit");
        QTest::newRow("after the quit") << true;
        QTest::newRow("a controller gone without a quit") << false;
    }
    void stubbornBackendEndsWithItsGroup() {
        QFETCH(bool, quit);
        const QString pids = tempFile(QStringLiteral("stubborn.pids"));
        QFile::remove(pids);
        const QString script = stubbornBackend(pids);
        auto l = std::make_unique<test::LaunchedApp>(QStringLiteral("ko"), [&](App& app) {
            test::fakes(app).tools.backendWrite = nullptr;
            test::fakes(app).tools.backendCommand = [script] {
                return QStringList{QStringLiteral("/bin/sh"), script};
            };
        });
        QVERIFY(QTest::qWaitFor([&] { return test::readFile(pids).count('\n') == 2; }, kWaitMs));
        std::vector<pid_t> started;
        for (const QByteArray& line : test::readFile(pids).trimmed().split('\n'))
            started.push_back(pid_t(line.toInt()));
        QCOMPARE(started.size(), std::size_t(2));
        if (quit)
            (*l)->applicationWillTerminate();
        l.reset();
        for (const pid_t pid : started) {
            const bool gone = QTest::qWaitFor([pid] { return processGone(pid); }, kWaitMs);
            if (!gone)
                ::kill(pid, SIGKILL);
            QVERIFY2(gone, qPrintable(QStringLiteral("process %1 outlived the controller").arg(pid)));
        }
    }

    // A render still running at the quit finds the quit done when it ends,
    // and deletes its own file.
    void renderEndingAfterTheQuit() {
        QSemaphore go;
        const QString render = tempFile(QStringLiteral("Quavelark-fx-late.caf"));
        test::LaunchedApp l(QStringLiteral("ko"), [&](App& app) {
            test::fakes(app).analysers.fxSignature = [] {
                return std::optional(QStringLiteral("eq"));
            };
            test::fakes(app).analysers.renderFX = [&go, render](const RenderSnapshot&) {
                go.acquire();
                test::writeFile(render, "rendered");
                return RenderResult{render, {}};
            };
        });
        l->play(Track{1, tempFile("a.flac"), "A", {}, {}, 1, {}});
        l->applicationWillTerminate();
        go.release();
        l->renderQueue->waitForDone();
        QCoreApplication::processEvents();
        QVERIFY(!QFile::exists(render));
    }

    // An ffmpeg still running at the quit is ended by it, not waited for
    // (the stand-in would run for a minute): the measurement of the
    // loudness, and the picture of the playing track, whose address is not
    // fetched instead.
    void childrenEndedByTheQuit_data() {
        QTest::addColumn<bool>("loudness");
        QTest::newRow("loudness measurement") << true;
        QTest::newRow("cover of the playing track") << false;
    }
    void childrenEndedByTheQuit() {
        QFETCH(bool, loudness);
        const QString pidFile = tempFile(QStringLiteral("child.pid"));
        QFile::remove(pidFile);
        const QString stub = tempFile(QStringLiteral("long-child.sh"));
        std::atomic<int> fetched{0};
        // Renamed into place, so that a reader never sees half a number.
        const QByteArray at = pidFile.toUtf8();
        QVERIFY(test::writeExecutable(stub, "echo $$ > '" + at + ".part' && mv '" + at +
                                                ".part' '" + at + "'\nexec sleep 60\n"));
        test::LaunchedApp l(QStringLiteral("ko"), [&](App& app) {
            test::fakes(app).tools.loudnessProgram = [stub] { return stub; };
            test::fakes(app).tools.coverProgram = [stub] { return stub; };
            test::fakes(app).tools.fetchCover = [&fetched](const QUrl&, auto) { ++fetched; };
        });
        const Track track{1, tempFile("a.flac"), "A", {}, {}, 1, "https://127.0.0.1:9/a.jpg"};
        if (loudness) {
            l->listening.levelingOn = true;
            l->ensureLoudness(track);
        } else {
            l->loadArt(track);
        }
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(pidFile); }, kWaitMs));
        const pid_t pid = test::readFile(pidFile).trimmed().toInt();
        QVERIFY(pid > 0);
        l->applicationWillTerminate();
        QVERIFY(QTest::qWaitFor([pid] { return ::kill(pid, 0) != 0 && errno == ESRCH; }, kWaitMs));
        QThreadPool::globalInstance()->waitForDone();
        QCOMPARE(fetched.load(), 0);
    }
};

QL_TEST_MAIN(ShutdownTest)
#include "ShutdownTest.moc"
