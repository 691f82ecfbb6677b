// Watches the main thread from a thread of its own, as a client that asks the
// window something every 20 ms over one connection (a desktop's Now Playing
// asking the playback status) would: each question is posted to the main
// thread, queued behind whatever is waiting there, and the next one goes 20 ms
// after the answer. A question's wait is what the user meets as a frozen
// window.
//
// A wait on a busy machine also holds the time the main thread was ready but
// had no core: the kernel counts it for each thread (/proc/.../schedstat, the
// run-queue wait), and the monitor takes it off, so "own" is what the program
// made the window wait: its work and what it blocked on (a lock, a write, a
// page fault), not the machine's other load. The main thread reads its own
// counters when it answers; the monitor reads them when it asks.
//
// Also `ThreadClock`: the calling thread's run-queue wait and CPU time, for
// timing single steps the same way.
//
// Make on the main thread; start/stop from it; figures after stop.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ql::bench {

inline double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One thread's run-queue wait (seconds), read from its schedstat; 0 where the
// kernel does not keep it.
class RunQueueWait {
public:
    explicit RunQueueWait(pid_t tid) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", int(tid));
        m_fd = ::open(path, O_RDONLY | O_CLOEXEC);
    }
    ~RunQueueWait() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RunQueueWait(const RunQueueWait&) = delete;
    RunQueueWait& operator=(const RunQueueWait&) = delete;
    bool available() const { return m_fd >= 0; }
    double seconds() const {
        if (m_fd < 0)
            return 0;
        char text[96] = {};
        // "<run ns> <wait ns> <slices>"; read again from the start each time.
        if (::pread(m_fd, text, sizeof text - 1, 0) <= 0)
            return 0;
        unsigned long long run = 0, wait = 0;
        if (std::sscanf(text, "%llu %llu", &run, &wait) != 2)
            return 0;
        return double(wait) * 1e-9;
    }

private:
    int m_fd = -1;
};

inline pid_t currentTid() {
    return pid_t(::syscall(SYS_gettid));
}

// The calling thread's clock: wall time, CPU time and run-queue wait.
class ThreadClock {
public:
    struct Stamp {
        double wall = 0, cpu = 0, queued = 0;
        // The wall time less the run-queue wait: the thread's own.
        double ownSince(const Stamp& start) const {
            return std::max(0.0, (wall - start.wall) - (queued - start.queued));
        }
    };
    ThreadClock() : m_wait(currentTid()) {}
    Stamp now() const {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return {wallSeconds(), double(t.tv_sec) + double(t.tv_nsec) * 1e-9, m_wait.seconds()};
    }
    bool countsQueueing() const { return m_wait.available(); }

private:
    RunQueueWait m_wait;
};

class StallMonitor {
public:
    struct Figures {
        int questions = 0;
        int over20ms = 0;           // questions whose own wait passed 20 ms
        double longestWall = 0;     // seconds, as the client saw it
        double longestOwn = 0;      // seconds, less the main thread's run-queue wait
        double queuedInLongest = 0; // the run-queue wait inside the longest own wait
    };

    // `answerer` lives on the main thread.
    explicit StallMonitor(QObject* answerer, double intervalSeconds = 0.020)
        : m_answerer(answerer), m_interval(intervalSeconds), m_mainWait(currentTid()) {}
    ~StallMonitor() { stop(); }

    void start() {
        m_stop = false;
        m_thread = std::thread([this] { run(); });
    }
    // Waits for the question in flight to be answered (the main thread must
    // not be the one waiting: stop() answers it by running the event loop).
    Figures stop() {
        if (!m_thread.joinable())
            return m_figures;
        {
            // Under the lock: the monitor either is waiting for an answer
            // already or sees the stop before it asks again.
            std::lock_guard lock(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        while (!m_idle.load())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        m_thread.join();
        return m_figures;
    }

private:
    void run() {
        for (;;) {
            {
                // With stop(): either the stop is seen here, or stop() sees
                // the question in flight and answers it.
                std::lock_guard lock(m_lock);
                if (m_stop.load())
                    break;
                m_idle = false;
            }
            const double asked = wallSeconds();
            const double queuedBefore = m_mainWait.seconds();
            m_answered = false;
            // The answer takes no lock: a monitor that the machine leaves
            // waiting for a core must not hold the main thread up.
            QMetaObject::invokeMethod(
                m_answerer,
                [this] {
                    m_answerAt = wallSeconds();
                    m_answerQueued = m_mainWait.seconds();
                    m_answered.store(true, std::memory_order_release);
                    m_answered.notify_all();
                },
                Qt::QueuedConnection);
            m_answered.wait(false, std::memory_order_acquire);
            const double wall = m_answerAt - asked;
            const double queued = std::max(0.0, m_answerQueued - queuedBefore);
            const double own = std::max(0.0, wall - queued);
            ++m_figures.questions;
            m_figures.longestWall = std::max(m_figures.longestWall, wall);
            if (own > m_figures.longestOwn) {
                m_figures.longestOwn = own;
                m_figures.queuedInLongest = queued;
            }
            if (own > 0.020)
                ++m_figures.over20ms;
            std::unique_lock lock(m_lock);
            m_idle = true;
            m_wake.wait_for(lock, std::chrono::duration<double>(m_interval),
                            [this] { return m_stop.load(); });
        }
        m_idle = true;
    }

    QObject* m_answerer;
    double m_interval;
    RunQueueWait m_mainWait; // the main thread's, read from either thread
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::atomic<bool> m_answered{false};
    double m_answerAt = 0, m_answerQueued = 0; // written before m_answered is set
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_idle{true};
    Figures m_figures;
};

} // namespace ql::bench
