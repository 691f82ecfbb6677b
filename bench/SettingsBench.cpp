// The settings writes of a search keystroke with shuffle on: every keystroke
// stores "librarySearch" and a new "visibleTrackOrder" of 100,000 ids.
//  - settings/keystroke: one keystroke's saveViewState() on the run's
//    settings object (the file is written later);
//  - settings/burst-of-20: twenty keystrokes and the main thread's share of
//    the one write of the file that follows them (main-thread CPU time, the
//    wait for the timer left out), given per keystroke;
//  - settings/direct-write: the same two keys stored the earlier way, through
//    a settings object made for the write, which reads the file and writes
//    it back whole. The baseline of both.
// Goal: a keystroke of the burst within 1 ms. Runs in a temporary home.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/StoredOrder.h"

#include "BenchHome.h"
#include "RatioReporter.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QSettings>

#include <ctime>
#include <memory>

using namespace ql;

namespace {

constexpr int kIds = 100000;
constexpr int kBurst = 20;

TrackIds manyIds() {
    TrackIds ids(std::size_t(kIds), 0);
    for (std::size_t i = 0; i < ids.size(); ++i)
        ids[i] = qint64(i) + 1;
    return ids;
}

// One keystroke's view state: another text and another order.
void keystroke(App& app, TrackIds& ids, int n) {
    std::swap(ids[std::size_t(n) % ids.size()], ids.back());
    app.browser.orderedIDs = ids;
    app.search->setText(QString::number(n));
    app.saveViewState();
}

void perKeystroke(benchmark::State& state) {
    platform::Platform plat;
    App app(plat);
    TrackIds ids = manyIds();
    int n = 0;
    for (auto _ : state)
        keystroke(app, ids, ++n);
    UserDefaults().sync();
}

// Main-thread CPU time: the wait for the timer is idle, not work.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void burstOf20(benchmark::State& state) {
    platform::Platform plat;
    App app(plat);
    TrackIds ids = manyIds();
    int n = 0;
    for (auto _ : state) {
        const quint64 writes = UserDefaults::fileWrites();
        const double start = threadSeconds();
        for (int k = 0; k < kBurst; ++k)
            keystroke(app, ids, ++n);
        // The coalesced write, started by its timer a second later.
        while (UserDefaults::fileWrites() == writes)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.SetIterationTime((threadSeconds() - start) / kBurst);
        UserDefaults().sync(); // joins the write before the next burst
    }
}

void directWrite(benchmark::State& state) {
    TrackIds ids = manyIds();
    int n = 0;
    for (auto _ : state) {
        std::swap(ids[std::size_t(++n) % ids.size()], ids.back());
        // A file of its own, so that it shares nothing with the run's object.
        QSettings settings(UserDefaults().fileName() + QStringLiteral(".earlier"),
                           QSettings::IniFormat);
        settings.setValue(keys::kLibrarySearch, QString::number(n));
        settings.setValue(keys::kVisibleTrackOrder, idsToSetting(ids));
        settings.sync();
    }
}

} // namespace

int main(int argc, char** argv) {
    bench::BenchHome home;
    QApplication application(argc, argv);

    bench::RatioReporter reporter;
    benchmark::RegisterBenchmark("settings/direct-write/100000", directWrite)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("settings/keystroke/100000", perKeystroke)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("settings/burst-of-20/100000", burstOf20)
        ->UseManualTime()
        ->Iterations(10)
        ->Unit(benchmark::kMillisecond);
    reporter.pair("settings/keystroke/100000", "settings/direct-write/100000");
    reporter.pair("settings/burst-of-20/100000", "settings/direct-write/100000");
    reporter.goal("settings/burst-of-20/100000", 1);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
