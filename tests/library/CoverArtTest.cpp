// The transport bar's cover with the real ffmpeg, on FLAC files made here
// with and without an embedded 1000 × 1000 picture; downloads are answered by
// a stand-in fetch.
#include "app/App.h"
#include "library/ToolPaths.h"
#include "ui/ClickImageView.h"

#include "CaseRows.h"
#include "FakeBackend.h"
#include "LaunchedApp.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QBuffer>
#include <QDir>
#include <QThreadPool>

using namespace ql;

namespace {

enum class Then { None, TrackChanged, CatalogRenames };

struct Case {
    const char* name;
    const char* file; // "pic.flac" holds a picture, "plain.flac" none
    QString art;
    QString program = "ffmpeg"; // "slow": ffmpeg after a pause; else a path
    Then then = Then::None;
    int width = 0; // of the picture shown; 0: the default cover stays
};

const std::vector<Case> kCases{
    {.name = "the embedded picture, 300 wide", .file = "pic.flac", .width = 300},
    {.name = "no picture, an http address: default cover",
     .file = "plain.flac",
     .art = "http://127.0.0.1/c.png"},
    {.name = "no picture, an https address: the download",
     .file = "plain.flac",
     .art = "https://covers.test/c.png",
     .width = 40},
    {.name = "ffmpeg missing: no download either",
     .file = "plain.flac",
     .art = "https://covers.test/c.png",
     .program = "/nonexistent/ffmpeg"},
    {.name = "another track started meanwhile: not shown",
     .file = "pic.flac",
     .program = "slow",
     .then = Then::TrackChanged},
    {.name = "a catalog refresh renaming the track shows it again",
     .file = "pic.flac",
     .then = Then::CatalogRenames,
     .width = 300},
};

QByteArray png(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void settle() {
    for (int i = 0; i < 3; ++i) {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }
}

QStringList leftovers() {
    return QDir::temp().entryList({"Quavelark-art-*"}, QDir::Files);
}

} // namespace

class CoverArtTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        const QString pic = test::tempFile("cover.png");
        QVERIFY(test::runFfmpeg(
            {"-f", "lavfi", "-i", "color=c=blue:s=1000x1000", "-frames:v", "1", pic}));
        QVERIFY(test::runFfmpeg(
            {"-f", "lavfi", "-i", "sine=duration=1", test::tempFile("plain.flac")}));
        QVERIFY(test::runFfmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-i", pic, "-map", "0:a",
                                 "-map", "1:v", "-c:v", "png", "-disposition:v", "attached_pic",
                                 test::tempFile("pic.flac")}));
        QVERIFY(
            test::writeExecutable(test::tempFile("slow-ffmpeg"),
                                  "sleep 1\nexec '" + toolPath("ffmpeg").toUtf8() + "' \"$@\"\n"));
    }

    void cover_data() { test::addRows(kCases); }
    void cover() {
        const Case& c = test::currentCase(kCases);
        const QString program = c.program == "ffmpeg" ? toolPath("ffmpeg")
                                : c.program == "slow" ? test::tempFile("slow-ffmpeg")
                                                      : c.program;
        QList<QUrl> fetched;
        test::LaunchedApp l("ko", [&](App& app) {
            app.seams.coverProgram = [program] { return program; };
            app.seams.fetchCover = [&fetched](const QUrl& url, auto done) {
                fetched << url;
                done(png(40, 20));
            };
        });
        App& app = *l.app;
        const Track track{7, test::tempFile(c.file), "제목", "가수", "앨범", 1, c.art};
        app.playback.current = track;
        app.art->setImage(QImage());

        app.loadArt(track);
        QCOMPARE(app.art->image(), App::defaultCover()); // at once
        if (c.then == Then::TrackChanged)
            app.playback.current = Track{8, test::tempFile("plain.flac"), "다음", {}, {}, 1, {}};
        settle();
        if (c.then == Then::CatalogRenames) {
            app.art->setImage(QImage());
            Track renamed = track;
            renamed.title = "새 제목";
            app.receive(test::FakeBackend::line(Library{std::vector{renamed}, {}, {}}).toUtf8());
            QCOMPARE(app.playback.current->title, QString("새 제목"));
            settle();
        }

        if (c.width)
            QCOMPARE(app.art->image().width(), c.width);
        else
            QCOMPARE(app.art->image(), App::defaultCover());
        QCOMPARE(fetched.size(), c.art.startsWith("https:") && c.program == "ffmpeg" ? 1 : 0);
        QCOMPARE(leftovers(), QStringList());
    }
};

QL_TEST_MAIN(CoverArtTest)
#include "CoverArtTest.moc"
