// Guards against: a child's output, exit or failure misreported.
#include "platform/ChildProcess.h"

#include "TestFiles.h"
#include "TestHome.h"

#include <QElapsedTimer>
#include <future>

using namespace ql;

class ChildProcessTest : public QObject {
    Q_OBJECT
private slots:
    // Each row runs a small shell program with the given time limit.
    void runs_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<bool>("keepStderr");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<bool>("crashed");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");

        QTest::newRow("output is read to its end")
            << "printf 'a\\nb'" << 30000 << false << true << false << 0 << QByteArray("a\nb")
            << QByteArray();
        QTest::newRow("standard input is the null device, not a pipe left open")
            << "cat" << 30000 << false << true << false << 0 << QByteArray() << QByteArray();
        QTest::newRow("standard error is dropped by default")
            << "echo err >&2; echo out" << 30000 << false << true << false << 0
            << QByteArray("out\n") << QByteArray();
        QTest::newRow("standard error is kept when asked")
            << "echo err >&2; echo out" << 30000 << true << true << false << 0
            << QByteArray("out\n") << QByteArray("err\n");
        QTest::newRow("a chatty standard error keeps its last whole lines in 30 bytes")
            << "i=0; while [ $i -lt 9999 ]; do echo \"loading $i\" >&2; i=$((i+1)); done" << 30000
            << true << true << false << 0 << QByteArray()
            << QByteArray("loading 9997\nloading 9998\n");
        QTest::newRow("the exit status is passed on")
            << "echo partial; exit 3" << 30000 << false << true << false << 3
            << QByteArray("partial\n") << QByteArray();
        QTest::newRow("a child ended by a signal is marked crashed")
            << "kill -SEGV $$" << 30000 << false << true << true << -1 << QByteArray()
            << QByteArray();
        QTest::newRow("a hung child is killed and the run fails")
            << "echo started; exec sleep 60" << 300 << false << false << false << -1
            << QByteArray("started\n") << QByteArray();
    }
    void runs() {
        QFETCH(QString, script);
        QFETCH(int, timeoutMs);
        QFETCH(bool, keepStderr);
        QFETCH(bool, finished);
        QFETCH(bool, crashed);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);

        platform::ChildOptions options;
        options.timeoutMs = timeoutMs;
        options.keepStderr = keepStderr;
        options.stderrTail = 30;
        QElapsedTimer clock;
        clock.start();
        const platform::ChildRun run = platform::runChild("/bin/sh", {"-c", script}, options);
        QVERIFY(run.started);
        QCOMPARE(run.finished(), finished);
        QCOMPARE(run.timedOut, !finished);
        QCOMPARE(run.crashed, crashed);
        if (finished && !crashed)
            QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, out);
        QCOMPARE(run.err, err);
        // Generous bound: only a child left to run its full 60 s would break it.
        QVERIFY(clock.elapsed() < 30'000);
    }

    void aLargeOutputDoesNotBlockTheChild() {
        const platform::ChildRun run =
            platform::runChild("/bin/sh", {"-c", "head -c 3000000 /dev/zero"});
        QVERIFY(run.finished());
        QCOMPARE(run.out.size(), 3'000'000);
    }

    // terminateAll ends a running child, its run fails, and later runs fail at once.
    void terminateAllEndsRunsAndClosesTheRegistry() {
        platform::ChildOptions options;
        options.registry = std::make_shared<platform::ChildRegistry>();
        auto running = std::async(std::launch::async, [options] {
            return platform::runChild("/bin/sh", {"-c", "exec sleep 60"}, options);
        });
        QTest::qWait(300);
        options.registry->terminateAll();
        const platform::ChildRun ended = running.get();
        QVERIFY(ended.started && ended.terminated && !ended.finished());
        const platform::ChildRun later = platform::runChild("/bin/true", {}, options);
        QVERIFY(!later.started);
    }

    // A run's own stop ends that run alone: a running child is killed at
    // once (no grace: its output is of no use), one not yet started never
    // starts; the registry stays open for other runs.
    void aStopEndsItsRunAlone_data() {
        QTest::addColumn<bool>("beforeStart");
        QTest::newRow("asked while the child runs: killed, the run failed") << false;
        QTest::newRow("asked before the start: the program never starts") << true;
    }
    void aStopEndsItsRunAlone() {
        QFETCH(bool, beforeStart);
        const QString marker = test::tempFile("stop-started");
        QFile::remove(marker);
        platform::ChildOptions options;
        options.registry = std::make_shared<platform::ChildRegistry>();
        const auto stop = std::make_shared<platform::ChildStop>();
        options.stop = stop;
        if (beforeStart)
            stop->request();
        // SIGTERM is ignored: only a kill ends it before its 60 s.
        auto running = std::async(std::launch::async, [options, marker] {
            return platform::runChild(
                "/bin/sh", {"-c", "trap '' TERM; : > '" + marker + "'; exec sleep 60"}, options);
        });
        if (!beforeStart) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 30000);
            stop->request();
        }
        QElapsedTimer clock;
        clock.start();
        const platform::ChildRun ended = running.get();
        QVERIFY(ended.terminated && !ended.finished());
        QCOMPARE(ended.started, !beforeStart);
        QCOMPARE(QFile::exists(marker), !beforeStart);
        QVERIFY(clock.elapsed() < 30'000); // generous: only a child left to run breaks it
        QVERIFY(!options.registry->isClosed());
        QVERIFY(platform::runChild("/bin/true", {}, {.registry = options.registry}).succeeded());
    }

    void aMissingProgramIsNotStarted() {
        const platform::ChildRun run = platform::runChild("/nonexistent/ffprobe", {"-v"});
        QVERIFY(!run.started);
        QVERIFY(!run.finished());
        QVERIFY(!run.errorText.isEmpty());
        QVERIFY(run.out.isEmpty());
    }

    void theGivenEnvironmentReplacesOurs() {
        platform::ChildOptions options;
        QProcessEnvironment env;
        env.insert("QL_ONLY", "yes");
        options.environment = env;
        qputenv("QL_INHERITED", "leak");
        const platform::ChildRun run =
            platform::runChild("/bin/sh", {"-c", "echo \"$QL_ONLY/$QL_INHERITED\""}, options);
        qunsetenv("QL_INHERITED");
        QVERIFY(run.finished());
        QCOMPARE(run.out, QByteArray("yes/\n"));
    }
};

QL_TEST_MAIN_CORE(ChildProcessTest)
#include "ChildProcessTest.moc"
