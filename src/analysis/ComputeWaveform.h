// computeWaveform: a file's waveform peaks (see WaveformPeaks.h), decoded by
// ffmpeg as a child process under the whole-file limit (120 s plus the
// file's duration) and ended by the quit through the registry. Any failure
// (no ffmpeg, no audio, a run cut short) gives empty peaks; the exit status
// is not judged: whatever the run wrote in time is used. Blocking; any
// thread but the main one; no state.
#pragma once

#include "analysis/WaveformPeaks.h"
#include "platform/ChildProcess.h"

namespace ql {

struct WaveformOptions {
    // ffmpeg; toolPath("ffmpeg") when empty.
    QString program;
    // The file's length in seconds, for the time limit (0 when unknown).
    double duration = 0;
    std::shared_ptr<platform::ChildRegistry> registry;
    // Ends the run alone (its track no longer plays): empty peaks.
    std::shared_ptr<const platform::ChildStop> stop;
};

WavePeaks computeWaveform(const QString& path, const WaveformOptions& options = {},
                          int buckets = kWaveBuckets);

} // namespace ql
