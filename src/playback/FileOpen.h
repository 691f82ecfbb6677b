// An audio file opened on a pool thread for the main thread.
//
// Opening reads a file's headers, and headers can hold huge tag blocks: an
// MPEG-4 file's freeform tags, an MP3's ID3 frames. FFmpeg and libsndfile
// gather tags at a cost that grows with the square of their number, so a
// hundred thousand of them take tens of seconds. The main thread therefore
// never opens a file the user gave: it starts a FileOpen and takes the file
// from it once it has answered (or waits a short, bounded while for that).
//
// An open has kLimitMs to answer. One still running then is overdue and
// counts as too slow; a file FFmpeg reads is broken off at that deadline
// (CodecReader.h), one libsndfile reads is left to finish and its result is
// dropped. Either way the file is refused as too slow (`tooSlow`), never
// played after the user has been told it cannot be.
//
// Thread: made and read on the main thread; its job fills it on a pool.
#pragma once

#include "platform/audio/AudioFile.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QThreadPool;

namespace ql {

class FileOpen {
public:
    static constexpr int kLimitMs = platform::AudioFile::kOpenLimitMs;
    // What the main thread may wait for an answer: well above an ordinary
    // open on a busy machine, well below what a window may stall for.
    static constexpr int kWaitMs = 40;

    struct Answer {
        std::unique_ptr<platform::AudioFile> file;
        QString error;               // why it did not open
        bool tooSlow = false;        // it did not answer within kLimitMs
        bool keptFromFfmpeg = false; // as AudioFile::Opened's
    };

    // Opens `path` on `pool`; `answered` is called on the pool thread once
    // the open is done (not when it is merely overdue).
    static std::shared_ptr<FileOpen> start(QThreadPool& pool, const QString& path,
                                           std::function<void()> answered);

    const QString& path() const { return m_path; }
    bool answered() const;
    // Waits up to `ms` for the answer; true when it has come.
    bool wait(int ms) const;
    // Not answered, and its time is up.
    bool overdue() const;
    // Milliseconds until it is overdue (0 once it is).
    qint64 msLeft() const { return m_deadline.remainingTime(); }
    // Milliseconds since it answered; -1 before.
    qint64 answerAge() const;
    // The file's sample rate once it answered and opened; 0 otherwise.
    double rate() const;
    // The answer, once answered or overdue (the file is handed out once);
    // an overdue open's answer is a refusal.
    Answer take();

private:
    explicit FileOpen(const QString& path);

    const QString m_path;
    const QDeadlineTimer m_deadline;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_done;
    bool m_answered = false;
    QElapsedTimer m_answeredAt;
    Answer m_answer;
};

} // namespace ql
