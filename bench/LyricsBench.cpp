// The lyrics panel's three costs, each beside a plain line split of the same
// text in the same run:
//  - reading a 10,000-line LRC text (goal: at most 20 ms);
//  - one position update over 2,000 timed lines that keeps the lit line, as
//    nearly every one of the twenty updates a second does (goal: 50 us);
//  - one redraw of 2,000 lines: an update that moves the lit line (goal:
//    10 ms), and new lyrics drawn whole (the same goal; the text view lays
//    out beyond what shows in idle steps, also timed all at once).
#include "listening/LyricsPanel.h"
#include "listening/LyricsText.h"
#include "ui/ClickableText.h"

#include "BenchHome.h"
#include "RatioReporter.h"

#include <QApplication>
#include <QDir>
#include <QTextDocument>

#include <benchmark/benchmark.h>

using namespace ql;

namespace {

// `n` timed lines a second apart, about 40 characters each.
QString lrc(int n) {
    QString text = QStringLiteral("[ti:Bench]\n[ar:Quavelark]\n");
    for (int i = 0; i < n; ++i)
        text += QString::asprintf("[%02d:%02d.%02d]Line %d of the song, a few words more\n", i / 60,
                                  i % 60, i % 100, i);
    return text;
}

void BM_ParseLyrics10k(benchmark::State& state) {
    const QString text = lrc(10'000);
    for (auto _ : state)
        benchmark::DoNotOptimize(parseLyrics(text));
}

void BM_SplitLines10k(benchmark::State& state) {
    const QString text = lrc(10'000);
    for (auto _ : state)
        benchmark::DoNotOptimize(text.split(u'\n'));
}

void BM_SplitLines2k(benchmark::State& state) {
    const QString text = lrc(2'000);
    for (auto _ : state)
        benchmark::DoNotOptimize(text.split(u'\n'));
}

// A shown panel holding 2,000 timed lines, made by main() once the
// application exists and gone before it.
LyricsPanel* g_panel = nullptr;
LyricsPanel& panel() {
    return *g_panel;
}

void BM_UpdateKeepsLine2k(benchmark::State& state) {
    LyricsPanel& p = panel();
    // Near the end: the walk passes every line before the lit one.
    p.update(1999.2);
    for (auto _ : state)
        p.update(1999.3);
}

void BM_UpdateRedraws2k(benchmark::State& state) {
    LyricsPanel& p = panel();
    double position = 1000.2;
    for (auto _ : state) {
        position = position < 1001 ? 1001.2 : 1000.2;
        p.update(position);
        QCoreApplication::processEvents();
    }
}

// New lyrics as the main thread draws them at once: the text view lays out
// what shows, and the rest in steps while it is idle.
void BM_DrawWhole2k(benchmark::State& state) {
    LyricsPanel& p = panel();
    const LyricsData lyrics{lrc(2'000), {}};
    for (auto _ : state)
        p.apply(lyrics);
}

// The same with every line laid out at once (no goal: the steps are spread).
void BM_LayoutWhole2k(benchmark::State& state) {
    LyricsPanel& p = panel();
    const LyricsData lyrics{lrc(2'000), {}};
    for (auto _ : state) {
        p.apply(lyrics);
        benchmark::DoNotOptimize(p.text->document()->size());
    }
}

} // namespace

BENCHMARK(BM_ParseLyrics10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitLines10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UpdateKeepsLine2k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpdateRedraws2k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawWhole2k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayoutWhole2k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitLines2k)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    bench::BenchHome home(true);
    QApplication app(argc, argv);
    LyricsPanel shown(QDir::tempPath(), QUrl());
    shown.toggle();
    shown.apply(LyricsData{lrc(2'000), {}});
    g_panel = &shown;
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter;
    reporter.pair("BM_ParseLyrics10k", "BM_SplitLines10k");
    reporter.pair("BM_UpdateKeepsLine2k", "BM_SplitLines2k");
    reporter.pair("BM_UpdateRedraws2k", "BM_SplitLines2k");
    reporter.pair("BM_DrawWhole2k", "BM_SplitLines2k");
    reporter.pair("BM_LayoutWhole2k", "BM_SplitLines2k");
    reporter.goal("BM_ParseLyrics10k", 20);
    reporter.goal("BM_UpdateKeepsLine2k", 0.05);
    reporter.goal("BM_UpdateRedraws2k", 10);
    reporter.goal("BM_DrawWhole2k", 10);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
