// An flock lock held for the lifetime of the object, on a descriptor it
// owns: the lock file of a work folder's base, a settings folder itself.
// Closing the descriptor frees the lock, so nothing else has to.
#pragma once

namespace ql {

class FlockHold {
public:
    // Takes `fd` (closed here whatever happens) and locks it with
    // `operation` (LOCK_EX, LOCK_SH, with LOCK_NB or not), retried while a
    // signal interrupts it. Not held when `fd` is negative or the lock is
    // refused (LOCK_NB and another holder).
    FlockHold(int fd, int operation);
    ~FlockHold();
    FlockHold(const FlockHold&) = delete;
    FlockHold& operator=(const FlockHold&) = delete;

    bool held() const { return m_fd >= 0; }

private:
    int m_fd;
};

} // namespace ql
