// An audio file opened on a thread of its own for the main thread.
//
// Opening reads a file's headers, and headers can hold huge tag blocks: an
// MPEG-4 file's freeform tags, an MP3's ID3 frames. FFmpeg and libsndfile
// gather tags at a cost that grows with the square of their number, so a
// hundred thousand of them take tens of seconds. And a file on a network
// mount may take that long to open at all, or never answer (a hung hard
// mount). The main thread therefore never opens a file the user gave: it
// starts a FileOpen and takes the file from it once it has answered (or
// waits a short, bounded while for that).
//
// Each open runs on a thread of its own, started at once: an open that its
// disk holds holds nothing but its own thread, never the open of the next
// file. The thread ends with its open. An open has kLimitMs to answer,
// counted from when its thread starts. One still running then is overdue
// and counts as too slow; a file FFmpeg reads is broken off at that
// deadline (CodecReader.h); libsndfile's and libmpg123's opens cannot be,
// nor can the open() a disk holds: such an open runs on, and its answer,
// when it comes, is dropped. Either way the file is refused as too slow
// (`tooSlow`), never played after the user has been told it cannot be.
//
// Opens still unanswered are capped by their owner (kMostRunning): an open
// its disk holds holds its thread for as long as the disk does, for ever on a
// hung mount, and a user skipping through a folder on such a mount would
// otherwise leave a thread behind per track. Past the cap a further open
// starts no thread: it is refused at once as too slow (turnAway), as it
// would be at its deadline.
//
// The thread owns what it touches: this object (shared with its owner) and
// the file it opens. It tells its answer through an Inbox its owner closes
// when it goes; nothing is told after that. A quit never waits for an open:
// one still held by its disk is abandoned with the process (stillRunning(),
// which main() reads to end the process without running static
// destructors under a thread that might yet wake).
//
// Thread: made and read on the main thread; its own thread fills it.
#pragma once

#include "platform/audio/AudioFile.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace ql {

class FileOpen {
public:
    static constexpr int kLimitMs = platform::AudioFile::kOpenLimitMs;
    // What the main thread may wait for an answer: well above an ordinary
    // open on a busy machine, well below what a window may stall for.
    static constexpr int kWaitMs = 40;
    // Opens an owner lets run unanswered at once. A healthy disk answers in
    // milliseconds, and a request, the successor's look ahead, the gapless
    // check and a crossfade together ask for a handful of files: only a disk
    // that holds its opens comes near this. Each held open keeps a thread,
    // its stack and the open() itself; sixteen of them are a small cost, and
    // sixteen tracks skipped on a dead mount are as many as a user tries
    // before seeing the pattern.
    static constexpr int kMostRunning = 16;

    struct Answer {
        std::unique_ptr<platform::AudioFile> file;
        QString error;               // why it did not open
        bool tooSlow = false;        // it did not answer within kLimitMs
        bool keptFromFfmpeg = false; // as AudioFile::Opened's
    };

    // Where opens tell that they answered: `tell(path)` runs on the open's
    // thread, never after close() has returned (close() waits for a call in
    // progress, which only posts).
    class Inbox {
    public:
        explicit Inbox(std::function<void(const QString& path)> tell) : m_tell(std::move(tell)) {}
        void close();

    private:
        friend class FileOpen;
        void post(const QString& path);
        std::mutex m_mutex;
        std::function<void(const QString&)> m_tell;
    };

    // Opens `path` on a thread of its own, telling `inbox` when it is done
    // (not when it is merely overdue).
    static std::shared_ptr<FileOpen> start(const QString& path, std::shared_ptr<Inbox> inbox);
    // An open of `path` that starts no thread and tells nothing: answered
    // already, refused as too slow (turnedAway()).
    static std::shared_ptr<FileOpen> turnAway(const QString& path);
    // Opens whose thread still runs, in this process: the threads a quit
    // leaves to the disk that holds them.
    static int stillRunning();

    const QString& path() const { return m_path; }
    // Refused at its start, for want of a free place (turnAway).
    bool turnedAway() const { return m_turnedAway; }
    bool answered() const;
    // Waits up to `ms` for the answer; true when it has come.
    bool wait(int ms) const;
    // Not answered, and its time is up.
    bool overdue() const;
    // Milliseconds until it is overdue (0 once it is; kLimitMs until its
    // thread starts).
    qint64 msLeft() const;
    // Milliseconds since it was asked for.
    qint64 age() const { return m_asked.elapsed(); }
    // Milliseconds since it answered; -1 before.
    qint64 answerAge() const;
    // The file's sample rate once it answered and opened; 0 otherwise.
    double rate() const;
    // It answered, past its deadline.
    bool tooSlow() const;
    // The answer, once answered or overdue (the file is handed out once);
    // an overdue open's answer is a refusal.
    Answer take();

private:
    explicit FileOpen(const QString& path);
    void run(const std::shared_ptr<Inbox>& inbox);

    const QString m_path;
    bool m_turnedAway = false;
    QElapsedTimer m_asked;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_done;
    bool m_started = false;
    QDeadlineTimer m_deadline;
    bool m_answered = false;
    QElapsedTimer m_answeredAt;
    Answer m_answer;
};

} // namespace ql
