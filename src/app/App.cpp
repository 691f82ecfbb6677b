// ---- construction ----
#include "app/App.h"

#include "analysis/AudioScanPanel.h"
#include "analysis/LevelMeter.h"
#include "analysis/WaveformView.h"
#include "app/UserDefaults.h"
#include "downloader/FlacFetcher.h"
#include "effects/FXPanel.h"
#include "listening/LyricsLookup.h"
#include "listening/LyricsPanel.h"
#include "listening/NowPlayingWindow.h"
#include "platform/UserFiles.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/SignalPathPanel.h"
#include "remote/RemoteServer.h"
#include "ui/ClickImageView.h"
#include "ui/PullDownButton.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/TabBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <atomic>

namespace ql {

namespace {
// How long the teardown waits for the background queues, together: their
// jobs end within a fraction of this once their children are ended, unless a
// disk holds one (a read of a file on a hung network mount).
constexpr int kQueuesWaitMs = 700;

// Set once a queue was left to a job its disk holds.
std::atomic<bool> jobsLeftRunning{false};

// A labelled queue that runs one job at a time, in order.
std::unique_ptr<QThreadPool> serialQueue(const char* label) {
    auto pool = std::make_unique<QThreadPool>();
    pool->setObjectName(QString::fromLatin1(label));
    pool->setMaxThreadCount(1);
    return pool;
}
} // namespace

// The tool windows, queues and the view tab bar are made here, once, in this
// order; the rest of the state takes its defaults from the subsystems' structs.
App::App(platform::Platform& platform, AppServices services)
    : services(std::move(services)), platform(platform), fetcher(std::make_unique<FlacFetcher>()),
      lyricsPanel(std::make_unique<LyricsPanel>(
          core.store.dir(), lyricsServiceBase(UserDefaults().string(keys::kLyricsBaseURL)))),
      nowPlaying(std::make_unique<NowPlayingWindow>()),
      viewModeControl(std::make_unique<TabBar>(QStringList{
          QStringLiteral("앨범"), QStringLiteral("가수"), QStringLiteral("곡"),
          QStringLiteral("장르"), QStringLiteral("최근 추가"), QStringLiteral("하이레즈")})),
      scanPanel(std::make_unique<AudioScanPanel>()),
      signalPathPanel(std::make_unique<SignalPathPanel>()),
      fxPanel(std::make_unique<FXPanel>(core.store)),
      qualityQueue(serialQueue("Quavelark.quality")), sonicQueue(serialQueue("Quavelark.sonic")),
      genreQueue(serialQueue("Quavelark.genre")), coverQueue(serialQueue("Quavelark.cover")),
      renderQueue(std::make_unique<QThreadPool>()), loudQueue(std::make_unique<QThreadPool>()),
      askQueue(std::make_unique<QThreadPool>()), intakeQueue(std::make_unique<QThreadPool>()),
      openInbox(makeOpenInbox()) {
    renderQueue->setObjectName(QStringLiteral("Quavelark.render"));
    loudQueue->setObjectName(QStringLiteral("Quavelark.loudness"));
    loudQueue->setMaxThreadCount(2);
    askQueue->setObjectName(QStringLiteral("Quavelark.asks"));
    askQueue->setMaxThreadCount(2);
    intakeQueue->setObjectName(QStringLiteral("Quavelark.intake"));
    intakeQueue->setMaxThreadCount(2);
    status = new StatusLabel(QStringLiteral("음원 불러오는 중…"));
    seek = new SeekSlider;
    clock = new QLabel(QStringLiteral("0:00 / 0:00"));
    art = new ClickImageView;
    wave = new WaveformView;
    meter = new LevelMeter;
    smartPicker = new QComboBox;
    favButton = new QPushButton(QStringLiteral("♡ 즐겨찾기"));
    djPopup = new PullDownButton;
    makeBrowserControls();
    makeWindowViews();
    makeOutputControls();
    makePlaybackControls();
    // Until the tools panel is built (it installs effectsEdited, which may
    // end the modes that bypass the effects first), a change only re-renders.
    fxPanel->onChange = [this] { fxChanged(); };
}

App::~App() {
    // Opens are not waited for (a disk may hold one for ever): from here on
    // none tells App anything, and one still running ends on its own.
    openInbox->close();
    // Queued background jobs may still hold copies of their inputs; they never
    // touch App, so waiting for them is enough, for a bounded while: a job
    // that a disk holds is left running (below). A render job works from its
    // own snapshot; it is waited for because its result is posted to App,
    // and its ffmpeg is ended first (the quit did so already), so the wait
    // is short. A running loudness measurement is waited for too, since its
    // result is posted to App; its ffmpeg is ended first as well. Probes and
    // measurements not yet started are dropped, and a genre scan stops
    // between files, so a quit never waits for a whole catalog's worth of
    // them.
    children->terminateAll();
    library.genreStop->store(true);
    // Sonic analyses post their results through a gate this closes; their
    // queue is then waited for only as long as it takes them to notice.
    endSonicJobs();
    const QDeadlineTimer queuesWait(kQueuesWaitMs);
    for (std::unique_ptr<QThreadPool>* q : {&qualityQueue, &sonicQueue, &genreQueue, &coverQueue,
                                            &renderQueue, &loudQueue, &askQueue, &intakeQueue}) {
        if (*q != renderQueue)
            (*q)->clear();
        // A job its disk holds is not waited for: the queue is left to it
        // (its destruction would wait), and the process ends without it
        // (main.cpp). Its results find no App.
        if (!(*q)->waitForDone(int(std::max<qint64>(queuesWait.remainingTime(), 0)))) {
            jobsLeftRunning = true;
            static_cast<void>(q->release());
        }
    }
    if (timer)
        timer->stop();
    // Without a quit (a test's App) the decodes and the files in flight end
    // here; after one this finds nothing left.
    endDecodes();
    // The backend goes before the state its replies would touch; the quit
    // already closed its input (AppBackend.cpp).
    if (!core.terminated)
        stopBackend();
    if (!endBackend())
        jobsLeftRunning = true;
    // Its reader stops before anything it could still post to goes.
    library.reader.reset();
    // Controls belong to the window once the window build placed them.
    for (QWidget* w : std::initializer_list<QWidget*>{
             status,      seek,         clock,     art,      wave,       meter,       smartPicker,
             search,      folderPicker, volDB,     dacLabel, repeatBtn,  devicePopup, ratePopup,
             abButton,    sleepPopup,   maxBox,    bitBox,   gaplessBox, rateBox,     crossfadeBox,
             levelingBox, upPopup,      favButton, djPopup})
        if (w && !w->parent())
            delete w;
    views.deleteUnplaced();
}

bool App::leftJobsRunning() {
    // A reader of a user's file may be held by its disk: never waited for.
    return jobsLeftRunning || platform::UserFiles::stillRunning() > 0;
}

void App::step(const char* name, const QStringList& files) {
    services.observer->trace(QString::fromLatin1(name), files);
}

} // namespace ql
