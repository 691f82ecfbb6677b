// Guards against: lost, repeated or stale replies between the player and its backend child,
// and a first file played again and again while the backend's first catalog is on its way.
// The backend bridge against a real child process: the fake backend script
// answers as each test plans it.
#include "app/App.h"
#include "app/AppPaths.h"
#include "library/BackendImport.h"
#include "platform/Platform.h"
#include "platform/sim/SimPlatform.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "FakeBackend.h"
#include "FakeServices.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <signal.h>

using namespace ql;
using test::FakeBackend;

namespace {

Track track(qint64 id, const QString& title) {
    return Track{id, "/음악/" + QString::number(id) + ".flac", title, "가수", "앨범", 180, ""};
}

const QString kLoading = QStringLiteral("음원 불러오는 중…");
const QString kStopped = QStringLiteral("음원 라이브러리가 종료되었습니다.");

// An App whose backend is the fake script, with its stores in a temporary
// folder and its status line on a clock the test moves.
struct Bridge {
    QTemporaryDir storeDir;
    platform::Platform plat;
    FakeBackend fake;
    std::unique_ptr<App> app;
    qint64 now = 1'000'000;

    explicit Bridge(platform::Platform platform = {}) : plat(std::move(platform)) {
        app = std::make_unique<App>(plat, test::fakeServices());
        app->core.store = JSONStore(storeDir.path());
        app->status->setClock([this] { return now; });
        test::fakes(*app).tools.backendCommand = [] { return FakeBackend::command(); };
    }
    // Starts the backend and waits until it runs (its first "list" is then
    // sent) or has failed to start, which some rows ask for.
    void start() {
        fake.install();
        app->startBackend();
        QVERIFY(QTest::qWaitFor(
            [this] { return app->library.backend->state() != QProcess::Starting; }, 10000));
    }
    void answers(const QJsonArray& steps) { fake.plan.insert("answers", steps); }
    // Waits until the backend has taken `n` request lines.
    bool received(int n) {
        return QTest::qWaitFor([&] { return fake.requests().size() >= n; }, 10000);
    }
    qint64 pid() const { return app->library.backend->processId(); }
};

} // namespace

// A first run started with a file: what the backend does after its first
// answer (a scan's empty list) while that file plays.
struct FirstListCase {
    const char* name;
    QStringList later; // "partial": a scan's list without the file; "growing":
                       // a scan's list with tracks after it; "catalog": the
                       // finished scan's; "exit": the backend ends
    qint64 next;       // the track played after the file
};
const std::vector<FirstListCase> kFirstList{
    {"the catalog comes: the track after the file in it", {"catalog"}, 6},
    {"a scan's list without the file first, then the catalog", {"partial", "catalog"}, 6},
    {"a scan's list with a track after the file", {"growing"}, 6},
    {"the backend ends: the file was all there is", {"exit"}, 5},
};

// One playable file of `seconds` and its track, titled by its id.
Track toneTrack(qint64 id, double seconds) {
    const QString path = test::tempFile(QString("first%1-%2.wav").arg(id).arg(seconds));
    if (!QFile::exists(path) &&
        !test::runFfmpeg({"-f", "lavfi", "-i", QString("sine=duration=%1").arg(seconds), path}))
        qWarning("no test file %s", qPrintable(path));
    return Track{id, path, QString(QChar(u'a' + int(id))), {}, {}, seconds, {}};
}

// A scan's list while the scan is running: nothing found yet.
QString scanningLine() {
    return FakeBackend::line(Library{std::vector<Track>{}, true, {}});
}

// A first run on the simulated device started with `file`: the backend's
// first answer is a scan's empty list, its later ones `later`; the track id of
// every play request is kept in `played`.
struct FirstRun {
    Bridge b{platform::makeSimulatedPlatform()};
    App& app = *b.app;
    QList<qint64> played;

    FirstRun(const Track& file, const QJsonArray& later) {
        test::fakes(app).observer.playRequest = [this](const Track& t) { played << t.id; };
        QJsonArray steps{FakeBackend::write({scanningLine()})};
        for (const QJsonValue& step : later)
            steps << step;
        b.answers(steps);
        const QByteArray opened = JsonCodec<OpenReply>::encode(OpenReply{file, {}}).value_or("");
        b.fake.plan.insert("import", QJsonObject{{"stdout", QString::fromUtf8(opened)}});
    }
    // Starts the backend, waits for its first answer, then opens the file.
    void open(const Track& file) {
        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(!app.library.pending && app.library.backend, 10000);
        app.openAudioFiles({file.path});
        QTRY_VERIFY_WITH_TIMEOUT(app.playback.current && app.playback.audio, 20000);
    }
};

class BackendBridgeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { L10n::setLanguage("ko"); }

    // What the bridge makes of the bytes the backend writes in answer to the
    // first "list".
    void framing_data() {
        QTest::addColumn<QStringList>("chunks");
        QTest::addColumn<QStringList>("titles"); // the catalog afterwards
        QTest::addColumn<QString>("status");
        QTest::addColumn<qsizetype>("kept"); // bytes waiting for their line feed
        const QString one =
            FakeBackend::line(Library{std::vector<Track>{track(1, "하나")}, {}, {}});
        const QString half = "{\"tracks\":[{\"id\":3";
        QTest::newRow("two lines and half a third, in order")
            << QStringList{one + FakeBackend::line(Library{{}, {}, QString("둘째 줄")}) + half}
            << QStringList{"하나"} << "둘째 줄" << qsizetype(half.size());
        QTest::newRow("\\r\\n ends a line too")
            << QStringList{one.chopped(1) + "\r\n"} << QStringList{"하나"} << "1곡 / 전체 1곡"
            << qsizetype(0);
        QTest::newRow("an empty line only clears pending")
            << QStringList{"\n"} << QStringList{} << kLoading << qsizetype(0);
        QTest::newRow("an array only clears pending")
            << QStringList{"[{\"tracks\":[]}]\n"} << QStringList{} << kLoading << qsizetype(0);
        QTest::newRow("text that is not JSON only clears pending")
            << QStringList{"scanning /home/u\n"} << QStringList{} << kLoading << qsizetype(0);
        QTest::newRow("an empty object only clears pending")
            << QStringList{"{}\n"} << QStringList{} << kLoading << qsizetype(0);
    }
    void framing() {
        QFETCH(QStringList, chunks);
        QFETCH(QStringList, titles);
        QFETCH(QString, status);
        QFETCH(qsizetype, kept);
        Bridge b;
        b.answers({FakeBackend::write(chunks, 0.05)});
        b.start();
        QVERIFY(b.app->library.pending);
        QTRY_VERIFY_WITH_TIMEOUT(!b.app->library.pending, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(b.app->library.reader->pendingBytes(), kept,
                                  ql::test::kOutcomeMs);
        QStringList shown;
        for (const Track& t : b.app->library.rows)
            shown << t.title;
        QCOMPARE(shown, titles);
        QCOMPARE(b.app->status->stringValue(), status);
        QVERIFY(!b.app->library.backendError);
        QCOMPARE(QFile::exists(b.app->catalogURL()), !titles.isEmpty());
    }

    void enrich_data() {
        QTest::addColumn<bool>("playing");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("the current track's id, exactly")
            << true << "MusicBrainz에서 곡 정보 검색 중…"
            << QByteArray(R"({"action":"enrich","id":42})");
        QTest::newRow("no current track: nothing at all") << false << kLoading << QByteArray();
    }
    void enrich() {
        QFETCH(bool, playing);
        QFETCH(QString, status);
        QFETCH(QByteArray, sent);
        Bridge b;
        b.fake.plan.insert("default", FakeBackend::write({"{}\n"}));
        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(!b.app->library.pending, 10000);
        if (playing)
            b.app->playback.current = track(42, "마흔둘");
        b.app->enrich();
        QCOMPARE(b.app->status->stringValue(), status);
        if (sent.isEmpty()) {
            QVERIFY(!b.app->library.pending);
            return;
        }
        QVERIFY(b.received(2));
        const QByteArray line = b.fake.requests().at(1);
        QVERIFY(line.endsWith('\n'));
        QCOMPARE(line.count('\n'), 1);
        QCOMPARE(QJsonDocument::fromJson(line).object(), QJsonDocument::fromJson(sent).object());
    }

    // The start does not wait for the process: a poll before it runs is
    // dropped with no failure; the first "list" follows its start.
    void theFirstRequestIsListAndTheBackendGetsItsOwnPATH() {
        Bridge b;
        b.answers({QJsonObject{{"env", "PATH"}}});
        b.fake.install();
        b.app->startBackend();
        QCOMPARE(b.app->library.backend->state(), QProcess::Starting);
        b.app->request("scan", std::nullopt, std::nullopt);
        QVERIFY(!b.app->library.pending && !b.app->library.backendError);
        QVERIFY(b.received(1));
        QTRY_VERIFY_WITH_TIMEOUT(!b.app->library.pending, 10000);
        QCOMPARE(b.fake.requests(), QList<QByteArray>{"{\"action\":\"list\"}\n"});
        QCOMPARE(b.app->status->stringValue(), backendPATH(resourceDir()));
    }

    void aBackendThatCannotStart_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("description"); // "" when the platform words it
        QTest::newRow("an interpreter that does not exist")
            << QStringList{"/nonexistent/python3", FakeBackend::script()} << "";
        QTest::newRow("a script that is not there")
            << (FakeBackend::command().mid(0, 1) << "/nonexistent/backend.py")
            << "프로그램이 없습니다: /nonexistent/backend.py";
    }
    void aBackendThatCannotStart() {
        QFETCH(QStringList, command);
        QFETCH(QString, description);
        Bridge b;
        test::fakes(*b.app).tools.backendCommand = [command] { return command; };
        const std::vector<Track> cached{track(1, "하나"), track(2, "둘")};
        b.app->library.rows = cached;
        b.app->saveCatalog();
        b.app->library.rows.clear();
        b.app->restoreCatalog();

        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(b.app->library.backendError, 10000);
        const QString prefix = QStringLiteral("음원 라이브러리 시작 실패: ");
        const QString shown = b.app->status->stringValue();
        QVERIFY2(shown.startsWith(prefix) && shown.size() > prefix.size(), qPrintable(shown));
        if (!description.isEmpty())
            QCOMPARE(shown, prefix + description);
        QVERIFY(b.app->library.backendError);
        QVERIFY(!b.app->library.pending);
        b.app->request("list", std::nullopt, std::nullopt);
        QVERIFY(!b.app->library.pending);
        QVERIFY(b.fake.requests().isEmpty());
        // The cached catalog stays in the list, ready to play.
        QCOMPARE(b.app->library.rows, cached);
        QCOMPARE(b.app->browser.filtered, cached);

        // The one-shot import run the same way fails with the same words.
        const ImportOutcome o = runImport(importCommand(b.app->backendLaunch(), "/a.flac"));
        QVERIFY(!o.opened);
        QCOMPARE(prefix + o.error, shown);
    }

    void theBackendEnds_data() {
        QTest::addColumn<QJsonObject>("step"); // the answer to the first "list"
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("exits with the request in flight")
            << QJsonObject{{"exit", 3}} << QStringList{};
        QTest::newRow("killed by a signal with the request in flight")
            << QJsonObject{{"signal", SIGKILL}} << QStringList{};
        QTest::newRow("exits right after its last reply, which still counts")
            << QJsonObject{{"chunks", QJsonArray{FakeBackend::line(
                                          Library{std::vector<Track>{track(1, "하나")}, {}, {}})}},
                           {"exit", 0}}
            << QStringList{"하나"};
        QTest::newRow("exits, leaving a process that holds its output open")
            << QJsonObject{{"orphan", 15},
                           {"chunks", QJsonArray{FakeBackend::line(
                                          Library{std::vector<Track>{track(1, "하나")}, {}, {}})}},
                           {"exit", 0}}
            << QStringList{"하나"};
    }
    void theBackendEnds() {
        QFETCH(QJsonObject, step);
        QFETCH(QStringList, titles);
        Bridge b;
        b.answers({step});
        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(b.app->library.backendError, 10000);
        QVERIFY(!b.app->library.pending);
        QCOMPARE(b.app->status->stringValue(), kStopped);
        QStringList shown;
        for (const Track& t : b.app->library.rows)
            shown << t.title;
        QCOMPARE(shown, titles);
        // Nothing is sent any more, and nothing waits for an answer.
        b.app->scan();
        QVERIFY(!b.app->library.pending);
        QCOMPARE(b.fake.requests().size(), 1);
    }

    void aRequestToAKilledBackendDoesNotEndTheProgram() {
        Bridge b;
        b.fake.plan.insert("default", FakeBackend::write({"{}\n"}));
        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(!b.app->library.pending, 10000);
        // Killed behind our back: the event loop has not seen its end yet when
        // the request is written to the broken pipe.
        QCOMPARE(::kill(pid_t(b.pid()), SIGKILL), 0);
        QThread::msleep(300);
        b.app->scan();
        QTRY_VERIFY_WITH_TIMEOUT(b.app->library.backendError, 10000);
        QVERIFY(!b.app->library.pending);
        QTRY_COMPARE_WITH_TIMEOUT(b.app->status->stringValue(), kStopped, ql::test::kOutcomeMs);
    }

    // The backend still runs but reads no more: the write fails on its own.
    void aFailedWriteIsReportedAndStopsTheRequests() {
        Bridge b;
        b.answers({QJsonObject{{"chunks", QJsonArray{"{}\n"}}, {"deaf", true}}});
        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(!b.app->library.pending, 10000);
        QThread::msleep(300); // let it close its input
        b.app->scan();
        QTRY_VERIFY_WITH_TIMEOUT(b.app->library.backendError, 10000);
        QVERIFY(!b.app->library.pending);
        QCOMPARE(b.app->status->stringValue(),
                 "프로그램에 요청을 보내지 못했습니다: " + b.app->library.backend->program());
        QCOMPARE(b.app->library.backend->state(), QProcess::Running);
        b.app->scan();
        QVERIFY(!b.app->library.pending);
    }

    void stopBackendEndsItWithoutAMessage() {
        Bridge b;
        b.fake.plan.insert("default", FakeBackend::write({"{}\n"}));
        b.start();
        QTRY_VERIFY_WITH_TIMEOUT(!b.app->library.pending, 10000);
        QProcess* process = b.app->library.backend;
        b.app->stopBackend();
        QVERIFY(process->waitForFinished(5000));
        QCoreApplication::processEvents();
        QVERIFY(!b.app->library.backendError);
        QCOMPARE(b.app->status->stringValue(), kLoading);
    }

    // The backend's own damaged file, set aside, reaches the status line
    // through its reply's error: the sentence in English, the names as they are.
    void aSetAsideBackendFileIsNamed() {
        L10n::setLanguage("en");
        Bridge b;
        const QString said = "손상된 파일을 따로 보관했습니다: added.json → added.json.corrupt-17";
        b.fake.plan.insert(
            "default",
            FakeBackend::write({FakeBackend::line(Library{std::vector<Track>{}, false, said})}));
        const auto korean = qScopeGuard([] { L10n::setLanguage("ko"); });
        b.start();
        // A notice: shown at the tick's turn.
        const auto shown = [&b] {
            b.app->status->showWaiting();
            return b.app->status->stringValue();
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            shown(), QString("A damaged file was set aside: added.json → added.json.corrupt-17"),
            10000);
    }

    // Done-when: three tracks while the backend still scans, in Korean.
    void theCountTextAndTheScanningNotice() {
        Bridge b;
        const std::vector<Track> three{track(1, "하나"), track(2, "둘"), track(3, "셋")};
        b.fake.plan.insert("default",
                           FakeBackend::write({FakeBackend::line(Library{three, true, {}})}));
        b.start();
        QTRY_COMPARE_WITH_TIMEOUT(b.app->status->stringValue(), QString("3곡 / 전체 3곡"), 10000);
        // Polls during the refilter's 5 s hold leave the held count text.
        b.now += 4900;
        b.app->request("list", std::nullopt, std::nullopt);
        QVERIFY(b.received(2));
        QTRY_VERIFY_WITH_TIMEOUT(!b.app->library.pending, 10000);
        QCOMPARE(b.app->status->stringValue(), QString("3곡 / 전체 3곡"));
        b.now += 200;
        b.app->request("list", std::nullopt, std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(b.app->status->stringValue(),
                                  QString("3곡 / 전체 3곡 · 홈 폴더와 외장 디스크 검색 중…"),
                                  10000);
    }

    // The file of 0.3 s is the whole list until the backend's first catalog:
    // its end does not play it again (and again) meanwhile, but waits; the
    // catalog then plays what follows it there.
    void firstFileBeforeTheFirstCatalog_data() { test::addRows(kFirstList); }
    void firstFileBeforeTheFirstCatalog() {
        const FirstListCase& c = test::currentCase(kFirstList);
        const Track file = toneTrack(5, 0.3);
        const std::vector<Track> catalog{toneTrack(4, 60), file, toneTrack(6, 60)};
        QJsonArray later;
        for (const QString& step : c.later)
            later << (step == "exit"      ? QJsonObject{{"exit", 0}}
                      : step == "partial" ? FakeBackend::write({scanningLine()})
                                          : FakeBackend::write({FakeBackend::line(
                                                Library{catalog, step == "growing", {}})}));
        FirstRun run(file, later);
        App& app = run.app;
        const QList<qint64>& played = run.played;
        run.open(file);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY_WITH_TIMEOUT(!app.isPlaying(), 10000); // its end
        QTest::qWait(1000);                                // time enough for three more plays of it
        QCOMPARE(played, QList<qint64>{5});
        for (int i = 0; i < c.later.size(); ++i) {
            app.request("list", std::nullopt, std::nullopt);
            QVERIFY(run.b.received(2 + i));
            QTRY_VERIFY_WITH_TIMEOUT(!app.library.pending || app.library.backendError, 10000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(played.size(), 2, 10000);
        QCOMPARE(played[1], c.next);
        QTRY_VERIFY_WITH_TIMEOUT(app.isPlaying(), 10000);
    }

    // A first run started with a file of 6 s (14 s for a crossfade): its
    // successor cannot be known when the gapless (or crossfade) check first
    // looks (the list holds the file alone), but the check does not give up
    // on the track; once the catalog comes, the track after the file joins it.
    void firstJoinWaitsForTheList_data() {
        QTest::addColumn<bool>("crossfade");
        QTest::newRow("gapless") << false;
        QTest::newRow("crossfade") << true;
    }
    void firstJoinWaitsForTheList() {
        QFETCH(bool, crossfade);
        const Track file = toneTrack(5, crossfade ? 14 : 6);
        const std::vector<Track> catalog{toneTrack(4, 60), file, toneTrack(6, 60)};
        FirstRun run(file, {FakeBackend::write({FakeBackend::line(Library{catalog, false, {}})})});
        App& app = run.app;
        app.playback.maxQuality = false; // which renders every track (upsampling)
        app.listening.crossfadeOn = crossfade;
        const auto check = [&] { crossfade ? app.crossfadeCheck() : app.gaplessCheck(); };
        run.open(file);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(app.isPlaying());
        app.setAudioTime(file.duration - 3); // three seconds left: the checks' window
        check();
        QVERIFY(!app.playback.prepared && !app.playback.fadingOut);
        app.request("list", std::nullopt, std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(app.library.rows.size() == 3, 10000);
        QVERIFY(app.isPlaying());
        // As the tick does: the look ahead turns to the successor the list
        // brought, and the check prepares it once the look ahead has read it.
        app.aimLookAhead();
        const auto prepared = [&] {
            app.setAudioTime(file.duration - 3); // still in the window on a slow machine
            check();
            return crossfade ? app.playback.fadingOut != nullptr
                             : app.playback.preparedAs(PreparedNext::Kind::Scheduled) != nullptr;
        };
        QTRY_VERIFY_WITH_TIMEOUT(prepared(), 10000);
        if (!crossfade)
            QCOMPARE(app.playback.prepared->track.id, 6);
        // Joined: the successor takes over without a play request.
        QTRY_COMPARE_WITH_TIMEOUT(app.playback.current->id, 6, 10000);
        QCOMPARE(run.played, QList<qint64>{5});
    }

    void oneShotImport_data() {
        QTest::addColumn<QJsonObject>("answer");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("error");
        const QString opened = QString::fromUtf8(
            JsonCodec<OpenReply>::encode(OpenReply{track(7, "일곱"), {}}).value_or(""));
        QTest::newRow("the exit status is not looked at")
            << QJsonObject{{"stdout", opened}, {"exit", 2}} << "일곱"
            << "";
    }
    void oneShotImport() {
        QFETCH(QJsonObject, answer);
        QFETCH(QString, title);
        QFETCH(QString, error);
        Bridge b;
        b.fake.plan.insert("import", answer);
        b.fake.install();
        const ImportOutcome o = runImport(importCommand(b.app->backendLaunch(), "/음악/a b.flac"));
        QCOMPARE(o.opened ? o.opened->title : QString(), title);
        QCOMPARE(o.error, error);
        // The script saw exactly its two arguments after its own path.
        QCOMPARE(
            b.fake.requests(),
            QList<QByteArray>{QByteArray(R"(["--import-file", "/\uc74c\uc545/a b.flac"])") + '\n'});
    }
};

QL_TEST_MAIN(BackendBridgeTest)
#include "BackendBridgeTest.moc"
