// Reads a stream of lines from a file descriptor (the read end of the library
// backend's standard output) on a thread of its own, and hands out complete
// lines only.
//
// The backend answers every 2 s poll with a catalog line of some 21 MB,
// which reaches a pipe about a megabyte at a time: read where it is handled,
// every piece would wake that thread (twenty-odd wake-ups per poll on an
// idle program). Here the pieces wake this thread alone, and its owner hears
// once per batch of complete lines.
//
// Lines are cut as LineFramer cuts them (a line that outgrows its limit is
// handed out once as too long) and delivered in order. `lines` and `ended`
// are called on the reader's thread; `spare` is asked there for an array
// the next line may fill.
//
// The end: `ended` is called once, when the stream ends (every writer closed
// it) or after drain(), which reads what the pipe holds at that moment and
// stops there (for a writer that has exited while another process it left
// behind still holds the pipe open). mute() stops every call to the owner,
// but the stream is still read and dropped to its end, so a writer is never
// left blocked on a full pipe. The destructor stops the thread and closes
// the descriptor.
#pragma once

#include "library/LineFramer.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace ql {

class LineReader {
public:
    struct Line {
        QByteArray bytes; // without its line feed; empty when too long
        bool tooLong = false;
    };
    struct Hooks {
        std::function<void(std::vector<Line>)> lines;
        std::function<void()> ended;
        std::function<std::optional<QByteArray>()> spare;
    };

    // Takes over `fd` and starts reading it.
    LineReader(int fd, Hooks hooks, qsizetype maxLine = LineFramer::kMaxLine);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    void drain();
    void mute();
    bool muted() const { return m_muted.load(); }
    // Bytes of a line whose line feed has not arrived yet.
    qsizetype pendingBytes() const { return m_pending.load(); }

private:
    void run();
    // Reads all the descriptor holds now; false at its end or on an error.
    bool readAvailable();
    void finish();

    int m_fd;
    int m_wake; // an eventfd: drain() or the destructor
    Hooks m_hooks;
    LineFramer m_framer;
    std::atomic<bool> m_draining{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_muted{false};
    std::atomic<qsizetype> m_pending{0};
    std::thread m_thread;
};

} // namespace ql
