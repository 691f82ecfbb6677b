// The level meter's tap on one voice: the feeder adds every sample the
// device plays (before the gain), the main thread takes the sums of a span
// and starts the next one.
//
// Two sets of sums, swapped by take(): the feeder adds to one while the main
// thread reads and clears the other. The feeder marks the set it is adding to
// (a Dekker-style flag pair), and take() waits only for an add() already
// under way on the set it swaps out — a few microseconds — so no sample is
// counted twice or lost between two spans.
//
// Threads: setEnabled() and take() on the main thread; add() on the feeder,
// where it never allocates, locks or waits.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ql::platform {

class MeterTap {
public:
    static constexpr int kMaxChannels = 8;

    // What was handed out in one span, per stream channel.
    struct Span {
        std::array<double, kMaxChannels> sumSquares{};
        std::array<double, kMaxChannels> peak{}; // largest absolute sample
        std::int64_t samples = 0;                // over all channels
        int channels = 0;                        // of the stream; 0 when nothing was added
    };

    // A power (mean square, or a squared peak) in dB relative to full
    // scale, floored at −160; not-finite powers read as the floor.
    static float decibels(double power);

    // ---- main thread ----
    // Off by default; turning it on starts an empty span.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled.load(std::memory_order_relaxed); }
    // The span since the previous take() (empty when disabled).
    Span take();

    // ---- feeder ----
    // Adds `count` interleaved samples of a `channels`-channel stream whose
    // first sample belongs to channel `firstChannel`.
    void add(const double* samples, std::size_t count, int channels, int firstChannel);

    // The sums of one block, measured when it is mixed and added once the
    // device has played it (a voice keeps a few in a delay line).
    struct Block {
        std::array<double, kMaxChannels> sumSquares{};
        std::array<double, kMaxChannels> peak{};
        std::int64_t samples = 0;
        int channels = 0;
    };
    static void measure(Block& block, const double* samples, std::size_t count, int channels,
                        int firstChannel);
    void addBlock(const Block& block);

private:
    struct Sums {
        std::array<std::atomic<double>, kMaxChannels> sumSquares{};
        std::array<std::atomic<double>, kMaxChannels> peak{};
        std::atomic<std::int64_t> samples{0};
        std::atomic<int> channels{0};
    };
    void clear(Sums& s);

    std::array<Sums, 2> m_sums;
    std::atomic<int> m_slot{0};  // the set the feeder adds to
    std::atomic<int> m_busy{-1}; // the set an add() is writing, -1 none
    std::atomic<bool> m_enabled{false};
};

} // namespace ql::platform
