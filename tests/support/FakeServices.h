// Guards against: (fixture) a controller whose outside world a test cannot
// stand in for.
// Fakes of the controller's services: each call a test gives a stand-in goes
// to it, every other call to the system's own, so a test replaces one call and
// keeps the rest. An App built with fakeServices() hands its stand-ins out
// through fakes(app); set them before the calls they are meant for. Stand-ins
// run on whatever thread the program calls the service on. Header only; link
// ql_app.
#pragma once

#include "app/App.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <functional>
#include <memory>
#include <optional>

namespace ql::test {

// What a test may stand in for, by service. An empty member leaves the
// system's own call in place.
struct StandIns {
    struct {
        std::function<double()> monotonic;
        std::function<void(unsigned long microseconds)> settle;
        int importLimitMs = 0;    // 0: the system's
        int sonicScanDelayMs = 0; // 0: the system's
        std::function<std::optional<PlayerFacts>()> player;
    } clock;
    struct {
        // Answered at once, in place of the search in the background.
        std::function<QStringList()> missingTools;
        // The interpreter and its arguments (the script first) in place of
        // the system's; the environment stays the program's own.
        std::function<QStringList()> backendCommand;
        // Takes each request line; the program then runs no backend.
        std::function<void(const QByteArray& line)> backendWrite;
        std::function<QString()> coverProgram;
        std::function<QString()> decodeProgram;
        std::function<QString()> loudnessProgram;
        std::function<QString(const QString& name)> probeTool;
        std::function<void(const QUrl& url, std::function<void(std::optional<QByteArray>)> done)>
            fetchCover;
        std::function<remote::NetworkFacts()> networkFacts;
        std::function<double(const QString& path)> addedDate;
    } tools;
    struct {
        // Answers the alert in place of the user: the index of the chosen
        // button (in the order the program added them), -1 for none.
        std::function<int(const QString& text, const QString& info, const QStringList& buttons)>
            alert;
        std::function<void()> beep;
        std::function<bool(const QUrl& url)> openUrl;
        std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
        // Answers the open panel in place of the user: the chosen files, or
        // none for a cancel. It gets the panel as the program set it up.
        std::function<std::optional<QStringList>(QFileDialog& panel)> openPanel;
        std::function<void()> runSetupInTerminal;
        std::function<Qt::MouseButtons()> mouseButtons;
        std::function<QPoint()> cursorPos;
        std::function<void(double rate)> matchDeviceRate;
    } desktop;
    struct {
        // Each stands in for the whole call: the options and tools the
        // program passes with it are not handed on.
        std::function<StreamFacts(const QString& path)> probeAudio;
        // Before probeAudio, for a probe whose caller asks whether it was
        // cut short (the source-rate probe); it sets `cutShort` as it likes.
        std::function<StreamFacts(const QString& path, bool& cutShort)> timedProbe;
        std::function<std::optional<ScanResult>(const QString& path)> analyzeScan;
        std::function<std::optional<Sonic>(const QString& path)> analyzeSonic;
        std::function<RenderResult(const RenderSnapshot& snapshot)> renderFX;
        std::function<std::optional<double>(double rate, int mode,
                                            const std::vector<double>& rates)>
            upsampleTarget;
        std::function<std::optional<QString>()> fxSignature;
        std::function<void(const Track& track)> loadArt;
        std::function<void(const AlbumItem& item, std::function<void(const QImage&)> done)>
            groupCover;
    } analysers;
    struct {
        std::function<void(const QString& step, const QStringList& files)> trace;
        // Returning true skips the program's own step.
        std::function<bool(const char* step)> tickStep;
        std::function<void(const Track& track)> playRequest;
        // Take the road's place, and the probe's.
        std::function<void(const char* road, const Track& track, quint64 generation)> fallbackRoad;
        std::function<void(const Track& track)> qualityProbe;
        // True: the list is grouped on a pool thread (with the catalog
        // worker running); false leaves it to the program's own rule.
        std::function<bool(std::size_t tracks)> groupAway;
        // On the pool thread, as each grouping there starts.
        std::function<void()> poolGroupingStarts;
    } observer;
};

class FakeClock final : public SystemClock {
public:
    explicit FakeClock(std::shared_ptr<StandIns> standIns) : in(std::move(standIns)) {}
    double monotonic() const override {
        return in->clock.monotonic ? in->clock.monotonic() : SystemClock::monotonic();
    }
    void settle(unsigned long microseconds) const override {
        if (in->clock.settle)
            in->clock.settle(microseconds);
        else
            SystemClock::settle(microseconds);
    }
    int importLimitMs() const override {
        return in->clock.importLimitMs > 0 ? in->clock.importLimitMs : SystemClock::importLimitMs();
    }
    int sonicScanDelayMs() const override {
        return in->clock.sonicScanDelayMs > 0 ? in->clock.sonicScanDelayMs
                                              : SystemClock::sonicScanDelayMs();
    }
    std::optional<PlayerFacts> player(const App& app) const override {
        return in->clock.player ? in->clock.player() : SystemClock::player(app);
    }
    const std::shared_ptr<StandIns> in;
};

class FakeTools final : public SystemTools {
public:
    explicit FakeTools(std::shared_ptr<StandIns> standIns) : in(std::move(standIns)) {}
    void findMissingTools(QObject& owner,
                          std::function<void(const QStringList& missing)> found) const override {
        if (in->tools.missingTools)
            found(in->tools.missingTools());
        else
            SystemTools::findMissingTools(owner, std::move(found));
    }
    BackendCommand backendCommand() const override {
        BackendCommand command = SystemTools::backendCommand();
        if (in->tools.backendCommand) {
            const QStringList given = in->tools.backendCommand();
            if (!given.isEmpty()) {
                command.program = given.first();
                command.arguments = given.mid(1);
            }
        }
        return command;
    }
    std::function<void(const QByteArray& line)> backendSink() const override {
        return in->tools.backendWrite;
    }
    QString coverProgram() const override {
        return in->tools.coverProgram ? in->tools.coverProgram() : SystemTools::coverProgram();
    }
    QString decodeProgram() const override {
        return in->tools.decodeProgram ? in->tools.decodeProgram() : SystemTools::decodeProgram();
    }
    QString loudnessProgram() const override {
        return in->tools.loudnessProgram ? in->tools.loudnessProgram()
                                         : SystemTools::loudnessProgram();
    }
    QString probeTool(const QString& name) const override {
        return in->tools.probeTool ? in->tools.probeTool(name) : SystemTools::probeTool(name);
    }
    void fetchCover(const QUrl& url,
                    std::function<void(std::optional<QByteArray>)> done) const override {
        if (in->tools.fetchCover)
            in->tools.fetchCover(url, std::move(done));
        else
            SystemTools::fetchCover(url, std::move(done));
    }
    remote::NetworkFacts networkFacts() const override {
        return in->tools.networkFacts ? in->tools.networkFacts() : SystemTools::networkFacts();
    }
    double addedDate(const QString& path) const override {
        return in->tools.addedDate ? in->tools.addedDate(path) : SystemTools::addedDate(path);
    }
    const std::shared_ptr<StandIns> in;
};

class FakeDesktop final : public SystemDesktop {
public:
    explicit FakeDesktop(std::shared_ptr<StandIns> standIns) : in(std::move(standIns)) {}
    QAbstractButton* alert(QMessageBox& box) const override {
        if (!in->desktop.alert)
            return SystemDesktop::alert(box);
        // The box lists its buttons by role, and within a role as added: the
        // program's alerts add them in that order.
        const QList<QAbstractButton*> buttons = box.buttons();
        QStringList titles;
        for (const QAbstractButton* b : buttons)
            titles << b->text();
        return buttons.value(in->desktop.alert(box.text(), box.informativeText(), titles));
    }
    void beep() const override {
        if (in->desktop.beep)
            in->desktop.beep();
        else
            SystemDesktop::beep();
    }
    bool openUrl(const QUrl& url) const override {
        return in->desktop.openUrl ? in->desktop.openUrl(url) : SystemDesktop::openUrl(url);
    }
    bool startDetached(const QString& program, const QStringList& arguments) const override {
        return in->desktop.startDetached ? in->desktop.startDetached(program, arguments)
                                         : SystemDesktop::startDetached(program, arguments);
    }
    std::optional<QStringList> openPanel(QFileDialog& panel) const override {
        return in->desktop.openPanel ? in->desktop.openPanel(panel)
                                     : SystemDesktop::openPanel(panel);
    }
    void runSetupInTerminal(App& app) const override {
        if (in->desktop.runSetupInTerminal)
            in->desktop.runSetupInTerminal();
        else
            SystemDesktop::runSetupInTerminal(app);
    }
    Qt::MouseButtons mouseButtons() const override {
        return in->desktop.mouseButtons ? in->desktop.mouseButtons()
                                        : SystemDesktop::mouseButtons();
    }
    QPoint cursorPos() const override {
        return in->desktop.cursorPos ? in->desktop.cursorPos() : SystemDesktop::cursorPos();
    }
    void matchDeviceRate(App& app, double rate) const override {
        if (in->desktop.matchDeviceRate)
            in->desktop.matchDeviceRate(rate);
        else
            SystemDesktop::matchDeviceRate(app, rate);
    }
    const std::shared_ptr<StandIns> in;
};

class FakeAnalysers final : public SystemAnalysers {
public:
    explicit FakeAnalysers(std::shared_ptr<StandIns> standIns) : in(std::move(standIns)) {}
    StreamFacts probeAudio(const QString& path, const ProbeOptions& options) const override {
        if (options.cutShort && in->analysers.timedProbe)
            return in->analysers.timedProbe(path, *options.cutShort);
        return in->analysers.probeAudio ? in->analysers.probeAudio(path)
                                        : SystemAnalysers::probeAudio(path, options);
    }
    std::optional<ScanResult> analyzeScan(const QString& path,
                                          const AnalysisTools& tools) const override {
        return in->analysers.analyzeScan ? in->analysers.analyzeScan(path)
                                         : SystemAnalysers::analyzeScan(path, tools);
    }
    std::optional<Sonic> analyzeSonic(const QString& path,
                                      const AnalysisTools& tools) const override {
        return in->analysers.analyzeSonic ? in->analysers.analyzeSonic(path)
                                          : SystemAnalysers::analyzeSonic(path, tools);
    }
    RenderResult renderFX(const RenderSnapshot& snapshot) const override {
        return in->analysers.renderFX ? in->analysers.renderFX(snapshot)
                                      : SystemAnalysers::renderFX(snapshot);
    }
    std::optional<double> upsampleTarget(double rate, int mode,
                                         const std::vector<double>& rates) const override {
        return in->analysers.upsampleTarget ? in->analysers.upsampleTarget(rate, mode, rates)
                                            : SystemAnalysers::upsampleTarget(rate, mode, rates);
    }
    std::optional<QString> fxSignature(const App& app) const override {
        return in->analysers.fxSignature ? in->analysers.fxSignature()
                                         : SystemAnalysers::fxSignature(app);
    }
    void loadArt(App& app, const Track& track) const override {
        if (in->analysers.loadArt)
            in->analysers.loadArt(track);
        else
            SystemAnalysers::loadArt(app, track);
    }
    void groupCover(App& app, const AlbumItem& item, const CoverTicket& ticket,
                    std::function<void(const QImage&)> done) const override {
        if (in->analysers.groupCover)
            in->analysers.groupCover(item, std::move(done));
        else
            SystemAnalysers::groupCover(app, item, ticket, std::move(done));
    }
    const std::shared_ptr<StandIns> in;
};

class FakeObserver final : public SystemObserver {
public:
    explicit FakeObserver(std::shared_ptr<StandIns> standIns) : in(std::move(standIns)) {}
    void trace(const QString& step, const QStringList& files) const override {
        if (in->observer.trace)
            in->observer.trace(step, files);
    }
    bool tickStep(const char* step) const override {
        return in->observer.tickStep ? in->observer.tickStep(step) : SystemObserver::tickStep(step);
    }
    void playRequest(const Track& track) const override {
        if (in->observer.playRequest)
            in->observer.playRequest(track);
    }
    bool fallbackRoad(const char* road, const Track& track, quint64 generation) const override {
        if (!in->observer.fallbackRoad)
            return SystemObserver::fallbackRoad(road, track, generation);
        in->observer.fallbackRoad(road, track, generation);
        return true;
    }
    bool qualityProbe(const Track& track) const override {
        if (!in->observer.qualityProbe)
            return SystemObserver::qualityProbe(track);
        in->observer.qualityProbe(track);
        return true;
    }
    bool groupAway(std::size_t tracks) const override {
        return in->observer.groupAway ? in->observer.groupAway(tracks)
                                      : SystemObserver::groupAway(tracks);
    }
    void poolGroupingStarts() const override {
        if (in->observer.poolGroupingStarts)
            in->observer.poolGroupingStarts();
    }
    const std::shared_ptr<StandIns> in;
};

// Services that act as the system's until a test sets a stand-in.
inline AppServices fakeServices() {
    auto in = std::make_shared<StandIns>();
    AppServices s;
    s.clock = std::make_shared<FakeClock>(in);
    s.tools = std::make_shared<FakeTools>(in);
    s.desktop = std::make_shared<FakeDesktop>(in);
    s.analysers = std::make_shared<FakeAnalysers>(in);
    s.observer = std::make_shared<FakeObserver>(in);
    return s;
}

// The stand-ins of an App built with fakeServices().
inline StandIns& fakes(const App& app) {
    const auto* clock = dynamic_cast<const FakeClock*>(app.services.clock.get());
    if (!clock)
        qFatal("the App was not built with test::fakeServices()");
    return *clock->in;
}

} // namespace ql::test
