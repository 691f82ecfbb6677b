// The outside world as the controller meets it, in a few services: the clock
// and the timing knobs (Clock); the external programs, the library backend,
// the network and the file system's dates (Tools); the desktop around the
// program: its alerts, panels, pointer, other programs and the output
// device's rate (Desktop); the readers of audio files and their pictures
// and the effects render (Analysers); and one observer of the controller's
// steps (Observer). App holds one bundle of them (AppServices),
// given to its constructor; the program passes the system's own, the tests
// pass fakes that stand in for one call at a time.
//
// The system implementations hold no state of their own: any thread may call
// them unless a call says otherwise. A call that takes the App does the
// controller's own work and is for the main thread only.
//
// Seams left for later: the calls that take the App (the player's facts, the
// effect signature, the covers, the setup terminal, the device rate) carry a
// piece of the controller itself, not of the outside world, so that a test
// can stand in for it; and the controller still branches on three answers
// that only a test gives: a backendSink() (then no backend process runs), and
// the observer's true for a tick step, a fallback road, a quality probe or a
// grouping sent to a pool thread however short its list.
#pragma once

#include "analysis/AnalyzeFile.h"
#include "analysis/ProbeAudio.h"
#include "effects/FXRender.h"
#include "library/BackendCommand.h"
#include "remote/RemoteLink.h"
#include "ui/CoverTicket.h"

#include <QByteArray>
#include <QStringList>
#include <Qt>

#include <functional>
#include <memory>
#include <optional>

class QAbstractButton;
class QFileDialog;
class QImage;
class QMessageBox;
class QObject;
class QPoint;
class QUrl;

