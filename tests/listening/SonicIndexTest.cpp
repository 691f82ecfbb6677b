// Guards against: wrong vectors; a scan that loses, repeats or misreports work or saves before
// it merges; a quit that hangs on an analysis or lets a late result reach a dead controller.
#include "app/App.h"
#include "app/JSONStore.h"
#include "app/UserDefaults.h"
#include "listening/SonicVector.h"
#include "platform/ChildProcess.h"
#include "ui/StatusLabel.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cmath>
#include <mutex>

using namespace ql;
using test::tempFile;
using Index = QHash<QString, Sonic>;

namespace {

// clang-format off
const QString kProgress = QStringLiteral("🎛 소리 분석 %1/%2 (백그라운드, 재생에 영향 없음)");
const QString kAnalysing = QStringLiteral("🎛 소리 분석 중…");
QString path(int i) { return QStringLiteral("/m/t%1.flac").arg(i); }
Track track(int i) { return Track{i + 1, path(i)}; }
bool onMainThread() { return QThread::currentThread() == qApp->thread(); }
Index stored() { return JSONStore().load<Index>(QString::fromLatin1(stores::kSonic)).value_or(Index{}); }

// "t3." fails for good; "late" gives nothing (a time-out); "slow" first runs a 10 s child the quit
// must end; others give the call's number.
struct Fake {
    std::mutex m;
    QStringList calls;
    bool onMain = false;
    std::function<std::optional<Sonic>(const QString&)> fn(App& app) {
        return [this, registry = app.children](const QString& p) -> std::optional<Sonic> {
            qint64 n = 0;
            {
                const std::lock_guard lock(m);
                calls << p;
                n = calls.size();
                onMain |= onMainThread();
            }
            if (p.contains("t3."))
                return Sonic();
            if (p.contains("late") ||
                (p.contains("slow") && !platform::runChild("/bin/sleep", {"10"}, {.registry = registry}).finished()))
                return std::nullopt;
            return Sonic{100, -20, 5, 0.1, n, true};
        };
    }
    QStringList seen() { const std::lock_guard lock(m); return calls; }
};

struct Rig {
    Fake fake; // before the controller, which takes its analyses at launch
    test::LaunchedApp app;
    // "sonicOn" as stored at launch; no "sonic.json" left by an earlier test.
    explicit Rig(int tracks, bool sonicOn = false)
        : app("ko", [&](App& a) {
              UserDefaults().set(keys::kSonicOn, sonicOn);
              QFile::remove(JSONStore().filePath(QString::fromLatin1(stores::kSonic)));
              test::fakes(a).analysers.analyzeSonic = fake.fn(a);
              test::fakes(a).clock.sonicScanDelayMs = 400;
              for (int i = 0; i < tracks; ++i)
                  a.library.rows.push_back(track(i));
          }) {}
    template <class P> bool until(P done) { return QTest::qWaitFor(done, 60000); }
    bool idle() { return until([&] { return !app->listening.sonicRunning; }); }
};

struct ScanCase {
    const char* name;
    int tracks, analysedBefore; // the first rows have an `ok` entry before the scan
    QStringList messages;       // the status line, in order
    QList<int> savedAt;         // entries in "sonic.json" as each message shows
};
const std::vector<ScanCase> kScans{
    {"7 new, 2 analysed before", 9, 2, {kProgress.arg(7).arg(7), "🎛 소리 분석 완료: 8곡"}, {0, 9}},
    {"25 new", 25, 0, {kProgress.arg(10).arg(25), kProgress.arg(20).arg(25), kProgress.arg(25).arg(25),
                       "🎛 소리 분석 완료: 24곡"}, {0, 0, 0, 25}},
    {"100 new", 100, 0, {}, {0, 0, 0, 0, 0, 50, 50, 50, 50, 50, 100}},
};
// clang-format on

} // namespace

