// File intake on a launched window and the simulated device, files named for
// what support/fake_import.py answers; the transport bar's cover with the real
// ffmpeg on FLAC files with and without an embedded 1000 × 1000 picture.
#include "app/App.h"
#include "app/FailureText.h"
#include "app/UserDefaults.h"
#include "library/BackendCommand.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "platform/sim/SimPlatform.h"
#include "ui/ClickImageView.h"
#include "ui/StatusLabel.h"

#include "CaseRows.h"
#include "FakeBackend.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QFileDialog>
#include <QLineEdit>
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
};
// clang-format off
const std::vector<Case> kCases{
    {"addresses only: nothing at all", "", {"https://h/t3.wav", "ftp://h/t4.wav"}, {}, 0, "1 2", 0,
     kHeld},
    {"a good file URL", "", {"file://$T/t3.wav"}, {}, 1, "1 2 3", 3, ""},
    {"a known id, a failure, a new id", "", {"t1.wav", "bad.wav", "t4.wav"}, {}, 1, "1 2 4", 1, ""},
    {"all fail, the last without an error", "", {"bad.wav", "empty.wav"}, {}, 1, "1 2", 0,
     "음원을 열지 못했습니다."},
    {"an interpreter that cannot start", "nopython", {"t3.wav"}, {}, 1, "1 2", 0, "<launch>"},
    {"a log line before the answer", "", {"log5.wav"}, {}, 1, "1 2", 0,
     "음원 라이브러리의 응답을 해석할 수 없습니다."},
    {"a newer intake wins over a slower older one", "", {"slow4.wav"}, {"t3.wav"}, 2, "1 2 3", 3, ""},
    {"a hung import at the limit", "limit", {"hang.wav"}, {}, 1, "1 2", 0,
     "음원을 여는 데 시간이 너무 오래 걸렸습니다."},
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
    {"no picture, an https address", "plain.flac", "https://covers.test/c.png", "ffmpeg", "", 1000},
    {"ffmpeg missing: no download either", "plain.flac", "https://covers.test/c.png", "/nonexistent/ffmpeg", "", 0},
    {"another track started meanwhile", "pic.flac", "", "slow", "changed", 0},
    {"a catalog refresh renaming the track", "pic.flac", "", "ffmpeg", "renamed", 300},
};
// clang-format on

void settle() {
    for (int i = 0; i < 3; ++i) {
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
    }
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
        const QStringList tone{"-f", "lavfi", "-i", "sine=duration=1"};
        for (const QString& name : {"t1.wav", "t3.wav", "t4.wav", "slow4.wav"})
            QVERIFY(test::runFfmpeg(tone + QStringList{test::tempFile(name)}));
        QVERIFY(test::runFfmpeg({"-f", "lavfi", "-i", "color=s=1000x1000", "-frames:v", "1", pic}));
        QVERIFY(test::runFfmpeg(tone + QStringList{test::tempFile("plain.flac")}));
        QVERIFY(test::runFfmpeg(tone + QStringList{"-i", pic, "-map", "0:a", "-map", "1:v", "-c:v",
                                                   "png", "-disposition:v", "attached_pic",
                                                   test::tempFile("pic.flac")}));
        QVERIFY(
            test::writeExecutable(test::tempFile("slow"),
                                  "sleep 1\nexec '" + toolPath("ffmpeg").toUtf8() + "' \"$@\"\n"));
    }

    void intake_data() { test::addRows(kCases); }
    void intake() {
        const auto& [name, how, first, second, steps, rows, plays, status] =
            test::currentCase(kCases);
        const QByteArrayView way(how); // compared by text, never by pointer
        const QString python = way == "nopython" ? QStringLiteral("/nonexistent/python3")
                                                 : pythonPath().value_or("/usr/bin/python3");
        test::LaunchedApp l(
            "ko", [](App&) { test::storeMaxQualityOff(); }, platform::makeSimulatedPlatform());
        App& app = *l.app;
        app.seams.backendCommand = [python] { return QStringList{python, kFakeImport}; };
        app.seams.importLimitMs = way == "limit" ? 1000 : 0;
        app.library.rows = {Track{1, "/m/1.flac", "one", {}, {}, 1, {}},
                            Track{2, "/m/2.flac", "two", {}, {}, 1, {}}};
        app.browser.selectedFolder = "/m";
        UserDefaults().set(keys::kSelectedFolder, "/m");
        app.search->setText("zzz");
        QFile::remove(app.catalogURL());
        app.status->setStringValue(kHeld);
        const quint64 generation = app.library.fileOpenGeneration;

        if (way == "panel" || way == "cancel") {
            app.seams.openPanel = [&](QFileDialog& panel) -> std::optional<QStringList> {
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
        settle();

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
        QCOMPARE(app.status->stringValue(),
                 status == "<launch>" ? failureKorean(Failure::ProgramMissing) + python : status);
    }

    void cover_data() { test::addRows(kCovers); }
    void cover() {
        const auto& [name, file, art, program, then, width] = test::currentCase(kCovers);
        test::LaunchedApp l("ko");
        App& app = *l.app;
        app.seams.coverProgram = [p = QString(program)] {
            return p == "ffmpeg" ? toolPath(p) : p == "slow" ? test::tempFile(p) : p;
        };
        int fetched = 0;
        app.seams.fetchCover = [&fetched](const QUrl&, auto done) {
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
        settle();
        if (QString(then) == "renamed") { // its picture cleared first
            app.art->setImage(QImage());
            const Track renamed{7, track.path, "새 제목", "가수", "앨범", 1, art};
            app.receive(test::FakeBackend::line(Library{std::vector{renamed}, {}, {}}).toUtf8());
            settle();
        }
        if (width)
            QCOMPARE(app.art->image().width(), width);
        else
            QCOMPARE(app.art->image(), App::defaultCover());
        QCOMPARE(fetched, QString(art).startsWith("https:") && width ? 1 : 0);
        QCOMPARE(QDir::temp().entryList({"Quavelark-art-*"}, QDir::Files), QStringList());
    }
};

QL_TEST_MAIN(IntakeAndCoverTest)
#include "IntakeAndCoverTest.moc"