namespace ql {

class App;
struct AlbumItem;
struct Track;

// What the current player tells of itself.
struct PlayerFacts {
    double duration = 0;    // seconds
    double currentTime = 0; // seconds
    bool playing = false;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds on a monotonic clock; the crossfade and the sleep timer read it.
    virtual double monotonic() const = 0;
    // Pauses the main thread while the output device settles after a change
    // of its rate.
    virtual void settle(unsigned long microseconds) const = 0;
    // The time limit of one file's import.
    virtual int importLimitMs() const = 0;
    // From the tools panel's build to its delayed sonic scan.
    virtual int sonicScanDelayMs() const = 0;
    // The current player's position and length: none without a player.
    virtual std::optional<PlayerFacts> player(const App& app) const = 0;
};

class SystemClock : public Clock {
public:
    double monotonic() const override;
    void settle(unsigned long microseconds) const override;
    int importLimitMs() const override;
    int sonicScanDelayMs() const override;
    std::optional<PlayerFacts> player(const App& app) const override;
};

class Tools {
public:
    virtual ~Tools() = default;
    // Looks for the external programs the program needs and hands the
    // display names of the missing ones to `found` on the main thread; an
    // answer that comes after `owner` is gone is dropped.
    virtual void findMissingTools(QObject& owner,
                                  std::function<void(const QStringList& missing)> found) const = 0;
    // How the library backend is run.
    virtual BackendCommand backendCommand() const = 0;
    // Where the backend's request lines go in place of a backend process;
    // none (the system's) makes the program run the process.
    virtual std::function<void(const QByteArray& line)> backendSink() const = 0;
    // The programs the cover extraction, the decode road and the effects
    // render, the loudness measurement and the probes run.
    virtual QString coverProgram() const = 0;
    virtual QString decodeProgram() const = 0;
    virtual QString loudnessProgram() const = 0;
    virtual QString probeTool(const QString& name) const = 0;
    // Downloads a cover address; `done` is called exactly once, from any
    // thread, with the body or none.
    virtual void fetchCover(const QUrl& url,
                            std::function<void(std::optional<QByteArray>)> done) const = 0;
    // The computer's interfaces and default route, for the phone remote.
    virtual remote::NetworkFacts networkFacts() const = 0;
    // A file's added date in seconds since 1970.
    virtual double addedDate(const QString& path) const = 0;
};

class SystemTools : public Tools {
public:
    void findMissingTools(QObject& owner,
                          std::function<void(const QStringList& missing)> found) const override;
    BackendCommand backendCommand() const override;
    std::function<void(const QByteArray& line)> backendSink() const override;
    QString coverProgram() const override;
    QString decodeProgram() const override;
    QString loudnessProgram() const override;
    QString probeTool(const QString& name) const override;
    void fetchCover(const QUrl& url,
                    std::function<void(std::optional<QByteArray>)> done) const override;
    remote::NetworkFacts networkFacts() const override;
    double addedDate(const QString& path) const override;
};

class Desktop {
public:
    virtual ~Desktop() = default;
    // Shows the alert the program set up and waits for the user: the button
    // chosen, none for none.
    virtual QAbstractButton* alert(QMessageBox& box) const = 0;
    // The alert sound.
    virtual void beep() const = 0;
    // Hands a file or address to the desktop's default handler.
    virtual bool openUrl(const QUrl& url) const = 0;
    // Starts a program detached from us; returns whether it started.
    virtual bool startDetached(const QString& program, const QStringList& arguments) const = 0;
    // Shows the open panel the program set up: the chosen files, or none for
    // a cancel.
    virtual std::optional<QStringList> openPanel(QFileDialog& panel) const = 0;
    // Opens the setup script in a terminal (App::runSetupInTerminal).
    virtual void runSetupInTerminal(App& app) const = 0;
    // The pressed mouse buttons and the pointer in global coordinates.
    virtual Qt::MouseButtons mouseButtons() const = 0;
    virtual QPoint cursorPos() const = 0;
    // Matches the output device's rate to a source of `rate` Hz
    // (App::matchDeviceRate).
    virtual void matchDeviceRate(App& app, double rate) const = 0;
};

class SystemDesktop : public Desktop {
public:
    QAbstractButton* alert(QMessageBox& box) const override;
    void beep() const override;
    bool openUrl(const QUrl& url) const override;
    bool startDetached(const QString& program, const QStringList& arguments) const override;
    std::optional<QStringList> openPanel(QFileDialog& panel) const override;
    void runSetupInTerminal(App& app) const override;
    Qt::MouseButtons mouseButtons() const override;
    QPoint cursorPos() const override;
    void matchDeviceRate(App& app, double rate) const override;
};

class Analysers {
public:
    virtual ~Analysers() = default;
    // The stream facts of a file; blocking, on the thread that probes.
    virtual StreamFacts probeAudio(const QString& path, const ProbeOptions& options) const = 0;
    // The quality analysis and the sonic features of a file; blocking, never
    // on the main thread.
    virtual std::optional<ScanResult> analyzeScan(const QString& path,
                                                  const AnalysisTools& tools) const = 0;
    virtual std::optional<Sonic> analyzeSonic(const QString& path,
                                              const AnalysisTools& tools) const = 0;
    // Renders the effects of a snapshot; on a render job's thread.
    virtual RenderResult renderFX(const RenderSnapshot& snapshot) const = 0;
    // The upsampling target of a source rate (Hz) under a mode and the
    // device's rates; on the main thread and in renders.
    virtual std::optional<double> upsampleTarget(double rate, int mode,
                                                 const std::vector<double>& rates) const = 0;
    // The effect signature of the effects panel.
    virtual std::optional<QString> fxSignature(const App& app) const = 0;
    // Shows the track's cover in the transport bar (App::loadArt).
    virtual void loadArt(App& app, const Track& track) const = 0;
    // The cover of a record or an artist page (App::groupCover), asked for
    // as long as the ticket is wanted.
    virtual void groupCover(App& app, const AlbumItem& item, const CoverTicket& ticket,
                            std::function<void(const QImage&)> done) const = 0;
};

class SystemAnalysers : public Analysers {
public:
    StreamFacts probeAudio(const QString& path, const ProbeOptions& options) const override;
    std::optional<ScanResult> analyzeScan(const QString& path,
                                          const AnalysisTools& tools) const override;
    std::optional<Sonic> analyzeSonic(const QString& path,
                                      const AnalysisTools& tools) const override;
    RenderResult renderFX(const RenderSnapshot& snapshot) const override;
    std::optional<double> upsampleTarget(double rate, int mode,
                                         const std::vector<double>& rates) const override;
    std::optional<QString> fxSignature(const App& app) const override;
    void loadArt(App& app, const Track& track) const override;
    void groupCover(App& app, const AlbumItem& item, const CoverTicket& ticket,
                    std::function<void(const QImage&)> done) const override;
};

// Watches the controller's steps, on the main thread unless a call says
// otherwise. A step that can be stood in for is skipped when the observer
// answers true.
class Observer {
public:
    virtual ~Observer() = default;
    // Each launch step's name as it starts (and its files, for the
    // open-files step).
    virtual void trace(const QString& step, const QStringList& files) const = 0;
    // Each step of a periodic tick that drives another part of the program
    // ("translateUI", "countTick", "publish", "meter", …) before it runs.
    virtual bool tickStep(const char* step) const = 0;
    // Each play request (the track asked for) as it arrives, before it runs.
    virtual void playRequest(const Track& track) const = 0;
    // Each fallback road a play request takes ("render" or "decode"), with
    // its generation.
    virtual bool fallbackRoad(const char* road, const Track& track, quint64 generation) const = 0;
    // Each quality probe a request starts.
    virtual bool qualityProbe(const Track& track) const = 0;
    // Each regrouping of the visible list into tiles, with the list's length,
    // with the catalog worker running: true groups it on a pool thread
    // whatever its length.
    virtual bool groupAway(std::size_t tracks) const = 0;
    // As each grouping on a pool thread starts; called on that thread.
    virtual void poolGroupingStarts() const = 0;
};

// The program's own observer: watches nothing, stands in for nothing.
class SystemObserver : public Observer {
public:
    void trace(const QString& step, const QStringList& files) const override;
    bool tickStep(const char* step) const override;
    void playRequest(const Track& track) const override;
    bool fallbackRoad(const char* road, const Track& track, quint64 generation) const override;
    bool qualityProbe(const Track& track) const override;
    bool groupAway(std::size_t tracks) const override;
    void poolGroupingStarts() const override;
};

// Shared, so a background job that calls a service keeps it alive however
// long it outlasts the controller.
struct AppServices {
    std::shared_ptr<const Clock> clock;
    std::shared_ptr<const Tools> tools;
    std::shared_ptr<const Desktop> desktop;
    std::shared_ptr<const Analysers> analysers;
    std::shared_ptr<const Observer> observer;

    // The system's own services.
    static AppServices system();
};

} // namespace ql
