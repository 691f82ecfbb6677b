// Writes JSON stores on a thread of its own, so that encoding and replacing a
// large store (100,000 genres: about 160 ms) never stops the window.
//
// submit(path, write): `write` holds a snapshot of the value (Qt's containers
// copy on write, so taking one costs nothing until the caller changes the
// value) and, on the writer thread, encodes it and writes it with
// JSONStore::save. Writes
// run one at a time in the order asked. A save of a file whose earlier save
// has not started yet replaces that one in its place, so the file only ever
// moves forward: a superseded value never lands after a newer one. A failed
// write is kept for JSONStore::takeOutcomes() as any store failure is, and
// the program's tick shows it.
//
// busy(path): a save of `path` waits or is being written, so a new one would
// wait for it (a caller saving often takes its snapshot later instead).
//
// finish(ms): waits, at most `ms`, until every save asked for is on disk (the
// quit). The destructor writes what is still waiting, then ends the thread.
//
// Thread: save and finish from one thread (the main thread); the thread
// starts with the first save.
#pragma once

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace ql {

class StoreWriter {
public:
    StoreWriter() = default;
    ~StoreWriter();
    StoreWriter(const StoreWriter&) = delete;
    StoreWriter& operator=(const StoreWriter&) = delete;

    // `write` runs on the writer thread and does whatever the save needs
    // (filtering the snapshot, encoding, writing); `path` names the file.
    void submit(const QString& path, std::function<void()> write);
    bool busy(const QString& path) const;
    bool finish(int ms);

    // Called on the writer thread before each write (tests hold a write back
    // with it).
    std::function<void(const QString& path)> writeStarts;

private:
    struct Write {
        QString path;
        std::function<void()> run;
    };
    void loop();
    void wake();

    mutable std::mutex m_lock;
    std::atomic<unsigned> m_wakes{0}; // counts the saves and the stop
    std::condition_variable m_idle;   // a write finished
    std::deque<Write> m_waiting;
    bool m_writing = false;
    QString m_writingPath; // while m_writing
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace ql
