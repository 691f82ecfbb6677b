// Guards against: notices and failures lost, shown late, or shown after their cause is gone.
// The status-line notices of the program's own files and the backend's, on a
// simulated rig with the status line on a clock the test moves by hand (the
// tick's turn after every step): a failed save and its retry, a damaged store
// set aside at launch, the backend's reply telling of its own damaged file, a
// file opened as at a start with a file argument (the backend's one-shot
// import), and a track that starts or fails (through the effects render, with
// a stand-in renderer) while a notice is up.
#include "app/App.h"
#include "app/AppPaths.h"
#include "app/JSONStore.h"
#include "app/UserDefaults.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "library/ToolPaths.h"

#include "CaseRows.h"
#include "ReplyPipe.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QThreadPool>

#include <atomic>
#include <cerrno>
#include <optional>

using namespace ql;
using namespace ql::platform;
using test::tempFile;

namespace {

const QString kFailed =
    QStringLiteral("저장 실패: loudness.json (") + qt_error_string(EACCES) + ')';
const QString kSaved = QStringLiteral("저장했습니다: loudness.json");
const QString kDamaged = QStringLiteral("손상된 파일을 따로 보관했습니다: genres.json → ");
const QString kTrackMessage = QStringLiteral("🎛 사운드 효과 적용됨");
const QString kRendering = QStringLiteral("🎛 사운드 효과 적용 중…");
const QString kRenderFailed =
    QStringLiteral("효과 처리에 실패했습니다. 효과를 끄고 다시 시도하세요.");
const QString kBackendDamaged =
    QStringLiteral("손상된 파일을 따로 보관했습니다: added.json → added.json.corrupt-17");
const QString kSilent =
    QStringLiteral("🔇 사용할 수 있는 사운드 장치가 없어 소리 없이 재생합니다 (시뮬레이션 출력).");
const QString kProgress = QStringLiteral("🎼 장르 읽는 중 1/40");
const QString kFakeImport = QStringLiteral(QL_TEST_SUPPORT_DIR "/fake_import.py");

// What happens at a step, after which the tick runs and the line is read.
enum class Do {
    Nothing,         // only the tick
    Damaged,         // a damaged store set aside at launch
    SaveFails,       // "loudness.json" is read-only when it is saved
    SaveWorks,       // and writable again
    TrackStarts,     // a track is played (its messages come at once)
    RenderBegins,    // a track is played, its render held back
    RenderEnds,      // the held render comes, the track starts
    RenderFails,     // a track is played, its render fails
    BackendSetAside, // the backend's reply tells of its own damaged file
    FileOpened,      // a file handed to the program, imported and played
    SilentStarts,    // a track starts on the start-up fallback without a sound device
    Progress,        // a background task's progress text (the genre scan's)
};
struct Step {
    double at; // seconds on the status line's clock
    Do what;
    QString reads; // what the line then reads (a damaged notice by its start)
};
struct NoticeCase {
    const char* name;
    std::vector<Step> steps;
};

// clang-format off
const std::vector<NoticeCase> cases{
    {"a failed save then a good retry: saved at once, the failure not after it",
     {{0, Do::SaveFails, kFailed}, {1, Do::SaveWorks, kSaved}, {5.9, Do::Nothing, kSaved},
      {6, Do::Nothing, kSaved}, {20, Do::Nothing, kSaved}}},
    {"a failure saved before its turn is never shown, nor its end",
     {{0, Do::Damaged, kDamaged}, {1, Do::SaveFails, kDamaged}, {2, Do::SaveWorks, kDamaged},
      {5, Do::Nothing, kDamaged}, {20, Do::Nothing, kDamaged}}},
    {"a failure told earlier: saved is said once",
     {{0, Do::SaveFails, kFailed}, {7, Do::SaveWorks, kSaved}, {8, Do::SaveWorks, kSaved},
      {9, Do::TrackStarts, kSaved}, {12, Do::Nothing, kTrackMessage}, {20, Do::Nothing, kTrackMessage}}},
    {"a failure after the saved notice is told again",
     {{0, Do::SaveFails, kFailed}, {1, Do::SaveWorks, kSaved}, {6, Do::SaveFails, kFailed}}},
    {"a damaged-file notice stays for its hold though a track starts",
     {{0, Do::Damaged, kDamaged}, {0.5, Do::TrackStarts, kDamaged}, {4.9, Do::Nothing, kDamaged},
      {5, Do::Nothing, kTrackMessage}}},
    {"a damaged-file notice waits for nothing: shown while a track's message holds",
     {{0, Do::TrackStarts, kTrackMessage}, {1, Do::Damaged, kDamaged}, {5.9, Do::Nothing, kDamaged},
      {6, Do::Nothing, kDamaged}}},
    {"a play failure while a notice holds the line is shown after it, a later progress text after that",
     {{0, Do::Damaged, kDamaged}, {1, Do::RenderFails, kDamaged}, {2, Do::Progress, kDamaged},
      {4.9, Do::Nothing, kDamaged}, {5, Do::Nothing, kRenderFailed},
      {9.9, Do::Nothing, kRenderFailed}, {10, Do::Nothing, kProgress}}},
    {"the backend's damaged file with a file opened at start: told for its 5 s",
     {{0, Do::BackendSetAside, kBackendDamaged}, {0.2, Do::FileOpened, kBackendDamaged},
      {4.9, Do::Nothing, kBackendDamaged}, {5, Do::Nothing, kTrackMessage}}},
    {"the one-time no-device notice waits for a damaged-file notice, then holds its own 5 s",
     {{0, Do::Damaged, kDamaged}, {0.5, Do::SilentStarts, kDamaged}, {5, Do::Nothing, kSilent},
      {9.9, Do::Nothing, kSilent}, {10, Do::Nothing, kTrackMessage}}},
    {"a render begun under a notice says it was applied, not that it applies",
     {{0, Do::Damaged, kDamaged}, {0.5, Do::RenderBegins, kDamaged}, {5, Do::Nothing, kRendering},
      {6, Do::RenderEnds, kTrackMessage}}},
};
// clang-format on

constexpr int kRoadMs = 30000; // a stand-in render, on a loaded machine

struct Rig {
    // First, so a render thread still held outlives nothing it waits on.
    std::atomic<bool> holdRender = false;
    std::atomic<bool> failRender = false;
    std::atomic<int> renders = 0;
    QSemaphore renderGo;
    std::shared_ptr<SimSinkControl> sink = std::make_shared<SimSinkControl>(SimClock::Manual);
    test::RiggedApp rig{test::twoOutputs(), SimOutputs{SimClock::Manual, {{test::kAnalogB, sink}}}};
    App& app = rig.app;
    qint64 now = 1'000'000;
    JSONStore store{appSupportDir()};

