// Guards against: the wrong program run: a non-executable, a folder, the wrong search order.
#include "library/ToolPaths.h"

#include "TestFiles.h"
#include "TestHome.h"
#include "TestUnits.h"

#include <QDir>
#include <QTemporaryDir>

using namespace ql;

namespace {

// The standard search lists moved under a fake root, so every row exercises the
// real order without touching the machine's folders.
struct FakeRoot {
    QTemporaryDir dir;
    ToolFolders folders;

    FakeRoot() {
        // Without its folder (a full disk) the rows would write into the real /usr/bin.
        if (!dir.isValid())
            qFatal("no temporary folder for the fake root");
        folders = ToolFolders::withResources(QStringLiteral("/res"));
        const auto move = [this](QString& d) { d = dir.path() + d; };
        move(folders.resources);
        move(folders.toolFallbackDir);
        for (QString& d : folders.toolDirs)
            move(d);
        for (QString& d : folders.pythonDirs)
            move(d);
    }

    QString abs(const QString& rel) const { return dir.path() + QLatin1Char('/') + rel; }

    // "path" makes an executable file, "path:plain" a file without execute
    // bits, "path/" a folder.
    void make(const QString& entry) const {
        if (entry.endsWith('/'))
            QVERIFY(QDir().mkpath(abs(entry)));
        else if (entry.endsWith(":plain"))
            QVERIFY(test::writeFile(abs(entry.chopped(6)), "#!/bin/sh\n"));
        else
            QVERIFY(test::writeExecutable(abs(entry), {}));
    }
    void make(const QStringList& entries) const {
        for (const QString& s : entries)
            make(s);
    }
    // A path under the root as the rows write it; "" stays "".
    QString rel(const QString& path) const {
        return path.startsWith(dir.path() + '/') ? path.mid(dir.path().size() + 1) : path;
    }
};

} // namespace

class ToolPathsTest : public QObject {
    Q_OBJECT
private slots:
    void toolPath_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("found");
        QTest::newRow("a bundle copy wins over every folder")
            << QStringList{"res/bin/ffmpeg", "usr/local/bin/ffmpeg", "usr/bin/ffmpeg"}
            << "res/bin/ffmpeg";
        QTest::newRow("a bundle copy without execute permission is skipped")
            << QStringList{"res/bin/ffmpeg:plain", "usr/local/bin/ffmpeg"}
            << "usr/local/bin/ffmpeg";
        QTest::newRow("a hand install in /usr/local/bin before the system's copy")
            << QStringList{"usr/local/bin/ffmpeg", "usr/bin/ffmpeg"} << "usr/local/bin/ffmpeg";
        QTest::newRow("/usr/bin before /bin")
            << QStringList{"bin/ffmpeg", "usr/bin/ffmpeg"} << "usr/bin/ffmpeg";
        QTest::newRow("a copy only in /bin is found") << QStringList{"bin/ffmpeg"} << "bin/ffmpeg";
        QTest::newRow("folders outside the system's search path are not searched")
            << QStringList{"opt/local/bin/ffmpeg", "opt/homebrew/bin/ffmpeg"} << "usr/bin/ffmpeg";
        QTest::newRow("a folder named like the program is no program")
            << QStringList{"usr/local/bin/ffmpeg/", "usr/bin/ffmpeg"} << "usr/bin/ffmpeg";
        QTest::newRow("only a non-executable copy: the untested fallback")
            << QStringList{"usr/local/bin/ffmpeg:plain"} << "usr/bin/ffmpeg";
        QTest::newRow("nothing anywhere: the untested fallback")
            << QStringList{} << "usr/bin/ffmpeg";
    }
    void toolPath() {
        QFETCH(QStringList, files);
        QFETCH(QString, found);
        FakeRoot root;
        root.make(files);
        QCOMPARE(root.rel(ql::toolPath("ffmpeg", root.folders)), found);
    }

    void withoutAResourcesFolderTheBundleIsSkipped() {
        FakeRoot root;
        root.make(
            QStringList{"res/bin/ffprobe", "res/python/bin/python3", "usr/local/bin/ffprobe"});
        root.folders.resources.clear();
        QCOMPARE(root.rel(ql::toolPath("ffprobe", root.folders)), QString("usr/local/bin/ffprobe"));
        QCOMPARE(ql::pythonPath(root.folders), std::nullopt);
    }

    void pythonPath_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("found"); // "" for none
        QTest::newRow("the bundle's python3.12 comes first")
            << QStringList{"res/python/bin/python3.12", "res/python/bin/python3", "usr/bin/python3"}
            << "res/python/bin/python3.12";
        QTest::newRow("a bundle with only python3 gives that")
            << QStringList{"res/python/bin/python3", "usr/local/bin/python3"}
            << "res/python/bin/python3";
        QTest::newRow("a non-executable bundle copy is skipped")
            << QStringList{"res/python/bin/python3:plain", "usr/local/bin/python3"}
            << "usr/local/bin/python3";
        QTest::newRow("a hand-built python3 in /usr/local/bin before the system's")
            << QStringList{"usr/bin/python3", "usr/local/bin/python3"} << "usr/local/bin/python3";
        QTest::newRow("the system's /usr/bin/python3")
            << QStringList{"usr/bin/python3"} << "usr/bin/python3";
        QTest::newRow("folders outside the system's search path are not searched")
            << QStringList{"opt/homebrew/bin/python3",
                           "Library/Frameworks/Python.framework/Versions/3.13/bin/python3"}
            << "";
        QTest::newRow("nothing anywhere gives none") << QStringList{} << "";
    }
    void pythonPath() {
        QFETCH(QStringList, files);
        QFETCH(QString, found);
        FakeRoot root;
        root.make(files);
        QCOMPARE(root.rel(ql::pythonPath(root.folders).value_or(QString())), found);
    }

    void missingTools_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("mutagen");
        QTest::addColumn<QStringList>("missing");
        const QStringList all{"usr/bin/python3", "usr/bin/ffmpeg", "usr/bin/ffprobe"};
        QTest::newRow("everything found") << all << true << QStringList{};
        QTest::newRow("ffmpeg without ffprobe gives one FFmpeg entry")
            << QStringList{"usr/bin/python3", "usr/bin/ffmpeg"} << true << QStringList{"FFmpeg"};
        QTest::newRow("the two programs in different folders are fine")
            << QStringList{"usr/bin/python3", "res/bin/ffmpeg", "bin/ffprobe"} << true
            << QStringList{};
        QTest::newRow("nothing gives Python 3 then FFmpeg")
            << QStringList{} << true << QStringList{"Python 3", "FFmpeg"};
        QTest::newRow("Python without mutagen counts as missing")
            << all << false << QStringList{"Python 3"};
        QTest::newRow("non-executable copies count as missing")
            << QStringList{"usr/bin/python3:plain", "usr/bin/ffmpeg:plain", "usr/bin/ffprobe"}
            << true << QStringList{"Python 3", "FFmpeg"};
    }
    void missingTools() {
        QFETCH(QStringList, files);
        QFETCH(bool, mutagen);
        QFETCH(QStringList, missing);
        FakeRoot root;
        root.make(files);
        QStringList asked;
        const auto check = [&](const QString& python) {
            asked << root.rel(python);
            return mutagen;
        };
        QCOMPARE(ql::missingTools(root.folders, check), missing);
        // The check runs on the interpreter the search found, and only then.
        const std::optional<QString> python = ql::pythonPath(root.folders);
        QCOMPARE(asked, python ? QStringList{root.rel(*python)} : QStringList{});
    }
};

QL_TEST_UNIT(ToolPathsTest)
#include "ToolPathsTest.moc"
