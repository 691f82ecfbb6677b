// Guards against: a file replaced or rewritten taken for the version seen before (a decode made
// ahead, the settings file, a cover's no-picture mark).
#include "app/FileStamp.h"

#include "CaseRows.h"
#include "TestFiles.h"
#include "TestUnits.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

using namespace ql;

namespace {

// Sets the modification time of `path` to `sec`.`nsec` since the epoch.
bool setModified(const QString& path, qint64 sec, long nsec) {
    const struct timespec times[2] = {{sec, nsec}, {sec, nsec}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

constexpr qint64 kSeen = 1700000000; // the time the file had when first stamped

// What happens to the file between two stamps.
enum class Change { None, NewTime, TimePutBack, ReplacedAlike, Resized, Removed };
struct StampCase {
    const char* name;
    Change change;
    bool same;
};
// clang-format off
const std::vector<StampCase> stampCases{
    {"left alone: the same",                                         Change::None,          true},
    {"written again at its size, a moment later: another",           Change::NewTime,       false},
    {"written again at its size, its time put back: another",        Change::TimePutBack,   false},
    {"replaced by another file of its size and time: another",       Change::ReplacedAlike, false},
    {"grown at the same time: another",                              Change::Resized,       false},
    {"removed: none",                                                Change::Removed,       false},
};
// clang-format on

// Times whose milliseconds cover marks hold, also before 1970.
struct MsCase {
    const char* name;
    qint64 sec;
    long nsec;
};
// clang-format off
const std::vector<MsCase> msCases{
    {"a time with nanoseconds",            kSeen, 123456789},
    {"a whole second",                     kSeen, 0},
    {"before 1970, on a millisecond",      -2,    500000000},
    {"before 1970, between milliseconds",  -2,    500000001},
};
// clang-format on

} // namespace

class FileStampTest : public QObject {
    Q_OBJECT
private slots:
    void tellsVersionsApart_data() { test::addRows(stampCases); }
    void tellsVersionsApart() {
        const StampCase& c = test::currentCase(stampCases);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("track.wv");
        QVERIFY(test::writeFile(path, "first"));
        QVERIFY(setModified(path, kSeen, 0));
        const FileStamp before = fileStamp(path);
        QVERIFY(before.exists());
        QCOMPARE(before.size, qint64(5));

        switch (c.change) {
        case Change::None:
            break;
        case Change::NewTime:
            QVERIFY(test::writeFile(path, "again"));
            QVERIFY(setModified(path, kSeen, 1000000));
            break;
        case Change::TimePutBack: {
            // Once the clock that stamps changes has moved on (a file made
            // now shows it), lest both changes fall within one of its ticks.
            const QString probe = dir.filePath("probe");
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return test::writeFile(probe, "p") &&
                           fileStamp(probe).changedNs > before.changedNs;
                },
                5000));
            QVERIFY(test::writeFile(path, "again"));
            QVERIFY(setModified(path, kSeen, 0));
            break;
        }
        case Change::ReplacedAlike: {
            const QString other = dir.filePath("other.wv");
            QVERIFY(test::writeFile(other, "other"));
            QVERIFY(setModified(other, kSeen, 0));
            QVERIFY(std::rename(QFile::encodeName(other).constData(),
                                QFile::encodeName(path).constData()) == 0);
            break;
        }
        case Change::Resized:
            QVERIFY(test::writeFile(path, "first and more"));
            QVERIFY(setModified(path, kSeen, 0));
            break;
        case Change::Removed:
            QVERIFY(QFile::remove(path));
            break;
        }

        const FileStamp after = fileStamp(path);
        QCOMPARE(after == before, c.same);
        QCOMPARE(after.exists(), c.change != Change::Removed);
    }

    // A relative path is read against the folder given.
    void aRelativePathReadsAgainstItsFolder() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath("Music"));
        QVERIFY(test::writeFile(dir.filePath("Music/a.wv"), "sound"));
        const FileStamp stamp = fileStamp("Music/a.wv", dir.path());
        QVERIFY(stamp.exists());
        QCOMPARE(stamp, fileStamp(dir.filePath("Music/a.wv")));
        QVERIFY(!fileStamp("Music/a.wv", dir.filePath("Music")).exists());
    }

    // Marks written before hold the milliseconds Qt gave: the same ones.
    void millisecondsAsMarksHoldThem_data() { test::addRows(msCases); }
    void millisecondsAsMarksHoldThem() {
        const MsCase& c = test::currentCase(msCases);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("a.flac");
        QVERIFY(test::writeFile(path, "sound"));
        QVERIFY(setModified(path, c.sec, c.nsec));
        QCOMPARE(fileStamp(path).modifiedMs(), QFileInfo(path).lastModified().toMSecsSinceEpoch());
    }
};

QL_TEST_UNIT(FileStampTest)
#include "FileStampTest.moc"
