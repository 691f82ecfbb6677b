// Runs the catalog's heavy steps away from the main thread: decoding and
// comparing the backend's reply lines, reading the cache at launch, and
// writing the cache.
//
// Two threads: the intake thread runs the jobs in the order they were posted
// (reply lines, the cache read, a new shown catalog, a request to save); the
// writer thread encodes and writes the cache file, so a 30 MB write never
// delays the next reply. A reply line that a newer one already follows in
// the queue is dropped unread: the newer catalog replaces it anyway. A save
// waiting for the writer is replaced by a newer one; the write itself is
// atomic (JSONStore), so the file always holds one whole catalog.
//
// Results come back to the main thread (`context`'s) through a Delivery,
// dropped once the context is gone; an update carries the generations it was
// made against, as only the main thread can tell whether it still fits.
// Without threads (the default, and what the unit tests of the window use)
// every job runs at once on the caller's thread, in the same order, with the
// same results.
#pragma once

#include "app/Delivery.h"
#include "library/CatalogIntake.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ql {

class CatalogWorker {
public:
    using Deliver = std::function<void(CatalogUpdate)>;
    using Saved = std::function<void(CatalogSave)>;

    // `deliver` gets each update, `saved` each finished write that failed,
    // both on `context`'s thread.
    CatalogWorker(QObject* context, Deliver deliver, Saved saved);
    ~CatalogWorker();
    CatalogWorker(const CatalogWorker&) = delete;
    CatalogWorker& operator=(const CatalogWorker&) = delete;

    // Starts the two threads; from then on every job runs on them.
    void startThreads();
    bool threaded() const { return m_threaded; }

    // One complete reply line.
    void line(QByteArray bytes);
    // An array a reply line came in, free to be filled again; none yet.
    std::optional<QByteArray> recycled();
    // Reads the cache file; delivers an update only when it holds a catalog.
    void restore(const QString& path);
    // The window shows `rows` (changed by the main thread itself); delivers
    // their search texts and the worker's copy of them, shared.
    void rebase(std::vector<Track> rows, quint64 generation);
    // Without threads: compare the next line with `rows` as they are now.
    void follow(const std::vector<Track>& rows, quint64 generation);
    // Writes the shown catalog of `generation` to `store`'s cache file. A
    // generation the intake has already left behind is not written: the
    // catalog that replaced it asks for its own save.
    void save(const JSONStore& store, quint64 generation);
    // Lets the intake thread free a large value the main thread let go of.
    template <class T> void retire(T&& value) {
        if (!m_threaded)
            return;
        post(Job::Other, [kept = std::make_shared<std::decay_t<T>>(std::forward<T>(value))](
                             CatalogIntake&) mutable { kept.reset(); });
    }
    // At quit: reply jobs not yet run are dropped, the saves asked for are
    // written. Waits at most `ms`; false when the writing did not finish.
    bool finish(int ms);

    // Called on the intake thread as each reply job starts (tests hold a job
    // back with it).
    std::function<void()> replyStarts;

private:
    struct Job {
        enum Kind { Reply, Other } kind;
        std::function<void(CatalogIntake&)> run;
    };
    void post(Job::Kind kind, std::function<void(CatalogIntake&)> run);
    void deliver(std::optional<CatalogUpdate> update);
    void submitWrite(JSONStore store, std::shared_ptr<const std::vector<Track>> rows);
    void intakeLoop();
    void writerLoop();

    const Delivery<QObject> m_delivery; // to the context, which owns the worker
    Deliver m_deliver;
    Saved m_saved;
    bool m_threaded = false;
    CatalogIntake m_intake;

    std::mutex m_lock;
    std::condition_variable m_wake; // new work or a stop
    std::condition_variable m_idle; // a job or a write finished
    std::deque<Job> m_jobs;
    bool m_running = false; // the intake thread runs a job
    struct Write {
        JSONStore store;
        std::shared_ptr<const std::vector<Track>> rows;
    };
    std::optional<Write> m_write; // the newest write not yet started
    bool m_writing = false;
    bool m_stop = false;
    QByteArray m_recycled;
    std::thread m_intakeThread;
    std::thread m_writerThread;
};

} // namespace ql
