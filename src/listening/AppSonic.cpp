// ---- listening: the sonic feature index, analyses on demand, the background scan ----
//
// `listening.sonic` maps a file path to its measured features; an entry with
// `ok` false marks a file whose analysis failed, which is never tried again.
// An analysis that gives nothing (a time-out, a program that would not start)
// counts as failed for this run only (`sonicPassing`) and is never saved, so
// the next run analyses the file again.
// It is written only here, on the main thread, by merging batches of results,
// and "sonic.json" is saved after every on-demand batch, every 50 scanned
// files and at the end of every scan (and by the quit).
//
// Two kinds of jobs analyse files, one file at a time, each through its
// reader (UserFiles) and the file's own ffmpeg and ffprobe children
// (Analysers::analyzeSonic):
//  - withSonic: the few tracks a listening feature is about to compare, on the
//    ask queue "Quavelark.asks", with a completion on the main thread;
//  - startSonicScan: every catalog file without an entry, on the serial queue
//    "Quavelark.sonic", progress every 10 files on the status line.
// A job holds copies of what it needs and the shared SonicJobs, never App:
// each result goes back as a queued step carrying its own copy of the batch,
// and all steps of one scan come from its one loop, in order, so a merge runs
// before the save the same file asked for and the closing step after the
// last merge. Results merge whatever played meanwhile; a later merge of the
// same path wins.
//
// The quit sets `sonicStop` (saveExtras), closes SonicJobs, ends the child
// programs in progress (a run ended so gives no result, and later runs fail
// at once), then waits at most about 1 s for the jobs. Results not merged by
// then are dropped, never stored as failures: their files still have no
// entry, so the next scan analyses them again.
//
// The tools panel's build arms the delayed scan (scheduleSonicScan).
#include "app/App.h"

#include "analysis/AnalyzeFile.h"
#include "app/JSONStore.h"
#include "app/UserDefaults.h"
#include "listening/SonicVector.h"
#include "platform/UserFiles.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QThreadPool>
#include <QTimer>

#include <algorithm>

