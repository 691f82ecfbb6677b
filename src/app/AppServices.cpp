// ---- services: the system's own clock, tools, desktop and analysers ----
#include "app/App.h"

#include "app/AppPaths.h"
#include "app/Delivery.h"
#include "effects/FXPanel.h"
#include "library/BackendImport.h"
#include "library/QualityLabel.h"
#include "library/ToolPaths.h"
#include "platform/WebFetch.h"
#include "playback/RateMatch.h"
#include "remote/LocalNetwork.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <QThreadPool>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>

namespace ql {

namespace {
// From the tools panel's build to its scan.
constexpr int kScanDelayMs = 20'000;
} // namespace

double SystemClock::monotonic() const {
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(clock.nsecsElapsed()) / 1e9;
}

void SystemClock::settle(unsigned long microseconds) const {
    QThread::usleep(microseconds);
}

int SystemClock::importLimitMs() const {
    return kImportLimitMs;
}

int SystemClock::sonicScanDelayMs() const {
    return kScanDelayMs;
}

std::optional<PlayerFacts> SystemClock::player(const App& app) const {
    const std::optional<double> duration = app.audioDuration();
    if (!duration)
        return std::nullopt;
    return PlayerFacts{*duration, app.audioCurrentTime().value_or(0.0), app.isPlaying()};
}

void SystemTools::findMissingTools(QObject& owner,
                                   std::function<void(const QStringList& missing)> found) const {
    // The search starts a Python child (bounded, but it may take a moment):
    // run it on the global queue so the window stays responsive, and come back
    // here with the answer.
    QThreadPool::globalInstance()->start([delivery = Delivery(&owner), found = std::move(found)] {
        const QStringList missing = App::missingTools();
        delivery.post([missing, found](QObject&) { found(missing); });
    });
}

BackendCommand SystemTools::backendCommand() const {
    return ql::backendCommand(pythonPath(), resourceDir(),
                              QProcessEnvironment::systemEnvironment());
}

std::function<void(const QByteArray& line)> SystemTools::backendSink() const {
    return {};
}

QString SystemTools::coverProgram() const {
    return toolPath("ffmpeg");
}

QString SystemTools::decodeProgram() const {
    return toolPath(QStringLiteral("ffmpeg"));
}

QString SystemTools::loudnessProgram() const {
    return toolPath(QStringLiteral("ffmpeg"));
}

QString SystemTools::probeTool(const QString& name) const {
    return toolPath(name);
}

// A cover download: https only, redirects included; 15 s without data or a
// body above 20 MB gives nothing.
void SystemTools::fetchCover(const QUrl& url,
                             std::function<void(std::optional<QByteArray>)> done) const {
    platform::WebFetchOptions options;
    options.schemes = {QStringLiteral("https")};
    options.maxBodyBytes = 20 * 1024 * 1024;
    options.timeoutMs = 15'000;
    options.deadlineMs = 60'000;
    platform::getBytes(url, std::move(done), options);
}

remote::NetworkFacts SystemTools::networkFacts() const {
    return ql::remote::systemNetworkFacts();
}

// One statx call for both times (QFileInfo would stat and then statx again).
double SystemTools::addedDate(const QString& path) const {
    struct statx st {};
    const QByteArray name = QFile::encodeName(path);
    if (::statx(AT_FDCWD, name.constData(), 0, STATX_BTIME | STATX_MTIME, &st) != 0)
        return ql::addedDate(std::nullopt, std::nullopt);
    const auto ms = [](const struct statx_timestamp& t) {
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
    };
    return ql::addedDate(st.stx_mask & STATX_BTIME ? std::optional(ms(st.stx_btime)) : std::nullopt,
                         st.stx_mask & STATX_MTIME ? std::optional(ms(st.stx_mtime))
                                                   : std::nullopt);
}

QAbstractButton* SystemDesktop::alert(QMessageBox& box) const {
    box.exec();
    return box.clickedButton();
}

void SystemDesktop::beep() const {
    QApplication::beep();
}

bool SystemDesktop::openUrl(const QUrl& url) const {
    return QDesktopServices::openUrl(url);
}

bool SystemDesktop::startDetached(const QString& program, const QStringList& arguments) const {
    return QProcess::startDetached(program, arguments);
}

std::optional<QStringList> SystemDesktop::openPanel(QFileDialog& panel) const {
    if (panel.exec() == QDialog::Accepted)
        return panel.selectedFiles();
    return std::nullopt;
}

void SystemDesktop::runSetupInTerminal(App& app) const {
    app.runSetupInTerminal();
}

Qt::MouseButtons SystemDesktop::mouseButtons() const {
    return QGuiApplication::mouseButtons();
}

QPoint SystemDesktop::cursorPos() const {
    return QCursor::pos();
}

void SystemDesktop::matchDeviceRate(App& app, double rate) const {
    app.matchDeviceRate(rate);
}

StreamFacts SystemAnalysers::probeAudio(const QString& path, const ProbeOptions& options) const {
    return ql::probeAudio(path, options);
}

std::optional<ScanResult> SystemAnalysers::analyzeScan(const QString& path,
                                                       const AnalysisTools& tools) const {
    return ql::analyzeScan(path, tools);
}

std::optional<Sonic> SystemAnalysers::analyzeSonic(const QString& path,
                                                   const AnalysisTools& tools) const {
    return ql::analyzeSonic(path, tools);
}

RenderResult SystemAnalysers::renderFX(const RenderSnapshot& snapshot) const {
    return renderFXBlocking(snapshot);
}

std::optional<double> SystemAnalysers::upsampleTarget(double rate, int mode,
                                                      const std::vector<double>& rates) const {
    return ql::upsampleTarget(rate, mode, rates);
}

std::optional<QString> SystemAnalysers::fxSignature(const App& app) const {
    return app.fxPanel->signature();
}

void SystemAnalysers::loadArt(App& app, const Track& track) const {
    app.loadArt(track);
}

void SystemAnalysers::groupCover(App& app, const AlbumItem& item, const CoverTicket& ticket,
                                 std::function<void(const QImage&)> done) const {
    app.groupCover(item, std::move(done), ticket);
}

void SystemObserver::trace(const QString&, const QStringList&) const {}

bool SystemObserver::tickStep(const char*) const {
    return false;
}

void SystemObserver::playRequest(const Track&) const {}

bool SystemObserver::fallbackRoad(const char*, const Track&, quint64) const {
    return false;
}

bool SystemObserver::qualityProbe(const Track&) const {
    return false;
}

bool SystemObserver::groupAway(std::size_t) const {
    return false;
}

void SystemObserver::poolGroupingStarts() const {}

AppServices AppServices::system() {
    AppServices s;
    s.clock = std::make_shared<SystemClock>();
    s.tools = std::make_shared<SystemTools>();
    s.desktop = std::make_shared<SystemDesktop>();
    s.analysers = std::make_shared<SystemAnalysers>();
    s.observer = std::make_shared<SystemObserver>();
    return s;
}

} // namespace ql