    Rig() {
        UserDefaults().clear();
        L10n::setLanguage("ko");
        app.playback.rateMatchOn = false;
        app.playback.maxQuality = false;
        app.status->setClock([this] { return now; });
        test::fakes(app).analysers.fxSignature = [] { return QStringLiteral("eq:warm"); };
        test::fakes(app).analysers.renderFX = [this](const RenderSnapshot&) {
            if (holdRender)
                renderGo.acquire();
            if (failRender)
                return RenderResult{};
            // A file of each render's own: a prefetch may render beside a play.
            const QString path =
                tempFile(QStringLiteral("Quavelark-fx-notice-%1.caf").arg(++renders));
            test::writeAudio(path,
                             {.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT, .frames = 44100 * 3});
            return RenderResult{path, {}};
        };
        JSONStore::takeOutcomes(); // those of earlier rows
        const QString python = pythonPath().value_or("/usr/bin/python3");
        test::fakes(app).tools.backendCommand = [python] {
            return QStringList{python, kFakeImport};
        };
    }
    std::optional<test::ReplyPipe> backend; // the backend's output, once it answers
    ~Rig() {
        renderGo.release(1000); // a row that failed with its render held back
        app.renderQueue->waitForDone();
        QFile::setPermissions(store.filePath("loudness.json"),
                              QFile::ReadOwner | QFile::WriteOwner);
    }

    bool run(Do what) {
        const QString loudness = store.filePath("loudness.json");
        const QHash<QString, double> value{{"/a", -9.5}};
        switch (what) {
        case Do::Nothing:
            return true;
        case Do::Damaged:
            if (!test::writeFile(store.filePath("genres.json"), "{\"/a\":"))
                return false;
            if (store.load<QHash<QString, QString>>("genres.json"))
                return false; // the row's premise: it does not load
            app.setAsideDamagedFiles();
            return true;
        case Do::SaveFails:
            if (!QFile::exists(loudness) && !store.save("loudness.json", value))
                return false;
            QFile::setPermissions(loudness, QFile::ReadOwner);
            return !store.save("loudness.json", value);
        case Do::SaveWorks:
            QFile::setPermissions(loudness, QFile::ReadOwner | QFile::WriteOwner);
            return store.save("loudness.json", value);
        case Do::RenderBegins:
            holdRender = true;
            app.play(Track{1, tempFile(QStringLiteral("source.flac")), "T", {}, {}, 3, {}});
            return app.playback.loading;
        case Do::RenderEnds:
            renderGo.release();
            return QTest::qWaitFor([this] { return !app.playback.loading; }, kRoadMs) &&
                   app.isPlaying();
        case Do::TrackStarts:
            app.play(Track{1, tempFile(QStringLiteral("source.flac")), "T", {}, {}, 3, {}});
            return QTest::qWaitFor([this] { return !app.playback.loading; }, kRoadMs) &&
                   app.isPlaying();
        case Do::Progress:
            app.status->setStringValue(kProgress);
            return true;
        case Do::SilentStarts:
            rig.platform.noSoundDevice = true;
            return run(Do::TrackStarts);
        case Do::RenderFails:
            failRender = true;
            app.play(Track{1, tempFile(QStringLiteral("source.flac")), "T", {}, {}, 3, {}});
            return QTest::qWaitFor([this] { return !app.playback.loading; }, kRoadMs) &&
                   !app.isPlaying();
        case Do::BackendSetAside:
            backend.emplace(app);
            return backend->send(R"({"tracks":[],"scanning":false,"error":")" +
                                 kBackendDamaged.toUtf8() + "\"}\n");
        case Do::FileOpened:
            app.openAudioFiles({tempFile(QStringLiteral("t7.flac"))});
            return QTest::qWaitFor([this] { return app.isPlaying(); }, kRoadMs);
        }
        return false;
    }
};

} // namespace

class StoreNoticesTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QDir(appSupportDir()).removeRecursively(); }

    void notices_data() { test::addRows(cases); }
    void notices() {
        const NoticeCase& c = test::currentCase(cases);
        Rig r;
        for (const Step& step : c.steps) {
            r.now = 1'000'000 + qint64(step.at * 1000 + 0.5);
            QVERIFY2(r.run(step.what), qPrintable(QString("step at %1 s").arg(step.at)));
            r.app.tellStoreFaults();
            const QString shown = r.app.status->stringValue();
            QVERIFY2(step.reads == kDamaged ? shown.startsWith(kDamaged) : shown == step.reads,
                     qPrintable(QString("at %1 s: %2").arg(step.at).arg(shown)));
        }
    }
};

QL_TEST_MAIN(StoreNoticesTest)
#include "StoreNoticesTest.moc"
