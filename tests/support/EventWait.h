// Guards against: (fixture) a test's own wait answering the program's queued
// calls late, so that its slowness is counted as the program's.
// QTest::qWaitFor handles the pending events and then sleeps 10 ms, whatever
// arrives meanwhile; the program's own event loop answers a queued call as
// soon as it is posted. Where a row measures how fast the program reacts
// (a track's end handed to the main thread, the next one started), this
// wait runs a real event loop instead: it sleeps only in the event
// dispatcher, which wakes for every posted call. Header only.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace ql::test {

// Runs the event loop until `done()` holds, looking after every event
// handled and at least every millisecond; false when `timeoutMs` passed first.
template <class Predicate> bool waitInEventLoop(Predicate done, int timeoutMs) {
    if (done())
        return true;
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    QEventLoop loop;
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    look.setInterval(1);
    bool met = false;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        met = done();
        if (met || deadline.hasExpired())
            loop.quit();
    });
    look.start();
    loop.exec();
    return met;
}

// Asks the main thread a question every `everyMs` from a thread of its own,
// as a desktop's MPRIS call or a repaint would, and times each answer (the
// queued call running on the main thread). A question the asker itself sent
// more than `lateMs` after it was due is not counted: its own thread fell
// behind on a busy machine, and so says nothing of the program. stop(), on
// the main thread, lets the questions already sent be answered; any still
// unanswered then count as late.
class MainThreadAsker {
public:
    explicit MainThreadAsker(int everyMs = 50, int lateMs = 100)
        : m_every(everyMs), m_late(lateMs), m_thread([this] { ask(); }) {}
    ~MainThreadAsker() { stop(); }

    void stop() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        QCoreApplication::processEvents();
    }
    // Counted questions, and those answered later than `lateMs` (or never).
    int asked() const { return m_counts->asked.load(); }
    int late() const { return m_counts->asked.load() - m_counts->onTime.load(); }
    // The longest wait of an answered question, in milliseconds.
    long long longestMs() const { return m_counts->longest.load(); }

private:
    using Clock = std::chrono::steady_clock;
    struct Counts {
        std::atomic<int> asked{0}, onTime{0};
        std::atomic<long long> longest{0};
    };

    void ask() {
        Clock::time_point due = Clock::now();
        std::unique_lock lock(m_mutex);
        while (!m_stopped) {
            due += std::chrono::milliseconds(m_every);
            if (m_wake.wait_until(lock, due, [this] { return m_stopped; }))
                break;
            const Clock::time_point sent = Clock::now();
            if (sent - due > std::chrono::milliseconds(m_late)) {
                due = sent; // the asker's own lateness: not counted
                continue;
            }
            ++m_counts->asked;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [counts = m_counts, late = m_late, sent] {
                    const long long waited =
                        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent)
                            .count();
                    if (waited <= late)
                        ++counts->onTime;
                    long long longest = counts->longest.load();
                    while (waited > longest &&
                           !counts->longest.compare_exchange_weak(longest, waited)) {
                    }
                },
                Qt::QueuedConnection);
        }
    }

    const int m_every, m_late;
    const std::shared_ptr<Counts> m_counts = std::make_shared<Counts>();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopped = false;
    std::thread m_thread;
};

} // namespace ql::test
