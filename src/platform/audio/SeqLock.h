// A small value that one thread writes and other threads read without a
// lock: a sequence counter, odd while the writer changes the value, lets a
// reader retry when its copy raced with a write. The writer never waits; a
// reader waits only for a write already under way (a few stores).
//
// The value is kept as 64-bit atomic words, so no access is a data race; T
// must be trivially copyable and a whole number of words long, with no
// padding. store() is for the one writer thread only. Allocation never
// happens.
#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <type_traits>

namespace ql::platform {

template <typename T> class SeqLock {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) % 8 == 0);

public:
    explicit SeqLock(const T& value = T{}) { write(value); }

    void store(const T& value) {
        const std::uint32_t seq = m_seq.load(std::memory_order_relaxed);
        m_seq.store(seq + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        write(value);
        m_seq.store(seq + 2, std::memory_order_release);
    }

    // The value, and in `version` the count of stores before it (twice
    // over), which tells one stored value from the next even when equal.
    T load(std::uint32_t* version = nullptr) const {
        for (;;) {
            const std::uint32_t a = m_seq.load(std::memory_order_acquire);
            if (a & 1)
                continue;
            Words words;
            for (std::size_t i = 0; i < kWords; ++i)
                words[i] = m_words[i].load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (m_seq.load(std::memory_order_relaxed) != a)
                continue;
            if (version)
                *version = a;
            return std::bit_cast<T>(words);
        }
    }

private:
    static constexpr std::size_t kWords = sizeof(T) / 8;
    using Words = std::array<std::uint64_t, kWords>;

    void write(const T& value) {
        const auto words = std::bit_cast<Words>(value);
        for (std::size_t i = 0; i < kWords; ++i)
            m_words[i].store(words[i], std::memory_order_relaxed);
    }

    std::atomic<std::uint32_t> m_seq{0};
    std::array<std::atomic<std::uint64_t>, kWords> m_words{};
};

} // namespace ql::platform
