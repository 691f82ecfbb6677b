// Guards against: music in the home folder that never reaches the list.
// The whole program's launch with the real backend script, in a home folder
// holding three tagged files made here: the catalog reaches the list and the
// status line.
#include "app/App.h"
#include "library/ToolPaths.h"
#include "platform/Platform.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "FakeServices.h"
#include "TestHome.h"

#include <QDir>
#include <QProcess>

using namespace ql;

namespace {

// One second of tone with its tags, written by ffmpeg.
bool makeTaggedFile(const QString& path, const QString& title, const QString& artist,
                    const QString& album) {
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start(toolPath("ffmpeg"),
                 {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                  "-metadata", "title=" + title, "-metadata", "artist=" + artist, "-metadata",
                  "album=" + album, "-y", path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

} // namespace

class LibraryEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void threeFilesInTheHomeFolderReachTheList() {
        L10n::setLanguage("ko");
        const QString music = QDir::homePath() + "/Music";
        QVERIFY(QDir().mkpath(music + "/가을"));
        QVERIFY(makeTaggedFile(music + "/가을/01.flac", "밤편지", "아이유", "팔레트"));
        QVERIFY(makeTaggedFile(music + "/02.mp3", "Blue Monday", "New Order", "Power"));
        QVERIFY(makeTaggedFile(music + "/03.ogg", "봄날", "방탄소년단", "You Never Walk Alone"));
        // Only the test's home: a machine's /mnt must not change the count.
        qputenv("QUAVELARK_SCAN_ROOTS", QFile::encodeName(QDir::homePath()));

        platform::Platform plat;
        App app(plat, test::fakeServices());
        test::fakes(app).tools.missingTools = [] { return QStringList{}; };
        test::fakes(app).tools.backendCommand = [] {
            return QStringList{pythonPath().value_or("/usr/bin/python3"),
                               test::TestHome::buildDir() + "/resources/backend.py"};
        };
        app.applicationDidFinishLaunching();

        // The poll of the 0.5 s tick brings the catalog in once the scan has
        // read the files.
        QTRY_COMPARE_WITH_TIMEOUT(app.library.rows.size(), size_t(3), 60000);
        QStringList titles;
        for (const Track& t : app.library.rows)
            titles << t.title;
        titles.sort();
        QCOMPARE(titles, (QStringList{"Blue Monday", "밤편지", "봄날"}));
        QCOMPARE(app.browser.filtered.size(), size_t(3));
        QVERIFY2(app.status->stringValue().startsWith("3곡 / 전체 3곡"),
                 qPrintable(app.status->stringValue()));
        QVERIFY(!app.library.backendError);
        QVERIFY(QFile::exists(app.catalogURL()));
    }
};

QL_TEST_MAIN(LibraryEndToEndTest)
#include "LibraryEndToEndTest.moc"
