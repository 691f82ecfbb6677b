// Guards against: music in the home folder that never reaches the list, and a tag of
// megabytes carried whole into the catalog and the window.
// The whole program's launch with the real backend script, in a home folder
// holding tagged files made here: the catalog reaches the list and the status
// line, and an 8 MB title arrives cut to the backend's bound.
#include "app/App.h"
#include "library/ToolPaths.h"
#include "platform/Platform.h"
#include "platform/sim/SimPlatform.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "FakeServices.h"
#include "TestAudio.h"
#include "TestFiles.h"
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

// `source` with the tags of an FFmpeg metadata file holding `tags`, written
// as `path`: a tag too long for a command line.
bool retag(const QString& source, const QByteArray& tags, const QString& path) {
    const QString meta = path + ".txt";
    if (!test::writeFile(meta, ";FFMETADATA1\n" + tags))
        return false;
    const bool made =
        test::runFfmpeg({"-i", source, "-i", meta, "-map_metadata", "1", "-c", "copy", path});
    QFile::remove(meta);
    return made;
}

QStringList backendLaunch() {
    return {pythonPath().value_or("/usr/bin/python3"),
            test::TestHome::buildDir() + "/resources/backend.py"};
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
        test::fakes(app).tools.backendCommand = backendLaunch;
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

    // A file whose title tag is 8 MB, played: the catalog, its cache file and
    // the transport bar hold the title as the backend cut it, 1,000
    // characters ending in "…". (What showing such a title costs the window is
    // measured by bench_track_table: "title/current".)
    void hugeTitleArrivesCut() {
        L10n::setLanguage("en");
        const QString music = QDir::homePath() + "/Huge";
        QVERIFY(QDir().mkpath(music));
        const QString path = music + "/huge.flac";
        QVERIFY(makeTaggedFile(music + "/plain.flac", "x", "y", "z"));
        QVERIFY(retag(music + "/plain.flac",
                      "title=가나다" + QByteArray((8 << 20) - 9, 'T') + "\nartist=Someone\n",
                      path));
        QVERIFY(QFile::remove(music + "/plain.flac"));
        QVERIFY(QFileInfo(path).size() > (8 << 20));
        qputenv("QUAVELARK_SCAN_ROOTS", QFile::encodeName(music));

        platform::Platform plat = platform::makeSimulatedPlatform();
        App app(plat, test::fakeServices());
        test::fakes(app).tools.missingTools = [] { return QStringList{}; };
        test::fakes(app).tools.backendCommand = backendLaunch;
        app.applicationDidFinishLaunching();
        QTRY_VERIFY_WITH_TIMEOUT(app.library.rows.size() == 1 && app.library.rows[0].path == path,
                                 60000);
        const Track track = app.library.rows[0];
        QCOMPARE(track.title.size(), 1000);
        QVERIFY(track.title.startsWith("가나다TTT") && track.title.endsWith("…"));
        QCOMPARE(track.artist, QString("Someone"));
        // The cache file, written off the main thread once the catalog changed.
        QTRY_VERIFY_WITH_TIMEOUT(QFile(app.catalogURL()).size() > 0 &&
                                     test::readFile(app.catalogURL()).contains(path.toUtf8()),
                                 ql::test::kOutcomeMs);
        QVERIFY(QFile(app.catalogURL()).size() < 8 * 1024);

        app.play(track);
        QCOMPARE(app.views.titleLabel->text(), track.title);
        QCOMPARE(app.views.artistLabel->text(), QString("Someone"));
    }
};

QL_TEST_MAIN(LibraryEndToEndTest)
#include "LibraryEndToEndTest.moc"