namespace ql {

namespace {
// Results reach the main thread this many files at a time during a scan.
constexpr int kScanBatch = 10;
// The index is written this many scanned files at a time.
constexpr int kScanSave = 50;

using Analyser = std::function<std::optional<Sonic>(const QString&)>;
using SonicBatch = QHash<QString, Sonic>;
} // namespace

std::optional<std::vector<double>> App::sonicVec(const Track& track) const {
    const auto it = listening.sonic.constFind(track.path);
    if (it == listening.sonic.cend() || !it->ok)
        return std::nullopt;
    return vec(*it);
}

Analyser App::sonicAnalyser() const {
    // Through the file's reader: a file refused as slow passes unanalysed.
    return [analysers = services.analysers, tools = analysisTools()](const QString& path) {
        std::optional<Sonic> sonic;
        platform::UserFiles::readNow(path, [&](const platform::UserFiles::Touch&) {
            sonic = analysers->analyzeSonic(path, tools);
        });
        return sonic;
    };
}

void App::mergeSonic(const SonicBatch& batch, const QSet<QString>& passing) {
    for (auto it = batch.cbegin(); it != batch.cend(); ++it) {
        listening.sonic.insert(it.key(), it.value());
        listening.sonicPassing.remove(it.key());
    }
    // A measurement already made stays.
    for (const QString& path : passing) {
        if (!listening.sonic.contains(path) || listening.sonicPassing.contains(path)) {
            listening.sonic.insert(path, Sonic());
            listening.sonicPassing.insert(path);
        }
    }
}

void App::saveSonic() {
    // A failed write is told by the tick once; the index stays whole in
    // memory and is written again at the next save point and at quit.
    SonicBatch lasting = listening.sonic;
    for (const QString& path : std::as_const(listening.sonicPassing))
        lasting.remove(path);
    core.store.save(QString::fromLatin1(stores::kSonic), lasting);
}

void App::withSonic(const std::vector<Track>& tracks, std::function<void()> done) {
    QStringList missing;
    for (const Track& t : tracks)
        if (!listening.sonic.contains(t.path))
            missing << t.path;
    if (missing.isEmpty()) {
        done();
        return;
    }
    status->setStringValue(L10n::tr(QStringLiteral("🎛 소리 분석 중…")));
    std::shared_ptr<SonicJobs> jobs = listening.sonicJobs;
    askQueue->start([app = this, jobs, running = jobs->begin(), missing, analyse = sonicAnalyser(),
                     done = std::move(done)] {
        SonicBatch results;
        QSet<QString> passing;
        // A path given twice is analysed twice; the later result stays.
        for (const QString& path : missing) {
            if (const std::optional<Sonic> sonic = analyse(path))
                results.insert(path, *sonic);
            else
                passing.insert(path);
        }
        jobs->post([app, results, passing, done] {
            app->mergeSonic(results, passing);
            app->saveSonic();
            done();
        });
    });
}

void App::startSonicScan() {
    // Once the quit has begun no result would be taken any more.
    if (listening.sonicRunning || !listening.sonicJobs->isOpen())
        return;
    listening.sonicOn = true;
    UserDefaults().set(keys::kSonicOn, true);
    const QStringList work = sonicWorkList(playback.current, library.rows, listening.sonic);
    if (work.isEmpty())
        return;
    listening.sonicRunning = true;
    listening.sonicStop->store(false, std::memory_order_relaxed);
    std::shared_ptr<SonicJobs> jobs = listening.sonicJobs;
    sonicQueue->start([app = this, jobs, running = jobs->begin(), work, stop = listening.sonicStop,
                       analyse = sonicAnalyser()] {
        const int total = int(work.size());
        SonicBatch batch;
        QSet<QString> passing;
        int count = 0;
        for (const QString& path : work) {
            if (stop->load(std::memory_order_relaxed))
                break;
            if (const std::optional<Sonic> sonic = analyse(path))
                batch.insert(path, *sonic);
            else
                passing.insert(path);
            ++count;
            if (count % kScanBatch == 0 || count == total) {
                jobs->post([app, batch, passing, count, total] {
                    app->mergeSonic(batch, passing);
                    app->status->setStringValue(L10n::tr(
                        QStringLiteral(
                            "🎛 소리 분석 %1/%2 (백그라운드, 재생에 영향 없음)")
                            .arg(count)
                            .arg(total)));
                });
                batch.clear();
                passing.clear();
            }
            if (count % kScanSave == 0)
                jobs->post([app] { app->saveSonic(); });
        }
        // Only a loop left early has results not handed over yet.
        if (!batch.isEmpty() || !passing.isEmpty())
            jobs->post([app, batch, passing] { app->mergeSonic(batch, passing); });
        jobs->post([app] {
            ListeningState& l = app->listening;
            l.sonicRunning = false;
            app->saveSonic();
            if (l.sonicStop->load(std::memory_order_relaxed))
                return;
            const auto analysed = std::count_if(l.sonic.cbegin(), l.sonic.cend(),
                                                [](const Sonic& s) { return s.ok; });
            app->status->setStringValue(
                L10n::tr(QStringLiteral("🎛 소리 분석 완료: %1곡").arg(analysed)));
        });
    });
}

void App::scheduleSonicScan() {
    // Read once, now: a scan started later in the run does not arm this.
    if (!listening.sonicOn)
        return;
    const int delay = services.clock->sonicScanDelayMs();
    QTimer::singleShot(delay, this, [this] { startSonicScan(); });
}

void App::endSonicJobs(int waitMs) {
    listening.sonicStop->store(true, std::memory_order_relaxed);
    listening.sonicJobs->close();
    listening.sonicJobs->waitIdle(waitMs);
}

} // namespace ql
