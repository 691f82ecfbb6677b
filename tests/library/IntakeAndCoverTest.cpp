// Guards against: opened files lost on intake, and a wrong or missing cover.
// File intake on a launched window and the simulated device, files named for
// what support/fake_import.py answers; the transport bar's cover and the cover
// service of tiles and rows (covers folder, mosaics) with the real ffmpeg on
// FLAC files with and without an embedded 1200 × 1200 picture.
#include "app/App.h"
#include "app/FailureText.h"
#include "app/UserDefaults.h"
#include "library/BackendCommand.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "platform/audio/AudioFile.h"
#include "platform/sim/SimPlatform.h"
#include "ui/AlbumGrouping.h"
#include "ui/ClickImageView.h"
#include "ui/StatusLabel.h"
#include "ui/TrackCellDelegate.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"

#include "CaseRows.h"
#include "FakeBackend.h"
#include "LaunchedApp.h"
#include "LogLines.h"
#include "ReadersSettled.h"
#include "ReplyPipe.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QThread>
#include <QThreadPool>

using namespace ql;

namespace {

const QString kHeld = QStringLiteral("잠시"); // the status line before the intake
const QString kFakeImport = QStringLiteral(QL_TEST_SUPPORT_DIR "/fake_import.py");

// Before each row the catalog holds ids 1 and 2. `how`: given directly, through
// the panel (or cancelled there), with an interpreter that does not start, or
// with a 1 s limit; `second` starts before the first one's tail.
struct Case {
    const char *name, *how;
    QStringList first, second;
    int steps;
    QString rows;
    qint64 plays; // 0: nothing plays
    QString status;
    int unopened = 0; // files told on standard error as not opened
};
// clang-format off
const std::vector<Case> kCases{
    {"addresses only: nothing at all", "", {"https://h/t3.wav", "ftp://h/t4.wav"}, {}, 0, "1 2", 0,
     kHeld},
    {"a good file URL", "", {"file://$T/t3.wav"}, {}, 1, "1 2 3", 3, ""},
    {"a known id, a failure, a new id", "", {"t1.wav", "bad.wav", "t4.wav"}, {}, 1, "1 2 4", 1, "", 1},
    {"all fail, the last without an error", "", {"bad.wav", "empty.wav"}, {}, 1, "1 2", 0,
     "음원을 열지 못했습니다.", 2},
    {"an interpreter that cannot start", "nopython", {"t3.wav"}, {}, 1, "1 2", 0, "<launch>", 1},
    {"a log line before the answer", "", {"log5.wav"}, {}, 1, "1 2", 0,
     "음원 라이브러리의 응답을 해석할 수 없습니다.", 1},
    {"a newer intake wins over a slower older one", "", {"slow4.wav"}, {"t3.wav"}, 2, "1 2 3", 3, ""},
    {"a hung import at the limit", "limit", {"hang.wav"}, {}, 1, "1 2", 0,
     "음원을 여는 데 시간이 너무 오래 걸렸습니다.", 1},
    {"the panel cancelled", "cancel", {"t3.wav"}, {}, 0, "1 2", 0, kHeld},
    {"two files chosen in the panel", "panel", {"t3.wav", "t4.wav"}, {}, 1, "1 2 3 4", 3, ""},
};
// clang-format on

// `program`: "ffmpeg", "slow" (ffmpeg after 1 s) or a path; `then`: "changed"
// (another track current at once) or "renamed" (by a catalog refresh).
struct CoverCase {
    const char *name, *file, *art, *program, *then;
    int width; // of the picture shown; 0: the default cover stays
};
// clang-format off
const std::vector<CoverCase> kCovers{
    {"the embedded picture, 300 wide", "pic.flac", "", "ffmpeg", "", 300},
    {"no picture, an http address", "plain.flac", "http://127.0.0.1/c.png", "ffmpeg", "", 0},
    {"no picture, an https address", "plain.flac", "https://covers.test/c.png", "ffmpeg", "", 1200},
    {"ffmpeg missing: no download either", "plain.flac", "https://covers.test/c.png", "/nonexistent/ffmpeg", "", 0},
    {"another track started meanwhile", "pic.flac", "", "slow", "changed", 0},
    {"a catalog refresh renaming the track", "pic.flac", "", "ffmpeg", "renamed", 300},
    {"taken out into the private work folder", "pic.flac", "", "noted", "", 300},
};
// clang-format on

// Two requests and one of a new service for a file, then one more after the
// file changed: the cover file seeded first unless empty; the width of every
// answer (0: none), the program runs before and after the change and what the
// covers folder holds at the end ("jpg", "none" or nothing). "counted" runs
// ffmpeg; "cut" dies half-way through ffmpeg's output; "unread" runs it on a
// file that is not there (a read error); "full" on a device without room.
// clang-format off
struct ExtractCase { const char *name, *source, *program; QByteArray seed; int width, runs, runsAfter; const char* left; bool oldMark = false; bool slowOpen = false; };
const std::vector<ExtractCase> kExtract = {
    {"picture extracted once, then read", "pic.flac", "counted", {}, 300, 1, 1, "jpg"},
    {"no picture: remembered across starts until the file changes", "plain.flac", "counted", {}, 0, 1, 2, "none"},
    {"extraction cut short leaves no cover and no mark", "pic.flac", "cut", {}, 0, 3, 4, ""},
    {"a cover file that does not load is extracted again", "pic.flac", "counted", "not a jpeg", 300, 1, 1, "jpg"},
    {"a read error is tried again at every request", "pic.flac", "unread", {}, 0, 3, 4, ""},
    {"no room for the cover: tried again at every request", "pic.flac", "full", {}, 0, 3, 4, ""},
    {"a mark an older run wrote after any failure is not believed", "pic.flac", "counted", {}, 300, 1, 1, "jpg", true},
    // Its open by FFmpeg outlasted its deadline first (9,001 tags are few
    // enough to read, but not within it): no verdict on the file.
    {"an .m4a after one slow open: its picture extracted", "pic.m4a", "counted", {}, 300, 1, 1, "jpg", false, true},
};
// Albums 0 … n-1 of one artist, covers of distinct colours for `pictured`;
// the album in the top-left, top-right, bottom-left and bottom-right cell.
struct MosaicCase { const char* name; int albums; QList<int> pictured, cells; };
const std::vector<MosaicCase> kMosaic = {
    {"five albums show the first four", 5, {0, 1, 2, 3, 4}, {0, 1, 2, 3}},
    {"two: a column each", 2, {0, 1}, {0, 1, 0, 1}},
    {"three: the first again bottom right", 3, {0, 1, 2}, {0, 1, 2, 0}},
    {"one pictured album fills the square", 3, {1}, {1, 1, 1, 1}},
    {"none pictured: no image", 2, {}, {}},
};
// clang-format on
const QColor kColours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta};

