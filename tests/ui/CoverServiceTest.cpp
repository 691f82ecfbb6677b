// Guards against: covers that are not extracted, are extracted again and
// again, survive half-written, answer on the wrong thread or at the wrong
// time, mosaics laid out wrongly, and rows that never show their cover.
#include "app/App.h"
#include "library/ToolPaths.h"
#include "platform/Platform.h"
#include "ui/AlbumGrouping.h"
#include "ui/TrackCellDelegate.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QThread>

using namespace ql;

namespace {

// A FLAC carrying a 1200 × 1200 picture of `colour` as its attached picture.
bool writePictured(const QString& name, const QColor& colour) {
    QImage pic(1200, 1200, QImage::Format_RGB32);
    pic.fill(colour);
    const QString png = test::tempFile(name + ".png");
    const QString bare = test::tempFile(name + "-bare.flac");
    return pic.save(png) && test::runFfmpeg({"-f", "lavfi", "-i", "sine=duration=0.2", bare}) &&
           test::runFfmpeg({"-i", bare, "-i", png, "-map", "0:a", "-map", "1:v", "-c:a", "copy",
                            "-c:v", "png", "-disposition:v", "attached_pic", test::tempFile(name)});
}

int runsCounted() {
    return int(test::readFile(test::tempFile("runs")).count('\n'));
}

struct Answer {
    bool came = false;
    bool atOnce = false;
    bool onMainThread = false;
    QImage image;
};

// Asks `app` for a tile's cover and waits for the answer.
Answer ask(App& app, const AlbumItem& item) {
    auto answer = std::make_shared<Answer>();
    bool returned = false;
    app.groupCover(item, [answer, &returned](const QImage& image) {
        answer->came = true;
        answer->atOnce = !returned;
        answer->onMainThread = QThread::currentThread() == qApp->thread();
        answer->image = image;
    });
    returned = true;
    if (!QTest::qWaitFor([&] { return answer->came; }, 20000))
        qWarning("no answer");
    return *answer;
}

AlbumItem albumOf(const Track& t) {
    return AlbumItem{App::albumKey(t), t.album, t.artist, {t}, "album", {}};
}

struct ExtractCase {
    const char* name;
    const char* source;  // in the temporary folder
    const char* program; // "ffmpeg" (counted) or "cut" (killed half-way)
    QByteArray seed;     // written as the cover file first, unless empty
    int width;           // of every answer; 0 for none
    int runs;            // over two requests and one of a new service
};

const std::vector<ExtractCase> kExtract = {
    {"picture extracted once, then read", "red.flac", "ffmpeg", {}, 300, 1},
    {"no picture: nothing kept, tried each time", "plain.flac", "ffmpeg", {}, 0, 3},
    {"extraction cut short leaves no cover", "red.flac", "cut", {}, 0, 3},
    {"a cover file that does not load is extracted again", "red.flac", "ffmpeg", "not a jpeg", 300,
     1},
};

// Tracks on albums "A0", "A1", … by one artist: covers of distinct colours
// for the albums of `pictured`, none for the others.
struct MosaicCase {
    const char* name;
    int albums;
    QList<int> pictured;
    QList<int> cells; // album shown in the top-left, top-right, bottom-left,
                      // bottom-right cell; empty for no image
};

const std::vector<MosaicCase> kMosaic = {
    {"five albums show the first four", 5, {0, 1, 2, 3, 4}, {0, 1, 2, 3}},
    {"two: a column each", 2, {0, 1}, {0, 1, 0, 1}},
    {"three: the first again bottom right", 3, {0, 1, 2}, {0, 1, 2, 0}},
    {"one pictured album fills the square", 3, {1}, {1, 1, 1, 1}},
    {"none pictured: no image", 2, {}, {}},
};

const QColor kColours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta};

} // namespace

class CoverServiceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(writePictured("red.flac", Qt::red));
        QVERIFY(writePictured("blue.flac", Qt::blue));
        QVERIFY(test::runFfmpeg(
            {"-f", "lavfi", "-i", "sine=duration=0.2", test::tempFile("plain.flac")}));
        QImage whole(300, 300, QImage::Format_RGB32);
        whole.fill(Qt::red);
        QVERIFY(whole.save(test::tempFile("whole.jpg"), nullptr, 100));
        const QByteArray count = "echo >> '" + test::tempFile("runs").toUtf8() + "'\n";
        QVERIFY(
            test::writeExecutable(test::tempFile("ffmpeg"),
                                  count + "exec '" + toolPath("ffmpeg").toUtf8() + "' \"$@\"\n"));
        // Writes half a JPEG where ffmpeg would write it, then dies.
        QVERIFY(test::writeExecutable(test::tempFile("cut"),
                                      count + "for out; do :; done\nhead -c 3000 '" +
                                          test::tempFile("whole.jpg").toUtf8() +
                                          "' > \"$out\"\nkill -9 $$\n"));
    }

    void extraction_data() { test::addRows(kExtract); }
    void extraction() {
        const ExtractCase& c = test::currentCase(kExtract);
        QFile::remove(test::tempFile("runs"));
        const Track track{1, test::tempFile(c.source), "t", "Lumen", "Harbor", 1, {}};
        const AlbumItem item = albumOf(track);
        platform::Platform plat;
        const auto service = [&] {
            auto app = std::make_unique<App>(plat);
            app->seams.coverProgram = [&c] { return test::tempFile(c.program); };
            return app;
        };
        auto app = service();
        const QString folder = app->coverFolder();
        QDir(folder).removeRecursively();
        const QString file = folder + "/" + coverFileName(item.key);
        if (!c.seed.isEmpty())
            QVERIFY(QDir().mkpath(folder) && test::writeFile(file, c.seed));

        const Answer first = ask(*app, item);
        QVERIFY(first.came && !first.atOnce && first.onMainThread);
        QCOMPARE(first.image.width(), c.width);
        const Answer second = ask(*app, item);
        QCOMPARE(second.atOnce, c.width > 0); // only a picture is kept
        QCOMPARE(second.image.width(), c.width);
        app.reset();
        const Answer fresh = ask(*service(), item);
        QCOMPARE(fresh.image.width(), c.width);
        QCOMPARE(runsCounted(), c.runs);
        QCOMPARE(QFileInfo::exists(file), c.width > 0);
        if (c.width > 0)
            QCOMPARE(QImage(file).size(), QSize(300, 300));
        // Nothing of an extraction stays behind but its cover.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), c.width > 0 ? 1 : 0);
    }

    void mosaic_data() { test::addRows(kMosaic); }
    void mosaic() {
        const MosaicCase& c = test::currentCase(kMosaic);
        platform::Platform plat;
        App app(plat);
        app.seams.coverProgram = [] { return QStringLiteral("/nonexistent/ffmpeg"); };
        std::vector<Track> tracks;
        for (int i = 0; i < c.albums; ++i) {
            // Album names against their order, so key order is not track order.
            tracks.push_back(Track{
                i, QString("/m/%1.flac").arg(i), "t", "Lumen", QString("A%1").arg(9 - i), 1, {}});
            if (c.pictured.contains(i)) {
                QImage cover(300, 300, QImage::Format_RGB32);
                cover.fill(kColours[i]);
                app.browser.coverCache.insert(App::albumKey(tracks.back()), cover);
            }
        }
        // An artist tile and a genre tile of the same albums.
        for (const char* kind : {"artist", "genre"}) {
            const AlbumItem tile{QString(kind) + ":lumen", "Lumen", "Lumen", tracks, kind, {}};
            const Answer a = ask(app, tile);
            QCOMPARE(a.atOnce, c.pictured.size() == c.albums); // all cached: drawn at once
            QCOMPARE(app.browser.coverCache.contains(tile.key), !c.cells.isEmpty());
            if (c.cells.isEmpty()) {
                QVERIFY(a.image.isNull());
                continue;
            }
            QCOMPARE(a.image.size(), QSize(300, 300));
            const QPoint centres[] = {{75, 75}, {225, 75}, {75, 225}, {225, 225}};
            for (int cell = 0; cell < 4; ++cell)
                QCOMPARE(a.image.pixel(centres[cell]), kColours[c.cells[cell]].rgb());
        }
    }

    // Two rows of two albums show the covers ffmpeg took out of their files.
    void titleCellsShowExtractedCovers() {
        const Track red{1, test::tempFile("red.flac"), "Red", "Lumen", "Harbor", 1, {}};
        const Track blue{2, test::tempFile("blue.flac"), "Blue", "Lumen", "Night", 1, {}};
        test::LaunchedApp l("en");
        App& app = *l.app;
        QDir(app.coverFolder()).removeRecursively();
        app.library.rows = {red, blue};
        app.filter();
        app.views.table->viewport()->grab(); // the paint asks for the covers
        QTRY_VERIFY_WITH_TIMEOUT(app.browser.coverCache.contains(App::albumKey(red)) &&
                                     app.browser.coverCache.contains(App::albumKey(blue)),
                                 20000);
        QCoreApplication::processEvents(); // the repaint the covers asked for
        const QImage shot = app.views.table->viewport()->grab().toImage();
        const int title = app.views.tableModel->columnOf("title");
        const auto thumbnailCentre = [&](int row) {
            const QRect cell = app.views.table->visualRect(app.views.tableModel->index(row, title));
            return shot.pixelColor(cell.left() + TrackCellDelegate::kThumbnail / 2,
                                   cell.center().y());
        };
        const QColor top = thumbnailCentre(0), bottom = thumbnailCentre(1);
        QVERIFY2(top.red() > 200 && top.blue() < 60, qPrintable(top.name()));
        QVERIFY2(bottom.blue() > 200 && bottom.red() < 60, qPrintable(bottom.name()));
    }
};

QL_TEST_MAIN(CoverServiceTest)
#include "CoverServiceTest.moc"