class SonicIndexTest : public QObject {
    Q_OBJECT
private slots:
    void vectors_data() {
        QTest::addColumn<Sonic>("sonic");
        QTest::addColumn<std::vector<double>>("expected");
        // clang-format off
        QTest::newRow("mid-range") << Sonic{115, -30, 6, 0.0625} << std::vector{0.5, 0.6, 0.4, 0.5};
        QTest::newRow("above the ranges") << Sonic{200, 0, 20, 0.5} << std::vector{1.0, 1.2, 0.8, 1.0};
        QTest::newRow("below the ranges") << Sonic{50, -80, -3, -1} << std::vector{0.0, 0.0, 0.0, 0.0};
        QTest::newRow("not a number") << Sonic{qQNaN(), qQNaN(), qQNaN(), qQNaN()} << std::vector{1.0, 1.2, 0.8, 1.0};
        // clang-format on
    }
    void vectors() {
        QFETCH(Sonic, sonic);
        QFETCH(std::vector<double>, expected);
        const std::vector<double> v = vec(sonic);
        QVERIFY(v.size() == 4 && sonicDistance(v, expected) < 1e-12);
        QCOMPARE(sonicDistance(v, v), 0.0);
        QCOMPARE(sonicDistance({0, 0, 0, 0}, {1, 1.2, 0.8, 1}), std::sqrt(4.08));
        QCOMPARE(sonicDistance({0, 0}, {3, 4, 100}), 5.0); // paired up to the shorter
    }

    void scan_data() { test::addRows(kScans); }
    void scan() {
        const ScanCase& c = test::currentCase(kScans);
        Rig r(c.tracks);
        for (int i = 0; i < c.analysedBefore; ++i)
            r.app->listening.sonic.insert(path(i), Sonic{100, -20, 5, 0.1, 0, true});
        r.app->playback.current = track(c.tracks - 1);
        QStringList shown;
        QList<int> saved;
        r.app->status->setClock([&] {
            const QString text = r.app->status->text();
            if (text.startsWith("🎛") && shown.value(shown.size() - 1) != text) {
                shown << text;
                saved << int(stored().size());
            }
            return qint64(0);
        });
        r.app->startSonicScan();
        r.app->startSonicScan(); // while it runs: nothing
        QVERIFY(r.idle());
        QCOMPARE(saved, c.savedAt);
        const QStringList calls = r.fake.seen();
        QCOMPARE(calls.size(), c.tracks - c.analysedBefore);
        QCOMPARE(calls.first(), path(c.tracks - 1)); // the current track, once, first
        QCOMPARE(r.app->listening.sonic.value(path(3)), Sonic());
        QVERIFY(!r.app->sonicVec(track(3)) && !r.app->sonicVec(track(c.tracks)));

        // Every path has an entry now, the failed one too: nothing is analysed or shown.
        UserDefaults().set(keys::kSonicOn, false);
        r.app->startSonicScan();
        QVERIFY(!r.app->listening.sonicRunning && UserDefaults().boolean(keys::kSonicOn));
        QCOMPARE(r.fake.seen(), calls);
        QCOMPARE(shown, c.messages.isEmpty() ? shown : c.messages);
    }

    void onDemand_data() {
        QTest::addColumn<QList<int>>("asked");
        QTest::addColumn<int>("analyses");
        QTest::newRow("all present, a failed one too") << QList<int>{0, 3} << 0;
        QTest::newRow("missing, one asked twice") << QList<int>{0, 5, 6, 5} << 3;
    }
    void onDemand() {
        QFETCH(QList<int>, asked);
        QFETCH(int, analyses);
        Rig r(0);
        r.app->listening.sonic.insert(path(0), Sonic{100, -20, 5, 0.1, 0, true});
        r.app->listening.sonic.insert(path(3), Sonic());
        std::vector<Track> tracks;
        for (int i : asked)
            tracks.push_back(track(i));
        const QString before = r.app->status->text();
        int done = 0; // 1 for a completion on the main thread
        r.app->withSonic(tracks, [&] { done += onMainThread() ? 1 : 9; });
        QCOMPARE(done, analyses ? 0 : 1);
        QCOMPARE(r.app->status->text(), analyses ? kAnalysing : before);
        QVERIFY(r.until([&] { return done == 1; }));
        QVERIFY(r.fake.seen().size() == analyses && !r.fake.onMain); // analysed off the main thread
        QCOMPARE(stored(), analyses ? r.app->listening.sonic : Index{});
        QCOMPARE(r.app->listening.sonic.value(path(5)).year, analyses ? 3 : 0); // the later one
    }

