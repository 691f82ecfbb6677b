// ---- services: the system's own clock, tools, desktop and analysers ----
#include "app/App.h"

#include "library/BackendImport.h"

#include <QElapsedTimer>
#include <QThread>

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

AppServices AppServices::system() {
    AppServices s;
    s.clock = std::make_shared<SystemClock>();
    return s;
}

} // namespace ql
