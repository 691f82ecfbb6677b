// Guards against: render and decode files readable by others, or left behind by killed runs.
#include "app/WorkFolder.h"

#include "CaseRows.h"
#include "NoPrivateBase.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>
#include <optional>
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

// A run folder as a run leaves it: `lock` names its lock file (none: no
// lock file), which `locked` holds through the returned descriptor (a live
// run), else it is closed (a dead one).
int plantRun(const QString& folder, const char* lock, bool locked) {
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    test::writeFile(folder + "/Quavelark-fx-1.caf", "pcm");
    if (!lock)
        return -1;
    const int fd =
        ::open(QFile::encodeName(folder + '/' + lock).constData(), O_RDWR | O_CREAT, 0600);
    if (locked)
        ::flock(fd, LOCK_EX);
    else
        ::close(fd);
    return locked ? fd : -1;
}

QString loose(const char* suffix) {
    return QStringLiteral("quavelark-%1-run-%2").arg(::getuid()).arg(QLatin1String(suffix));
}

enum class In { Base, Shared };
struct ClearCase {
    const char* name;
    In in;
    QString folder;   // under the base or the shared folder
    const char* lock; // its lock file, if any
    bool locked;
    bool kept;
};
// clang-format off
const std::vector<ClearCase> clearCases{
    {"a dead run's folder is removed",                 In::Base,   "run-dead01",       ".lock",     false, false},
    {"a live run's folder is kept",                    In::Base,   "run-live01",       ".lock",     true,  true},
    {"a run folder without its lock is removed",       In::Base,   "run-nolock",       nullptr,     false, false},
    {"a folder not named as a run is kept",            In::Base,   "keep-me",          ".lock",     false, true},
    {"a dead loose run's folder is removed",           In::Shared, loose("dead01"),    ".lock",     false, false},
    {"a live loose run's folder is kept",              In::Shared, loose("live01"),    ".lock",     true,  true},
    {"a loose folder being made is kept",              In::Shared, loose("making"),    ".lock-new", true,  true},
    {"a loose folder its maker left is removed",       In::Shared, loose("leftmk"),    ".lock-new", false, false},
    {"a loose folder without a lock file is kept",     In::Shared, loose("nolock"),    nullptr,     false, true},
    {"another user id's run is never touched",         In::Shared, "quavelark-99999-run-dead02", ".lock", false, true},
};
// clang-format on

// The base "<tmp>/quavelark-<uid>-work" in a temporary folder of `mode`:
// not looked for (only a loose folder could be made), missing, or left by an
// earlier run.
enum class TempBase { NotAsked, Missing, MadeBefore };
struct OpenTempCase {
    const char* name;
    mode_t mode;
    TempBase base;
    bool made;
};
// clang-format off
const std::vector<OpenTempCase> openTempCases{
    {"open to all: no loose folder",                     0777,  TempBase::NotAsked,   false},
    {"open to all: no base made in it",                  0777,  TempBase::Missing,    false},
    {"open to all: a base made there before is not used", 0777, TempBase::MadeBefore, false},
    {"sticky and open to all: the base is made",         01777, TempBase::Missing,    true},
    {"open to its group: no loose folder",               0770,  TempBase::NotAsked,   false},
    {"open to its group: no base made in it",            0770,  TempBase::Missing,    false},
    {"open to its group, read by all: no base made",     0775,  TempBase::Missing,    false},
    {"open to its group: a base made there before is not used", 0775, TempBase::MadeBefore, false},
    {"sticky and open to its group: the base is made",   01770, TempBase::Missing,    true},
    {"read by all, written by us only: the base is made", 0755, TempBase::Missing,    true},
};
// clang-format on

// clang-format off
// What became of a live run's folder (a cache cleaner removed it, or another
// folder or a link took its name since) and whether it still counts as the
// run's own; the end of the run removes only its own.
enum class Became { Kept, Removed, Replaced, Linked };
struct FateCase {
    const char* name;
    Became became;
    bool intact;
};
const std::vector<FateCase> fateCases{
    {"left alone: intact, removed at the end",           Became::Kept,     true},
    {"removed: not intact",                               Became::Removed,  false},
    {"another folder in its place: not intact, kept",     Became::Replaced, false},
    {"a link in its place: not intact, its target kept",  Became::Linked,   false},
};
// clang-format on
// What the sanitized program may take, on a machine with four busy processes
// per core, to start and render, to clear, or to quit: a minute and more.
constexpr int kProgramWaitMs = 180000;

// The program, launched with a file it plays only through the decode road.
struct Program {
    QProcess process;
    bool start(const QStringList& files, const QProcessEnvironment& env) {
        if (qEnvironmentVariableIsEmpty("ASAN_OPTIONS"))
            qputenv("ASAN_OPTIONS", "detect_leaks=0");
        process.setProcessEnvironment(env);
        process.start(test::TestHome::buildDir() + "/quavelark", files);
        return process.waitForStarted(60000);
    }
    void killHard() {
        ::kill(pid_t(process.processId()), SIGKILL);
        process.waitForFinished(60000);
    }
    void quit() {
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(kProgramWaitMs)) {
            process.kill();
            process.waitForFinished();
        }
    }
};

QString workBase() {
    return workFolderBases().value(0);
}

