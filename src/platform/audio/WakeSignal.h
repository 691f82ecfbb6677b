// How an output engine's feeder is woken while it waits on its device: a
// counter that says something changed, and an eventfd the feeder polls
// together with the device's own descriptors.
//
// Two kinds of news: raise() (the main thread changed something: a voice
// started, paused, went away) always wakes a waiting feeder; raiseData() (a
// decoder wrote samples) wakes it only while it waits for data, so a feeder
// that waits for room on the device is not woken by every decoded block.
//
// The counter and the waiter's flag form a Dekker pair (both sequentially
// consistent): a raise either sees the waiter asleep and writes the fd, or
// happens before the waiter looks at the counter and keeps it awake.
//
// Threads: raise() and raiseData() from any thread; the rest only by the
// feeder. None of them allocates or locks.
#pragma once

#include <atomic>
#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace ql::platform {

class WakeSignal {
public:
    enum class Waiting : int { No = 0, ForRoom = 1, ForData = 2 };

    WakeSignal() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~WakeSignal() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void raise() { signal(Waiting::ForRoom); }
    void raiseData() { signal(Waiting::ForData); }

    // ---- feeder ----
    std::uint32_t count() const { return m_count.load(); }
    // Call before waiting: false when news came since `seen` (do not wait).
    bool beginWait(std::uint32_t seen, Waiting kind) {
        m_waiting.store(int(kind));
        if (m_count.load() != seen) {
            m_waiting.store(0);
            return false;
        }
        return true;
    }
    // Call after waiting: clears the fd for the next wait.
    void endWait() {
        m_waiting.store(0);
        std::uint64_t value = 0;
        [[maybe_unused]] const auto n = ::read(m_fd, &value, sizeof value);
    }
    int fd() const { return m_fd; }

private:
    void signal(Waiting atLeast) {
        m_count.fetch_add(1);
        if (m_waiting.load() >= int(atLeast)) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(m_fd, &one, sizeof one);
        }
    }

    const int m_fd;
    std::atomic<std::uint32_t> m_count{0};
    std::atomic<int> m_waiting{0};
};

} // namespace ql::platform
