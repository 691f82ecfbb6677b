// Guards against: music in the home folder that never reaches the list, a tag of
// megabytes carried whole into the catalog and the window, and a file of 100,000 tags
// handed over by a second start but read past the import's time limit.
// The whole program's launch with the real backend script, in a home folder
// holding tagged files made here: the catalog reaches the list and the status
// line, and an 8 MB title arrives cut to the backend's bound.
#include "app/App.h"
#include "library/BackendCommand.h"
#include "library/BackendImport.h"
#include "library/ToolPaths.h"
#include "platform/Platform.h"
#include "platform/sim/SimPlatform.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "FakeServices.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QProcess>

#include <vector>

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

// An ID3v2.3 frame: its name, size, no flags, then `body`.
QByteArray id3Frame(const char* name, const QByteArray& body) {
    QByteArray frame(name, 4);
    for (const int shift : {24, 16, 8, 0})
        frame += char((body.size() >> shift) & 0xFF);
    return frame + QByteArray(2, '\0') + body;
}

// A second of MP3 tone whose ID3v2.3 tag holds `count` TXXX frames of 20
// characters and a UTF-8 title, before them or after them all.
bool writeCrowdedMp3(const QString& path, int count, const QByteArray& title, bool titleFirst) {
    const QString plain = path + ".plain.mp3";
    if (!test::runFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-map_metadata",
                          "-1", "-write_id3v2", "0", plain}))
        return false;
    const QByteArray sound = test::readFile(plain);
    QFile::remove(plain);
    const QByteArray named = id3Frame("TIT2", '\3' + title);
    QByteArray frames = titleFirst ? named : QByteArray();
    for (int n = 0; n < count; ++n)
        frames += id3Frame("TXXX", '\3' + QByteArray("k") + QByteArray::number(n) + '\0' +
                                       QByteArray(20, 'v'));
    if (!titleFirst)
        frames += named;
    QByteArray tag("ID3\3\0\0", 6);
    for (const int shift : {21, 14, 7, 0})
        tag += char((frames.size() >> shift) & 0x7F);
    return test::writeFile(path, tag + frames + sound);
}

// clang-format off
struct HandOverCase { const char* name; bool titleFirst; const char* file; const char* title; };
const std::vector<HandOverCase> handOverCases{
    {"title among the first frames",           true,  "first.mp3",      "Crowded"},
    {"title past the bound: the file's name",  false, "late title.mp3", "late title"},
};
// clang-format on

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

    // A file handed over by a second start (the one-shot import through the
    // real backend script) whose ID3 tag holds 100,000 frames: imported at
    // once with what the first 10,000 frames name, never read frame by frame
    // past the import's time limit.
    void aCrowdedFileIsHandedOver_data() { test::addRows(handOverCases); }
    void aCrowdedFileIsHandedOver() {
        const HandOverCase& c = test::currentCase(handOverCases);
        const QString path = QDir::homePath() + u'/' + QString::fromUtf8(c.file);
        QVERIFY(writeCrowdedMp3(path, 100'000, c.titleFirst ? "Crowded" : "Past the bound",
                                c.titleFirst));
        const BackendCommand backend =
            backendCommand(pythonPath(), test::TestHome::buildDir() + "/resources",
                           QProcessEnvironment::systemEnvironment());

        const ImportOutcome o = runImport(importCommand(backend, path));

        QCOMPARE(o.error, QString());
        QVERIFY(o.opened);
        QCOMPARE(o.opened->path, path);
        QCOMPARE(o.opened->title, QString::fromUtf8(c.title));
    }
};

QL_TEST_MAIN(LibraryEndToEndTest)
#include "LibraryEndToEndTest.moc"
