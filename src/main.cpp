// Entry point: the validation mode or the normal start, decided by the
// argument vector alone.
//
// A normal start with files hands them to a running instance when there is
// one, and ends; a start without files asks that instance to show its window.
// A start that finds another program on the same home but cannot reach it
// says so on standard error and ends with status 1, having written nothing.
#include "app/App.h"
#include "app/AppPaths.h"
#include "app/CommandLine.h"
#include "app/Validation.h"
#include "platform/HomeLock.h"
#include "platform/Platform.h"
#include "platform/QuitSignals.h"
#include "platform/SingleInstance.h"
#include "platform/SystemPlatform.h"
#include "platform/mpris/MprisNowPlaying.h"
#include "playback/FileOpen.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/LanguageSetting.h"

#include <QApplication>
#include <QDir>
#include <QThread>
#include <QThreadPool>

#include <cstdio>
#include <cstdlib>

#include <csignal>

namespace {

// How long the end of a run waits for the application's shared pool, after
// the controller has gone.
constexpr int kPoolWaitMs = 300;

// The last of a run before the application object goes. A quit never waits
// on a disk: work that a disk still holds (the open of a file on a hung
// network mount, a job reading one) was left running when the controller
// went, everything of the run having been written and closed by then. The
// process then ends here, without the application object's teardown (which
// waits for its shared pool) and without static destructors, which such a
// thread could meet should its disk answer meanwhile.
class LeftWork {
public:
    LeftWork() = default;
    LeftWork(const LeftWork&) = delete;
    LeftWork& operator=(const LeftWork&) = delete;
    ~LeftWork() {
        if (ql::FileOpen::stillRunning() > 0 || ql::App::leftJobsRunning() ||
            !QThreadPool::globalInstance()->waitForDone(kPoolWaitMs)) {
            std::fflush(nullptr);
            std::_Exit(0);
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    if (ql::decideRunMode(args) == ql::RunMode::Validation)
        return ql::runValidation(args);

    // A child that exits while we write to its pipe must not end the player.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication application(argc, argv);
    // Declared here, so that it runs after everything below has gone.
    const LeftWork leftWork;
    QApplication::setOrganizationName(QStringLiteral("Quavelark"));
    QApplication::setApplicationName(QStringLiteral("Quavelark"));
    QApplication::setDesktopFileName(QStringLiteral("quavelark"));
    // A terminating signal quits as the menu does: settings and stores are
    // written and temporary files removed.
    ql::platform::quitOnSignals();

    // Qt has now removed its own options and their values from the list.
    const QStringList files = ql::fileArguments(QApplication::arguments(), QDir::currentPath());
    ql::platform::SingleInstance instance(ql::platform::SingleInstance::defaultName());
    if (instance.handOver(files, 1000))
        return 0;

    // One program per home, whatever runtime folder each start sees: two
    // would each save their own play counts over the other's. A start that
    // finds the files taken waits a moment for their holder to listen (two
    // starts racing), then leaves without touching anything.
    ql::platform::HomeLock homeLock(ql::appSupportDir());
    for (int wait = 0; homeLock.taken() && wait < 25; ++wait) {
        QThread::msleep(200);
        if (instance.handOver(files, 200))
            return 0;
        homeLock.retry();
    }
    if (homeLock.taken()) {
        std::fprintf(stderr, "quavelark: not started: %s\n", qPrintable(homeLock.why()));
        return 1;
    }
    // A home where the lock cannot be had at all (a read-only folder, a file
    // system without flock) is still played from; its failed saves are told.
    if (!homeLock.held())
        std::fprintf(stderr, "quavelark: running without the home lock: %s\n",
                     qPrintable(homeLock.why()));

    // Listening before anything is built lets a start that lost the race to
    // another one hand over to it instead of running unreachable beside it.
    // Without the socket the player still runs; only hand-overs are lost.
    if (!instance.listen() && instance.handOver(files, 1000))
        return 0;

    // The interface language is fixed for the run before anything is built.
    ql::L10n::setLanguage(ql::storedLanguage());

    // The sound system, or the simulated rig on a machine without a card.
    ql::platform::Platform platform = ql::platform::makeSystemPlatform();
    // Now Playing and the media keys, over the session bus when there is one.
    platform.nowPlaying = std::make_unique<ql::platform::MprisNowPlaying>();
    ql::App app(platform, ql::AppServices::system());
    instance.onOpenFiles = [&app](const QStringList& f) { app.applicationOpen(f); };
    instance.onReopen = [&app] { app.applicationShouldHandleReopen(); };

    app.applicationOpen(files);
    app.runCatalogInBackground();
    app.applicationDidFinishLaunching();
    QApplication::exec();
    return 0;
}
