// The way back from sonic analyses to the main thread, and the count of
// analysis jobs still running, shared by the controller and its jobs.
//
// A job (the background scan's loop, or one on-demand analysis) never
// touches the controller: it holds this object shared and hands each of its
// results to post(), which queues the step to the main thread. A step runs
// there only while the gate is open; the quit closes it (main thread), so a
// result that arrives later, also one queued before the close, is dropped
// instead of reaching a controller that is being torn down. Steps posted from
// one thread run in the order they were posted. (A Delivery, app/Delivery.h,
// would drop a step only once the controller is destroyed: too late here.)
//
// begin() is called on the main thread when a job is dispatched, and the job
// holds its handle until it is done; waitIdle() lets the quit wait for the
// running jobs with a bound.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace ql {

class SonicJobs final : public std::enable_shared_from_this<SonicJobs> {
public:
    // Any thread: `step` runs on the main thread while the gate is open.
    void post(std::function<void()> step);
    // Main thread: from now on no step runs.
    void close();
    bool isOpen() const;

    // A job dispatched on the main thread: it counts as running until the
    // last copy of the handle is gone (also when its queue dropped it unrun).
    class Running {
    public:
        explicit Running(std::shared_ptr<SonicJobs> jobs);
        ~Running();
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        std::shared_ptr<SonicJobs> m_jobs;
    };
    std::shared_ptr<Running> begin();
    // Waits until no job runs, at most `ms` milliseconds; true when none does.
    bool waitIdle(int ms);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_running = 0;
    bool m_open = true;
};

} // namespace ql
