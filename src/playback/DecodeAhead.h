// The decode job: a file our player cannot read as it is (WavPack, an MP3
// whose length cannot be trusted, …) decoded by ffmpeg into the work folder,
// for the play request whose decode road needs it or, ahead, for the track
// that plays next. One job serves both: the play request that comes for a
// track being decoded ahead joins its job rather than decoding again.
//
// A job works from a snapshot taken on the main thread, so it reads no App
// state. Its output (named on the main thread) is made empty with mode 0600
// before ffmpeg writes it, and registered in `inFlight` from then on until
// it is deleted or handed back, so the quit deletes whatever a job leaves.
// Its ffmpeg has the whole-file time limit of every other child. A job is
// stopped through its `stop`: its ffmpeg is killed at once (or never
// started), and whoever stops it takes its output out of `inFlight` and
// deletes it then, without waiting for the job to notice. The `seats` are
// shared with the effects renders' first stage: at most two ffmpeg writers
// run at once, whatever they write (WriterSeat), and a stopped job's child
// is gone before another writer starts.
//
// A decode stands for its source only while the source is the file it was
// when the decode began (`stamp`: the same file, size and modification time).
//
// A job is made of two steps: decodeTouch, the first touch of the source
// (its stamp, our reader's refusal, FFmpeg's verdict), run by the file's
// reader (platform/UserFiles.h) so that a source its disk holds holds no
// queue; then decodeRun, ffmpeg's decode of a source that answered, on the
// render queue.
//
// Thread: each step blocks a background job's thread (it reads the file or
// waits for ffmpeg), never the main one.
#pragma once

#include "app/DecodeCommand.h"
#include "app/FailureText.h"
#include "app/FileStamp.h"
#include "platform/ChildProcess.h"

#include <QSemaphore>
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
    QString output;     // the decoded file, in the run's work folder
    QString currentDir; // against which a relative track path is read
    // For the look ahead: first read the file as our player would (one it
    // reads needs no decode), and keep a decode only when our player reads
    // it. The decode road comes after our player failed, and tells itself
    // what is wrong with a decode it cannot play.
    bool ahead = false;
    std::shared_ptr<platform::ChildRegistry> children;
    std::shared_ptr<InFlightFiles> inFlight;
    std::shared_ptr<platform::ChildStop> stop;
    std::shared_ptr<QSemaphore> seats;
};

struct DecodeOutcome {
    // Our player reads the file as it is: nothing was decoded.
    bool direct = false;
    // Else the decoded file, still registered in `inFlight`; none when the
    // decode failed or was stopped.
    std::optional<QString> file;
    // Why it failed, when the work folder was to blame.
    WorkFileFault workFault = WorkFileFault::None;
    // Set when ffmpeg could not be started: why.
    std::optional<Failure> notStarted;
    // The source as the decode began.
    FileStamp stamp;
    // Its disk did not answer in time (or is known not to): nothing was read.
    bool tooSlow = false;
};

// The first touch: the source's stamp, and the outcome when no decode is
// to run (stopped, read directly, or kept from FFmpeg).
struct DecodeTouch {
    FileStamp stamp;
    std::optional<DecodeOutcome> answer;
};
DecodeTouch decodeTouch(const DecodeSnapshot& snapshot, bool keptFromFfmpeg);
// The decode of a source that answered its touch as `stamp`.
DecodeOutcome decodeRun(const DecodeSnapshot& snapshot, const FileStamp& stamp);
// Both steps on the calling thread.
DecodeOutcome decodeBlocking(const DecodeSnapshot& snapshot);

// One of the seats of the ffmpeg writers, held for its lifetime: taken by
// waiting until one is free, or none when `stop` was requested first (a
// stopped writer still holding its seat ends within its poll, so a writer
// that was asked for never runs beside it). No `seats`: no bound.
class WriterSeat {
public:
    WriterSeat(std::shared_ptr<QSemaphore> seats, const platform::ChildStop& stop);
    ~WriterSeat();
    WriterSeat(const WriterSeat&) = delete;
    WriterSeat& operator=(const WriterSeat&) = delete;
    // Whether the seat was taken (or no bound applies).
    explicit operator bool() const { return m_taken; }

private:
    std::shared_ptr<QSemaphore> m_seats;
    bool m_taken = false;
};

// Runs `ffmpeg` with `arguments` (a decode, or a render's first stage)
// within the whole-file limit for `duration` seconds, registered in
// `children` and ended early by `stop` if given, keeping the end of what it
// prints on standard error (see ffmpegWriteFault).
platform::ChildRun runDecodeCommand(const QString& ffmpeg, const QStringList& arguments,
                                    double duration,
                                    std::shared_ptr<platform::ChildRegistry> children,
                                    std::shared_ptr<const platform::ChildStop> stop = {});

} // namespace ql
