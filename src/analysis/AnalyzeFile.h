// The two analyses that read a file through ffmpeg and ffprobe: the quality
// analysis (analyzeScan) and the sonic features (analyzeSonic).
//
// Each child run is a probe-style run (30 s at most) registered where the
// caller says, so the quit ends it; a run ended by the quit, or by its limit,
// counts as no output. Neither call touches shared state: any thread, several
// at once. Blocking for seconds, so never on the main thread.
#pragma once

#include "analysis/ScanVerdict.h"
#include "app/Records.h"
#include "platform/ChildProcess.h"

#include <memory>
#include <optional>

namespace ql {

struct AnalysisTools {
    // toolPath("ffmpeg") and toolPath("ffprobe") when empty.
    QString ffmpeg;
    QString ffprobe;
    std::shared_ptr<platform::ChildRegistry> registry;
    // Ends the runs alone (an analysis superseded by a newer one): no result.
    std::shared_ptr<const platform::ChildStop> stop;
};

// The quality analysis of a file: none when it has no audio stream, ffmpeg
// cannot run, or the excerpt holds fewer than 32768 samples.
std::optional<ScanResult> analyzeScan(const QString& path, const AnalysisTools& tools = {});

// The sonic features of a file; `ok` false when it gives under 4 s of audio
// (a lasting result). None when a run was cut short (its time limit, the
// quit) or could not start: a passing failure, which is not stored, so the
// file is analysed again later. A missing year is 0, also when ffprobe is
// missing, fails or runs out of time.
std::optional<Sonic> analyzeSonic(const QString& path, const AnalysisTools& tools = {});

} // namespace ql
