// A lock-free ring of samples between exactly one producer thread (a player's
// decoder) and one consumer thread (the feeder of the device the player is
// bound to). Indices count samples since creation and never wrap in practice
// (2^64), so "full" and "empty" need no spare slot.
//
// The consumer may jump forward to any index the producer has reached
// (skipTo), which is how a seek drops what was decoded before it without the
// producer ever touching the read side.
//
// The capacity is exactly what the owner asks for (not rounded), so an owner
// that stores frames of several samples can make it a whole number of frames
// and a full ring never ends in part of a frame.
//
// Allocation happens only in the constructor.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace ql::platform {

template <typename T> class SpscRing {
public:
    // The storage is not zeroed: nothing is read before it was written, and
    // a voice's ring is made as its track starts, where touching megabytes
    // delays the first frame on a busy machine.
    explicit SpscRing(std::size_t capacity)
        : m_capacity(capacity > 0 ? capacity : 1),
          m_data(std::make_unique_for_overwrite<T[]>(m_capacity)) {}

    std::size_t capacity() const { return m_capacity; }

    // ---- producer -----------------------------------------------------------
    std::uint64_t writeIndex() const { return m_write.load(std::memory_order_relaxed); }
    std::size_t freeSpace() const {
        return m_capacity - std::size_t(m_write.load(std::memory_order_relaxed) -
                                        m_read.load(std::memory_order_acquire));
    }
    // Appends up to `n` samples; returns how many fitted.
    std::size_t write(const T* in, std::size_t n) {
        const std::uint64_t w = m_write.load(std::memory_order_relaxed);
        const std::size_t room =
            m_capacity - std::size_t(w - m_read.load(std::memory_order_acquire));
        if (n > room)
            n = room;
        const std::size_t at = std::size_t(w % m_capacity);
        const std::size_t first = n < m_capacity - at ? n : m_capacity - at;
        for (std::size_t i = 0; i < first; ++i)
            m_data[at + i] = in[i];
        for (std::size_t i = first; i < n; ++i)
            m_data[i - first] = in[i];
        m_write.store(w + n, std::memory_order_release);
        return n;
    }

    // ---- consumer -----------------------------------------------------------
    std::uint64_t readIndex() const { return m_read.load(std::memory_order_relaxed); }
    // The producer's index, with everything written before it visible.
    std::uint64_t publishedWriteIndex() const { return m_write.load(std::memory_order_acquire); }
    // Drops everything before `index` (which the producer has reached).
    void skipTo(std::uint64_t index) {
        if (index > m_read.load(std::memory_order_relaxed))
            m_read.store(index, std::memory_order_release);
    }
    // Hands up to `n` samples to f(const T* p, size_t count) in at most two
    // contiguous runs, then releases them. The caller has checked availability
    // against publishedWriteIndex().
    template <typename F> void consume(std::size_t n, F&& f) {
        const std::uint64_t r = m_read.load(std::memory_order_relaxed);
        const std::size_t at = std::size_t(r % m_capacity);
        const std::size_t first = n < m_capacity - at ? n : m_capacity - at;
        f(&m_data[at], first);
        if (n > first)
            f(&m_data[0], n - first);
        m_read.store(r + n, std::memory_order_release);
    }

private:
    std::size_t m_capacity;
    std::unique_ptr<T[]> m_data;
    // Written by the producer, read by the consumer.
    alignas(64) std::atomic<std::uint64_t> m_write{0};
    // Written by the consumer, read by the producer.
    alignas(64) std::atomic<std::uint64_t> m_read{0};
};

} // namespace ql::platform