    void realAnalysis() {
        const QStringList sources{"sine=f=440:d=20", "anoisesrc=d=20:a=0.3", "sine=f=440:d=3"};
        Rig r(0);
        test::fakes(*r.app).analysers.analyzeSonic = {}; // the program's own
        for (int i = 0; i < 3; ++i) {
            const QString file = tempFile(QString::number(i) + ".flac");
            r.app->library.rows.push_back(Track{i + 1, file});
            QVERIFY(test::runFfmpeg({"-f", "lavfi", "-i", sources[i], file}));
        }
        r.app->startSonicScan();
        QVERIFY(r.idle());
        const Index saved = stored(); // strict decoding, as the next launch reads it
        const Sonic tone = saved.value(tempFile("0.flac")), noise = saved.value(tempFile("1.flac"));
        QVERIFY(saved.size() == 3 && tone.ok && noise.ok && !saved.value(tempFile("2.flac")).ok);
        QVERIFY2(noise.zcr > 2 * tone.zcr, qPrintable(QString::number(tone.zcr)));
    }

    void quitDuringAnalyses() {
        Rig r(10);
        r.app->library.rows.push_back(Track{50, "/m/slow1.flac"});
        r.app->library.rows.push_back(Track{51, "/m/slow2.flac"});
        r.app->startSonicScan();
        bool late = false;
        r.app->withSonic({Track{52, "/m/slow-demand.flac"}}, [&] { late = true; });
        const QString tenMerged = kProgress.arg(10).arg(12); // and both 10 s children running
        QVERIFY(r.until(
            [&] { return r.fake.seen().size() == 12 && r.app->status->text() == tenMerged; }));
        const QDeadlineTimer unlessHung(4000);
        r.app->applicationWillTerminate();
        r.app.app.reset();
        QVERIFY2(!unlessHung.hasExpired(), "the quit waited for an analysis");
        QTest::qWait(300); // late results find the way back closed
        QVERIFY(!late);
        QCOMPARE(stored().size(), 10);
        QVERIFY(!stored().contains("/m/slow1.flac")); // cut short: no result, not a failure
    }

    // An analysis that timed out counts as failed for this run only: it is
    // not asked again by a later scan of the run, never written to
    // "sonic.json", and the next run analyses the file again.
    void aTimedOutAnalysisIsNotStored() {
        {
            Rig r(2);
            r.app->library.rows.push_back(Track{60, "/m/late.flac"});
            r.app->startSonicScan();
            QVERIFY(r.idle());
            QCOMPARE(r.fake.seen().size(), 3);
            QVERIFY(!r.app->sonicVec(Track{60, "/m/late.flac"}));
            r.app->startSonicScan();
            QVERIFY(r.idle());
            QCOMPARE(r.fake.seen().size(), 3);
            QCOMPARE(stored().size(), 2);
            QVERIFY(!stored().contains("/m/late.flac"));
            r.app->applicationWillTerminate();
            QVERIFY(!stored().contains("/m/late.flac"));
        }
        // The next run: the two measured files are known, the late one is not.
        const Index before = stored();
        Rig next(0);
        next.app->listening.sonic = before;
        next.app->library.rows = {track(0), track(1), Track{60, "/m/late.flac"}};
        next.app->startSonicScan();
        QVERIFY(next.idle());
        QCOMPARE(next.fake.seen(), QStringList{"/m/late.flac"});
    }

    void delayedStart_data() {
        QTest::addColumn<bool>("onAtBuild");
        QTest::newRow("on at build: one scan") << true;
        QTest::newRow("off at build, turned on by a scan meanwhile: none") << false;
    }
    void delayedStart() {
        QFETCH(bool, onAtBuild);
        Rig r(2, onAtBuild);
        if (!onAtBuild)
            r.app->startSonicScan();
        QVERIFY(r.until([&] { return r.fake.seen().size() == 2; }) && r.idle());
        r.app->library.rows.push_back(track(2));
        QTest::qWait(1200);
        QCOMPARE(r.fake.seen().size(), 2);
    }
};

QL_TEST_MAIN(SonicIndexTest)
#include "SonicIndexTest.moc"
