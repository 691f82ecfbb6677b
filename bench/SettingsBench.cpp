// The settings writes of a search keystroke with shuffle on: every keystroke
// stores "librarySearch" and a new "visibleTrackOrder" of 100,000 ids.
//  - settings/keystroke: one keystroke's saveViewState() on the run's
//    settings object (the file is written later);
//  - settings/burst-of-20: twenty keystrokes and the one write of the file
//    that follows them, given per keystroke;
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

#include <chrono>
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

void burstOf20(benchmark::State& state) {
    platform::Platform plat;
    App app(plat);
    TrackIds ids = manyIds();
    int n = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < kBurst; ++k)
            keystroke(app, ids, ++n);
        UserDefaults().sync(); // what the timer does a second later
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count() / kBurst);
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
        ->Unit(benchmark::kMillisecond);
    reporter.pair("settings/keystroke/100000", "settings/direct-write/100000");
    reporter.pair("settings/burst-of-20/100000", "settings/direct-write/100000");
    reporter.goal("settings/burst-of-20/100000", 1);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
