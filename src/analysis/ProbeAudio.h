// probeAudio: the stream facts of a file, asked of ffprobe as a child process.
//
// The one place that reads stream facts (the format line, the source-rate
// lookup, the quality analysis). The file goes to ffprobe through
// ffmpegInput(), so a name like "concat:…" or "-i" is only ever read as the
// file it is. Whatever ffprobe wrote is read, also after an error exit; a
// program that cannot be started, or a run cut short (its limit, the quit),
// gives the failure result. Blocking; any thread; no state.
#pragma once

#include "analysis/StreamFacts.h"
#include "platform/ChildProcess.h"

namespace ql {

struct ProbeOptions {
    // ffprobe; toolPath("ffprobe") when empty.
    QString program;
    int timeoutMs = platform::kProbeLimitMs;
    std::shared_ptr<platform::ChildRegistry> registry;
    // Set to whether the run was cut short or could not start: a passing
    // failure, which says nothing lasting about the file.
    bool* cutShort = nullptr;
};

StreamFacts probeAudio(const QString& path, const ProbeOptions& options = {});

} // namespace ql