struct Answer {
    bool came = false, atOnce = false, onMainThread = false;
    QImage image;
};

// Asks for a tile's cover and waits for the answer.
Answer ask(App& app, const AlbumItem& item) {
    auto a = std::make_shared<Answer>();
    bool returned = false;
    app.groupCover(item, [a, &returned](const QImage& image) {
        *a = {true, !returned, QThread::currentThread() == qApp->thread(), image};
    });
    returned = true;
    (void)QTest::qWaitFor([&] { return a->came; }, 20000);
    return *a;
}

AlbumItem albumOf(const QString& file, const QString& album, int id = 1) {
    const Track t{id, test::tempFile(file), "t", "Lumen", album, 1, {}};
    return AlbumItem{App::albumKey(t), album, t.artist, {t}, "album", {}};
}

void settle(App& app) {
    for (int i = 0; i < 3; ++i)
        QVERIFY(test::readersSettled({app.intakeQueue.get()}));
}

QStringList inTemp(const QStringList& names) {
    QStringList out;
    for (const QString& n : names)
        out << (n.contains(u':') ? QString(n).replace("$T", QDir::tempPath()) : test::tempFile(n));
    return out;
}

} // namespace

class IntakeAndCoverTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        const QString pic = test::tempFile("cover.png");
        // Long enough that a track cannot end (and the next one start) while a
        // row waits for the pool on a loaded machine.
        const QStringList tone{"-f", "lavfi", "-i", "sine=duration=60"};
        for (const char* name : {"t1.wav", "t3.wav", "t4.wav", "slow4.wav"})
            QVERIFY(test::runFfmpeg(tone + QStringList{test::tempFile(name)}));
        QVERIFY(test::runFfmpeg(tone + QStringList{test::tempFile("plain.flac")}));
        for (const char* colour : {"red", "blue"}) {
            const QString png = test::tempFile(colour + QString(".png"));
            QVERIFY(
                test::runFfmpeg({"-f", "lavfi", "-i", QString("color=c=%1:s=1200x1200").arg(colour),
                                 "-frames:v", "1", png}));
            QVERIFY(test::runFfmpeg({"-i", test::tempFile("plain.flac"), "-i", png, "-map", "0:a",
                                     "-map", "1:v", "-c:a", "copy", "-c:v", "png", "-disposition:v",
                                     "attached_pic", test::tempFile(colour + QString(".flac"))}));
        }
        QVERIFY(test::runFfmpeg({"-i", test::tempFile("plain.flac"), "-i", test::tempFile("red.png"),
                                 "-map", "0:a", "-map", "1:v", "-c:a", "aac", "-c:v", "png",
                                 "-disposition:v", "attached_pic", test::tempFile("pic-plain.m4a")}));
        QVERIFY(test::m4aWithTags(test::tempFile("pic-plain.m4a"), test::tempFile("pic.m4a"), 9000));
        QVERIFY(QFile::copy(test::tempFile("red.png"), pic) &&
                QFile::copy(test::tempFile("red.flac"), test::tempFile("pic.flac")));
        const QByteArray count = "echo >> '" + test::tempFile("runs").toUtf8() + "'\n";
        const QByteArray ffmpeg = "'" + toolPath("ffmpeg").toUtf8() + "' \"$@\"\n";
        QVERIFY(test::writeExecutable(test::tempFile("counted"), count + "exec " + ffmpeg));
        const QByteArray cut =
            "for o; do :; done\ntruncate -s $(($(stat -c%s \"$o\") / 2)) \"$o\"\n";
        QVERIFY(
            test::writeExecutable(test::tempFile("cut"), count + ffmpeg + cut + "kill -9 $$\n"));
        // Notes the mode and path of its output as ffmpeg finds it.
        QVERIFY(test::writeExecutable(test::tempFile("noted"),
                                      "for o; do :; done\nstat -c '%a %n' \"$o\" >> '" +
                                          test::tempFile("noted.txt").toUtf8() + "'\nexec " +
                                          ffmpeg));
        const QByteArray head = count + "exec '" + toolPath("ffmpeg").toUtf8() + "' ";
        const QByteArray options = "\"$1\" \"$2\" \"$3\" \"$4\" ";
        const QByteArray picture = "\"$6\" \"$7\" \"$8\" \"$9\" \"${10}\" \"${11}\" ";
        QVERIFY(test::writeExecutable(test::tempFile("unread"),
                                      head + options + "\"$5.gone\" " + picture + "\"${12}\"\n"));
        QVERIFY(test::writeExecutable(test::tempFile("full"), head + options + "\"$5\" " + picture +
                                                                  "-f mjpeg /dev/full\n"));
        QVERIFY(
            test::writeExecutable(test::tempFile("slow"),
                                  "sleep 1\nexec '" + toolPath("ffmpeg").toUtf8() + "' \"$@\"\n"));
    }

    void intake_data() { test::addRows(kCases); }
    void intake() {
        const auto& [name, how, first, second, steps, rows, plays, status, unopened] =
            test::currentCase(kCases);
        const test::LogLines log{QString()}; // the warnings, as standard error gets them
        const QByteArrayView way(how);       // compared by text, never by pointer
        const QString python = way == "nopython" ? QStringLiteral("/nonexistent/python3")
                                                 : pythonPath().value_or("/usr/bin/python3");
        test::LaunchedApp l(
            "ko", [](App&) { test::storeMaxQualityOff(); }, platform::makeSimulatedPlatform());
        App& app = *l.app;
        app.status->setClock([] { return qint64(0); }); // the line's turns stand still
        test::fakes(app).tools.backendCommand = [python] {
            return QStringList{python, kFakeImport};
        };
        test::fakes(app).clock.importLimitMs = way == "limit" ? 1000 : 0;
        app.library.rows = {Track{1, "/m/1.flac", "one", {}, {}, 1, {}},
                            Track{2, "/m/2.flac", "two", {}, {}, 1, {}}};
        app.browser.selectedFolder = "/m";
        UserDefaults().set(keys::kSelectedFolder, "/m");
        app.search->setText("zzz");
        QFile::remove(app.catalogURL());
        app.status->setStringValue(kHeld);
        const quint64 generation = app.library.fileOpenGeneration;

        if (way == "panel" || way == "cancel") {
            test::fakes(app).desktop.openPanel =
                [&](QFileDialog& panel) -> std::optional<QStringList> {
                // Existing files, several at once, one filter of audio types.
                const QString f = panel.nameFilters().join('|');
                const bool audio = f.contains("*.flac") && f.contains("*.mp3") && !f.contains('|');
                if (way == "cancel" || panel.fileMode() != QFileDialog::ExistingFiles || !audio)
                    return std::nullopt;
                return inTemp(first);
            };
            app.chooseAudioFile();
        } else {
            app.openAudioFiles(inTemp(first));
        }
        if (!second.isEmpty())
            app.openAudioFiles(inTemp(second));
        settle(app);
        int lines = 0;
        for (const test::LogLine& line : test::LogLines::ours())
            lines += line.type == QtWarningMsg && line.text.contains("did not open");
        QCOMPARE(lines, unopened);

        QStringList ids;
        for (const Track& t : app.library.rows)
            ids << QString::number(t.id);
        QCOMPARE(ids.join(' '), rows);
        QCOMPARE(app.library.fileOpenGeneration, generation + quint64(steps));
        if (plays) {
            const Track& current = *app.playback.current;
            QCOMPARE(current.id, plays);
            QVERIFY(app.isPlaying());
            QCOMPARE(current.path, test::tempFile(current.title + ".wav"));
            QCOMPARE(UserDefaults().string(keys::kSelectedFolder), QString());
            QCOMPARE(app.browser.selectedFolder + app.search->text(), QString());
            QVERIFY(test::readFile(app.catalogURL()).contains(current.path.toUtf8()));
            return;
        }
        QVERIFY(!app.playback.current && !QFile::exists(app.catalogURL()));
        // A program that cannot start is described by its cause, in our own words.
        const QString told =
            status == "<launch>" ? failureKorean(Failure::ProgramMissing) + python : status;
        QCOMPARE(app.status->stringValue(), told);
        // A failure keeps its turn against the list's count when the
        // catalog comes (a first start's files are opened before it).
        if (unopened > 0) {
            app.filter(false);
            QCOMPARE(app.status->stringValue(), told);
        }
    }

    void cover_data() { test::addRows(kCovers); }
    void cover() {
        const auto& [name, file, art, program, then, width] = test::currentCase(kCovers);
        test::LaunchedApp l("ko");
        App& app = *l.app;
        test::fakes(app).tools.coverProgram = [p = QString(program)] {
            return p == "ffmpeg"                 ? toolPath(p)
                   : p == "slow" || p == "noted" ? test::tempFile(p)
                                                 : p;
        };
        int fetched = 0;
        test::fakes(app).tools.fetchCover = [&fetched](const QUrl&, auto done) {
            ++fetched;
            done(test::readFile(test::tempFile("cover.png")));
        };
        const Track track{7, test::tempFile(file), "제목", "가수", "앨범", 1, art};
        app.playback.current = track;
        app.art->setImage(QImage());

        app.loadArt(track);
        QCOMPARE(app.art->image(), App::defaultCover()); // at once
        if (QString(then) == "changed")
            app.playback.current = Track{8, test::tempFile("plain.flac"), "다음", {}, {}, 1, {}};
        settle(app);
        if (QString(then) == "renamed") { // its picture cleared first
            app.art->setImage(QImage());
            const Track renamed{7, track.path, "새 제목", "가수", "앨범", 1, art};
            test::ReplyPipe backend(app);
            QVERIFY(backend.send(
                test::FakeBackend::line(Library{std::vector{renamed}, {}, {}}).toUtf8()));
            settle(app);
        }
        if (width)
            QCOMPARE(app.art->image().width(), width);
        else
            QCOMPARE(app.art->image(), App::defaultCover());
        QCOMPARE(fetched, QString(art).startsWith("https:") && width ? 1 : 0);
        QCOMPARE(QDir::temp().entryList({"Quavelark-art-*"}, QDir::Files), QStringList());
        if (QString(program) == "noted") {
            const QString noted = QString::fromUtf8(test::readFile(test::tempFile("noted.txt")));
            QVERIFY(QFile::remove(test::tempFile("noted.txt")));
            QVERIFY2(noted.startsWith("600 " + app.workDir() + "/Quavelark-art-"),
                     qPrintable(noted));
            QCOMPARE(test::ourFiles({"Quavelark-art-*"}), QStringList());
        }
    }

    void extraction_data() { test::addRows(kExtract); }
    void extraction() {
        const ExtractCase& c = test::currentCase(kExtract);
        QFile::remove(test::tempFile("runs"));
        const AlbumItem item = albumOf(c.source, "Harbor");
        platform::Platform plat;
        const auto service = [&] {
            auto app = std::make_unique<App>(plat, test::fakeServices());
            test::fakes(*app).tools.coverProgram = [&c] { return test::tempFile(c.program); };
            return app;
        };
        auto app = service();
        const QString folder = app->coverFolder();
        QDir(folder).removeRecursively();
        const QString file = folder + "/" + coverFileName(item.key);
        if (!c.seed.isEmpty())
            QVERIFY(QDir().mkpath(folder) && test::writeFile(file, c.seed));
        if (c.oldMark) { // the file's path, size and modification time, as such marks hold
            const QFileInfo audio(item.tracks[0].path);
            QVERIFY(QDir().mkpath(folder) &&
                    test::writeFile(
                        file.chopped(4) + ".none",
                        audio.filePath().toUtf8() + '\n' + QByteArray::number(audio.size()) + '\n' +
                            QByteArray::number(audio.lastModified().toMSecsSinceEpoch()) + '\n'));
        }

        if (c.slowOpen) {
            constexpr int kDeadlineMs = 150;
            const auto slow =
                platform::AudioFile::open(item.tracks[0].path, QDeadlineTimer(kDeadlineMs));
            QVERIFY2(!slow.file, "read whole within the deadline: no open outlasted it");
        }
        const Answer first = ask(*app, item);
        QVERIFY(first.came && !first.atOnce && first.onMainThread);
        QCOMPARE(first.image.width(), c.width);
        const Answer second = ask(*app, item);
        QCOMPARE(second.atOnce, c.width > 0); // only a picture is kept
        QCOMPARE(second.image.width(), c.width);
        app.reset();
        QCOMPARE(ask(*service(), item).image.width(), c.width);
        const auto runs = [] { return test::readFile(test::tempFile("runs")).count('\n'); };
        QCOMPARE(runs(), c.runs);
        QFile audio(item.tracks[0].path);
        QVERIFY(audio.open(QIODevice::ReadWrite) &&
                audio.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                  QFileDevice::FileModificationTime));
        audio.close();
        QCOMPARE(ask(*service(), item).image.width(), c.width);
        QCOMPARE(runs(), c.runsAfter);
        QCOMPARE(QImage(file).size(), c.width ? QSize(300, 300) : QSize(0, 0));
        // Nothing of an extraction stays behind but its cover or its mark.
        const QString left(c.left);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 left.isEmpty()
                     ? QStringList()
                     : QStringList{file.section('/', -1).section('.', 0, 0) + '.' + left});
    }

    void mosaic_data() { test::addRows(kMosaic); }
    void mosaic() {
        const MosaicCase& c = test::currentCase(kMosaic);
        platform::Platform plat;
        App app(plat, test::fakeServices());
        test::fakes(app).tools.coverProgram = [] { return QStringLiteral("/nonexistent/ffmpeg"); };
        std::vector<Track> tracks;
        for (int i = 0; i < c.albums; ++i) {
            // Names against the order, so key order is not track order.
            const AlbumItem album = albumOf(QString::number(i), QString("A%1").arg(9 - i), i);
            tracks.push_back(album.tracks[0]);
            QImage cover(300, 300, QImage::Format_RGB32);
            cover.fill(kColours[i]);
            if (c.pictured.contains(i))
                app.browser.coverCache.insert(album.key, cover);
        }
        // An artist tile and a genre tile of the same albums: two entries.
        for (const char* kind : {"artist", "genre"}) {
            const AlbumItem tile{QString(kind) + ":lumen", "Lumen", "Lumen", tracks, kind, {}};
            const Answer a = ask(app, tile);
            QCOMPARE(a.atOnce, c.pictured.size() == c.albums); // all cached: drawn at once
            // Kept under a key naming its albums, so other tracks draw anew.
            QCOMPARE(app.browser.coverCache.contains(mosaicKey(tile.key, mosaicAlbums(tile))),
                     !c.cells.isEmpty());
            QCOMPARE(a.image.size(), c.cells.isEmpty() ? QSize(0, 0) : QSize(300, 300));
            for (int cell = 0; cell < c.cells.size(); ++cell)
                QCOMPARE(a.image.pixel(75 + cell % 2 * 150, 75 + cell / 2 * 150),
                         kColours[c.cells[cell]].rgb());
        }
    }

    // Two rows of two albums show the covers ffmpeg took out of their files.
    void titleCellsShowExtractedCovers() {
        const AlbumItem red = albumOf("pic.flac", "Harbor"), blue = albumOf("blue.flac", "B", 2);
        test::LaunchedApp l("en");
        App& app = *l.app;
        QDir(app.coverFolder()).removeRecursively();
        app.library.rows = {red.tracks[0], blue.tracks[0]};
        app.filter();
        app.views.table->viewport()->grab(); // the paint asks for the covers
        QTRY_VERIFY_WITH_TIMEOUT(app.browser.coverCache.contains(red.key) &&
                                     app.browser.coverCache.contains(blue.key),
                                 20000);
        const QImage shot = app.views.table->viewport()->grab().toImage();
        const auto thumbnail = [&](int row) {
            const QRect cell = app.views.table->visualRect(
                app.views.tableModel->index(row, app.views.tableModel->columnOf("title")));
            return shot.pixelColor(cell.left() + TrackCellDelegate::kThumbnail / 2,
                                   cell.center().y());
        };
        QVERIFY(thumbnail(0).red() > 200 && thumbnail(0).blue() < 60);
        QVERIFY(thumbnail(1).blue() > 200 && thumbnail(1).red() < 60);
    }
};

QL_TEST_MAIN(IntakeAndCoverTest)
#include "IntakeAndCoverTest.moc"
