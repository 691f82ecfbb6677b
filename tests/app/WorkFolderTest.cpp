// Guards against: render and decode files readable by others, or left behind by killed runs.
#include "app/WorkFolder.h"

#include "CaseRows.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ql;

namespace {

// The permission bits of `path` (links not followed); -1 when it is missing.
int modeOf(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

QString freshBase(const QString& name) {
    const QString base = QDir::temp().filePath(name);
    QDir(base).removeRecursively();
    return base;
}

// A run folder as a run leaves it: `locked` holds its lock through the
// returned descriptor (a live run), else it is closed (a dead one).
int plantRun(const QString& folder, bool withLock, bool locked) {
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    test::writeFile(folder + "/Quavelark-fx-1.caf", "pcm");
    if (!withLock)
        return -1;
    const int fd = ::open(QFile::encodeName(folder + "/.lock").constData(), O_RDWR | O_CREAT, 0600);
    if (locked)
        ::flock(fd, LOCK_EX);
    else
        ::close(fd);
    return locked ? fd : -1;
}

struct ClearCase {
    const char* name;
    const char* folder; // under the base
    bool withLock;
    bool locked;
    bool kept;
};
const std::vector<ClearCase> clearCases{
    {"a dead run's folder is removed", "run-dead01", true, false, false},
    {"a live run's folder is kept", "run-live01", true, true, true},
    {"a run folder without its lock is removed", "run-nolock", false, false, false},
    {"a folder not named as a run is kept", "keep-me", true, false, true},
};

// The program, launched with a file it plays only through the decode road.
struct Program {
    QProcess process;
    bool start(const QStringList& files) {
        if (qEnvironmentVariableIsEmpty("ASAN_OPTIONS"))
            qputenv("ASAN_OPTIONS", "detect_leaks=0");
        process.start(test::TestHome::buildDir() + "/quavelark", files);
        return process.waitForStarted(60000);
    }
    void killHard() {
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished(60000);
    }
    void quit() {
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
        }
    }
};

QString workBase() {
    return workFolderBases().value(0);
}

} // namespace

class WorkFolderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        const QString wv = test::tempFile(QStringLiteral("long tone.wv"));
        QVERIFY(test::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=60", wv}));
    }

    void clearsOnlyEndedRuns_data() { test::addRows(clearCases); }
    void clearsOnlyEndedRuns() {
        const ClearCase& c = test::currentCase(clearCases);
        const QString base = freshBase(QStringLiteral("clear-base"));
        QVERIFY(QDir().mkpath(base));
        QVERIFY(::chmod(QFile::encodeName(base).constData(), 0700) == 0);
        const QString folder = base + u'/' + QLatin1String(c.folder);
        const int held = plantRun(folder, c.withLock, c.locked);

        const std::unique_ptr<WorkFolder> work = WorkFolder::open({base});
        QVERIFY(work);
        QCOMPARE(QFileInfo::exists(folder + "/Quavelark-fx-1.caf"), c.kept);
        QCOMPARE(work->cleared(), c.kept ? 0 : 1);
        if (held >= 0)
            ::close(held);
    }

    // A link named like a run folder is removed, never followed.
    void neverFollowsALink() {
        const QString base = freshBase(QStringLiteral("link-base"));
        const QString elsewhere = freshBase(QStringLiteral("not ours"));
        QVERIFY(QDir().mkpath(base) && QDir().mkpath(elsewhere));
        QVERIFY(::chmod(QFile::encodeName(base).constData(), 0700) == 0);
        QVERIFY(test::writeFile(elsewhere + "/precious", "keep"));
        QVERIFY(QFile::link(elsewhere, base + "/run-link"));
        QVERIFY(WorkFolder::open({base}));
        QCOMPARE(test::readFile(elsewhere + "/precious"), QByteArray("keep"));
    }

    // Its folders and reserved files are closed to others; a public base is
    // not used, and a planted name is refused.
    void isPrivate() {
        const QString open = freshBase(QStringLiteral("public-base"));
        QVERIFY(QDir().mkpath(open));
        QVERIFY(::chmod(QFile::encodeName(open).constData(), 0755) == 0);
        const QString base = freshBase(QStringLiteral("private-base"));
        std::unique_ptr<WorkFolder> work = WorkFolder::open({open, base});
        QVERIFY(work);
        QCOMPARE(work->base(), base);
        QCOMPARE(modeOf(base), 0700);
        QCOMPARE(modeOf(work->path()), 0700);
        const QString file = work->path() + "/Quavelark-fx-A.caf";
        QVERIFY(reserveFile(file));
        QCOMPARE(modeOf(file), 0600);
        QVERIFY(!reserveFile(file));
        QVERIFY(QFile::link(test::tempFile("target"), work->path() + "/planted"));
        QVERIFY(!reserveFile(work->path() + "/planted"));
        QVERIFY(!QFileInfo::exists(test::tempFile("target")));

        const QString path = work->path();
        work.reset();
        QVERIFY(!QFileInfo::exists(path));
    }

    // The program killed while it renders a track (a first start has its
    // effects on): the render's files were private while it lived, another
    // run's start keeps them, and the next start after the kill removes them.
    void killedMidRenderLeavesNothing() {
        const QString wv = test::tempFile(QStringLiteral("long tone.wv"));
        const auto rendered = [] { return test::ourFilePaths({QStringLiteral("Quavelark-fx-*")}); };

        Program first;
        QVERIFY(first.start({wv}));
        QTRY_VERIFY_WITH_TIMEOUT(!rendered().isEmpty(), 60000);
        const QStringList files = rendered();
        const QString runFolder = QFileInfo(files.front()).path();
        QCOMPARE(QFileInfo(runFolder).path(), workBase());
        for (const QString& file : files)
            QVERIFY2(modeOf(file) == 0600 || modeOf(file) == -1,
                     qPrintable(file)); // -1: a stage done
        QCOMPARE(modeOf(runFolder), 0700);
        QCOMPARE(modeOf(workBase()), 0700);

        // Another run's start (here: a folder opened by this test) keeps a
        // live run's files.
        QVERIFY(WorkFolder::open());
        QVERIFY(QFileInfo::exists(runFolder));
        QVERIFY(!rendered().isEmpty());

        first.killHard();
        QVERIFY(!rendered().isEmpty()); // nothing ran to delete them

        Program next;
        QVERIFY(next.start({}));
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(runFolder), 60000);
        next.quit();
        QCOMPARE(test::ourFiles({QStringLiteral("Quavelark-*")}), QStringList());
    }
};

QL_TEST_MAIN_CORE(WorkFolderTest)
#include "WorkFolderTest.moc"
