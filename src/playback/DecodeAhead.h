// The decode road, made ahead for the track that plays next: whether our
// player reads the track's file as it is, and when it does not, the file
// decoded by ffmpeg as the decode road would decode it (DecodeCommand.h),
// so that the change into the track waits for nothing and a gapless join can
// take it.
//
// A job works from a snapshot taken on the main thread, so it reads no App
// state. Its output is made empty with mode 0600 in the run's work folder
// before ffmpeg writes it, and registered in `inFlight` from then on until it
// is deleted or handed back, so the quit deletes whatever a job leaves.
//
// Thread: decodeAheadBlocking blocks a background job's thread (it reads the
// file and waits for ffmpeg), never the main one.
#pragma once

#include "app/DecodeCommand.h"
#include "platform/ChildProcess.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace ql {

class InFlightFiles;

struct DecodeSnapshot {
    QString path;
    double duration = 0; // seconds; lengthens ffmpeg's time limit
    QString ffmpeg;
    QString tempDir;    // where the decoded file is written
    QString currentDir; // against which a relative track path is read
    std::shared_ptr<platform::ChildRegistry> children;
    std::shared_ptr<InFlightFiles> inFlight;
};

struct DecodedAhead {
    // Our player reads the file as it is: nothing was decoded.
    bool direct = false;
    // Else the decoded file, still registered in `inFlight`; none when the
    // decode failed (the play request's own decode road then tells why).
    std::optional<QString> file;
    // Why it failed, when the work folder was to blame.
    WorkFileFault workFault = WorkFileFault::None;
};

DecodedAhead decodeAheadBlocking(const DecodeSnapshot& snapshot);

// Runs `ffmpeg` with `arguments` (a decode, or a render's first stage)
// within the whole-file limit for `duration` seconds, registered in
// `children`, keeping the end of what it prints on standard error (see
// ffmpegWriteFault).
platform::ChildRun runDecodeCommand(const QString& ffmpeg, const QStringList& arguments,
                                    double duration,
                                    std::shared_ptr<platform::ChildRegistry> children);

} // namespace ql