QStringList looseFolders() {
    return QDir::temp().entryList({loose("*")}, QDir::Dirs | QDir::Hidden);
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
        const QString shared = freshBase(QStringLiteral("clear-shared"));
        QVERIFY(QDir().mkpath(base) && QDir().mkpath(shared));
        QVERIFY(::chmod(QFile::encodeName(base).constData(), 0700) == 0);
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        const QString folder = (c.in == In::Base ? base : shared) + u'/' + c.folder;
        const int held = plantRun(folder, c.lock, c.locked);

        const std::unique_ptr<WorkFolder> work = WorkFolder::open({base}, shared);
        QVERIFY(work);
        QCOMPARE(work->base(), base);
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

    void knowsItsOwnFolder_data() { test::addRows(fateCases); }
    void knowsItsOwnFolder() {
        const FateCase& c = test::currentCase(fateCases);
        const QString base = freshBase(QStringLiteral("fate-base"));
        const QString elsewhere = freshBase(QStringLiteral("fate-elsewhere"));
        QVERIFY(QDir().mkpath(elsewhere) && test::writeFile(elsewhere + "/precious", "keep"));
        std::unique_ptr<WorkFolder> work = WorkFolder::open({base});
        QVERIFY(work && work->intact());
        const QString path = work->path();
        if (c.became != Became::Kept)
            QVERIFY(QDir(path).removeRecursively());
        if (c.became == Became::Replaced)
            QVERIFY(QDir().mkpath(path) && test::writeFile(path + "/precious", "keep"));
        if (c.became == Became::Linked)
            QVERIFY(QFile::link(elsewhere, path));

        QCOMPARE(work->intact(), c.intact);
        work.reset();
        QCOMPARE(QFileInfo::exists(path),
                 c.became == Became::Replaced || c.became == Became::Linked);
        QCOMPARE(test::readFile(elsewhere + "/precious"), QByteArray("keep"));
        if (c.became == Became::Replaced)
            QCOMPARE(test::readFile(path + "/precious"), QByteArray("keep"));
    }

    // A temporary folder where others could rename our folder away gets
    // neither a base nor a loose folder; a sticky one gets its base.
    void noFolderWhereOthersMayTakeIt_data() { test::addRows(openTempCases); }
    void noFolderWhereOthersMayTakeIt() {
        const OpenTempCase& c = test::currentCase(openTempCases);
        const QString shared = freshBase(QStringLiteral("open-to-all"));
        QVERIFY(QDir().mkpath(shared));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), c.mode) == 0);
        const QString base = shared + QStringLiteral("/quavelark-%1-work").arg(::getuid());
        if (c.base == TempBase::MadeBefore)
            QVERIFY(QDir().mkpath(base) && ::chmod(QFile::encodeName(base).constData(), 0700) == 0);
        const QStringList bases = c.base == TempBase::NotAsked ? QStringList{} : QStringList{base};
        const std::unique_ptr<WorkFolder> work = WorkFolder::open(bases, shared);

        QCOMPARE(bool(work), c.made);
        if (work)
            QCOMPARE(work->base(), base);
        const QStringList left =
            QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        // Only the base left by an earlier run, untouched, or the one made.
        const bool based = c.base == TempBase::MadeBefore || c.made;
        QCOMPARE(left, based ? QStringList{QFileInfo(base).fileName()} : QStringList{});
        if (!work && based)
            QVERIFY(QDir(base).isEmpty());
    }

    // The program killed while it renders a track (a first start has its
    // effects on): the render's files were private while it lived, another
    // run's start keeps them, and the next start after the kill removes them.
    // Without a private base the run's folder is made loose in the shared
    // temporary folder, under a name no one could foresee.
    void killedMidRenderLeavesNothing_data() {
        QTest::addColumn<bool>("privateBase");
        QTest::newRow("in the private base") << true;
        QTest::newRow("no private base: loose in the temporary folder") << false;
    }
    void killedMidRenderLeavesNothing() {
        QFETCH(bool, privateBase);
        const QString wv = test::tempFile(QStringLiteral("long tone.wv"));
        const auto rendered = [] { return test::ourFilePaths({QStringLiteral("Quavelark-fx-*")}); };
        std::optional<test::NoPrivateBase> noBase;
        if (!privateBase) {
            noBase.emplace();
            QVERIFY(noBase->ok);
        }
        const QProcessEnvironment env =
            noBase ? noBase->env() : QProcessEnvironment::systemEnvironment();

        Program first;
        QVERIFY(first.start({wv}, env));
        QTRY_VERIFY_WITH_TIMEOUT(!rendered().isEmpty(), kProgramWaitMs);
        const QStringList files = rendered();
        const QString runFolder = QFileInfo(files.front()).path();
        for (const QString& file : files)
            QVERIFY2(modeOf(file) == 0600 || modeOf(file) == -1,
                     qPrintable(file)); // -1: a stage done
        QCOMPARE(modeOf(runFolder), 0700);
        if (privateBase) {
            QCOMPARE(QFileInfo(runFolder).path(), workBase());
            QCOMPARE(modeOf(workBase()), 0700);
        } else {
            QCOMPARE(QFileInfo(runFolder).path(), QDir::tempPath());
            QCOMPARE(looseFolders(), QStringList{QFileInfo(runFolder).fileName()});
            QVERIFY(QDir(noBase->tmpBase).isEmpty());
        }

        // Another run's start (here: a folder opened by this test) keeps a
        // live run's files.
        QVERIFY(WorkFolder::open());
        QVERIFY(QFileInfo::exists(runFolder));
        QVERIFY(!rendered().isEmpty());

        first.killHard();
        QVERIFY(!rendered().isEmpty()); // nothing ran to delete them

        Program next;
        QVERIFY(next.start({}, env));
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(runFolder), kProgramWaitMs);
        next.quit();
        QCOMPARE(test::ourFiles({QStringLiteral("Quavelark-*")}), QStringList());
        QCOMPARE(looseFolders(), QStringList());
    }
};

QL_TEST_MAIN_CORE(WorkFolderTest)
#include "WorkFolderTest.moc"
