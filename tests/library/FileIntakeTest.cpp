// File intake on a launched window and the simulated device: files named for
// what the stand-in import (support/fake_import.py) answers, given directly
// or through the open panel.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "library/BackendCommand.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"
#include "platform/sim/SimPlatform.h"
#include "ui/StatusLabel.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QThreadPool>

#include <sndfile.h>

using namespace ql;

namespace {

const QString kScript = QStringLiteral(QL_TEST_SUPPORT_DIR "/fake_import.py");

struct Case {
    const char* name;
    QStringList first;              // file names in the temporary folder, or addresses
    QStringList second;             // a second intake, started before the first one's tail
    int steps = 1;                  // generation steps
    std::vector<qint64> rows{1, 2}; // catalog ids after (before: 1, 2)
    std::optional<qint64> plays;
    QString status; // after a tail that plays nothing ("<launch>": the launch error)
    bool viaPanel = false;
    bool cancel = false;
    int limitMs = 0;
    QString python;
};

const QString kHeld = QStringLiteral("잠시");

const std::vector<Case> kCases{
    {.name = "only addresses of other schemes: nothing at all",
     .first = {"https://h/t3.wav", "ftp://h/t4.wav"},
     .steps = 0,
     .status = kHeld},
    {.name = "one good file is appended and plays",
     .first = {"t3.wav"},
     .rows = {1, 2, 3},
     .plays = 3},
    {.name = "a file URL counts as its file",
     .first = {"file://$T/t3.wav"},
     .rows = {1, 2, 3},
     .plays = 3},
    {.name = "a known id replaces its row in place", .first = {"t1.wav"}, .plays = 1},
    {.name = "the second of three fails: the others are taken, the first plays",
     .first = {"t3.wav", "bad.wav", "t4.wav"},
     .rows = {1, 2, 3, 4},
     .plays = 3},
    {.name = "all fail, the last without an error",
     .first = {"bad.wav", "empty.wav"},
     .status = "음원을 열지 못했습니다."},
    {.name = "the last error is shown as the backend wrote it",
     .first = {"empty.wav", "bad.wav"},
     .status = "읽을 수 없는 파일: bad.wav"},
    {.name = "an interpreter that cannot start",
     .first = {"t3.wav"},
     .status = "<launch>",
     .python = "/nonexistent/python3"},
    {.name = "a log line before the answer fails the file",
     .first = {"log5.wav"},
     .status = "음원 라이브러리의 응답을 해석할 수 없습니다."},
    {.name = "a newer intake wins over a slower older one",
     .first = {"slow4.wav"},
     .second = {"t3.wav"},
     .steps = 2,
     .rows = {1, 2, 3},
     .plays = 3},
    {.name = "a hung import is cut off at the limit",
     .first = {"hang.wav"},
     .status = "음원을 여는 데 시간이 너무 오래 걸렸습니다.",
     .limitMs = 1000},
    {.name = "the panel cancelled: nothing",
     .first = {"t3.wav"},
     .steps = 0,
     .status = kHeld,
     .viaPanel = true,
     .cancel = true},
    {.name = "two files chosen in the panel: one intake",
     .first = {"t3.wav", "t4.wav"},
     .rows = {1, 2, 3, 4},
     .plays = 3,
     .viaPanel = true},
};

QString inTemp(const QString& entry) {
    return entry.contains(u':') ? QString(entry).replace("$T", QDir::tempPath())
                                : test::tempFile(entry);
}

QStringList entries(const QStringList& names) {
    QStringList out;
    for (const QString& n : names)
        out << inTemp(n);
    return out;
}

// Every import and its tail have run.
void settle() {
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

} // namespace

class FileIntakeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (const QString& name : {"t1.wav", "t3.wav", "t4.wav", "slow4.wav"}) {
            test::AudioShape shape;
            shape.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            QVERIFY(test::writeAudio(test::tempFile(name), shape));
        }
    }

    void intake_data() { test::addRows(kCases); }
    void intake() {
        const Case& c = test::currentCase(kCases);
        const QString python =
            c.python.isEmpty() ? pythonPath().value_or("/usr/bin/python3") : c.python;
        test::LaunchedApp l(
            "ko",
            [&](App& app) {
                app.seams.backendCommand = [python] { return QStringList{python, kScript}; };
                app.seams.importLimitMs = c.limitMs;
            },
            platform::makeSimulatedPlatform());
        App& app = *l.app;
        app.library.rows = {Track{1, "/m/1.flac", "one", {}, {}, 1, {}},
                            Track{2, "/m/2.flac", "two", {}, {}, 1, {}}};
        app.browser.selectedFolder = "/m";
        UserDefaults().set(keys::kSelectedFolder, "/m");
        app.search->setText("zzz");
        QFile::remove(app.catalogURL());
        app.status->setStringValue(kHeld);
        const quint64 generation = app.library.fileOpenGeneration;

        if (c.viaPanel) {
            app.seams.openPanel = [&](QFileDialog& panel) -> std::optional<QStringList> {
                // Existing files, several at once, audio types only.
                [&] {
                    QCOMPARE(panel.fileMode(), QFileDialog::ExistingFiles);
                    const QString filter = panel.nameFilters().value(0);
                    QVERIFY(panel.nameFilters().size() == 1 && filter.contains("*.flac") &&
                            filter.contains("*.mp3") && !filter.contains("*.png"));
                }();
                return c.cancel ? std::nullopt : std::optional(entries(c.first));
            };
            app.chooseAudioFile();
        } else {
            app.openAudioFiles(entries(c.first));
        }
        if (!c.second.isEmpty())
            app.openAudioFiles(entries(c.second));
        settle();

        std::vector<qint64> ids;
        for (const Track& t : app.library.rows)
            ids.push_back(t.id);
        QCOMPARE(ids, c.rows);
        QCOMPARE(app.library.fileOpenGeneration, generation + quint64(c.steps));
        if (c.plays) {
            QCOMPARE(app.playback.current->id, *c.plays);
            QVERIFY(app.isPlaying());
            QCOMPARE(app.playback.current->path,
                     test::tempFile(app.playback.current->title + ".wav"));
            QCOMPARE(UserDefaults().string(keys::kSelectedFolder), QString());
            QCOMPARE(app.browser.selectedFolder, QString());
            QCOMPARE(app.search->text(), QString());
            QVERIFY(test::readFile(app.catalogURL()).contains(app.playback.current->path.toUtf8()));
        } else {
            QVERIFY(!app.playback.current);
            QVERIFY(!QFile::exists(app.catalogURL()));
            platform::ChildOptions like;
            like.environment = app.backendLaunch().environment;
            const QString status = c.status == "<launch>"
                                       ? platform::runChild(c.python, {}, like).errorText
                                       : c.status;
            QCOMPARE(app.status->stringValue(), status);
        }
    }
};

QL_TEST_MAIN(FileIntakeTest)
#include "FileIntakeTest.moc"
