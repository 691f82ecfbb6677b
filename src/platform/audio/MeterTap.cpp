#include "platform/audio/MeterTap.h"

#include <cmath>
#include <thread>

namespace ql::platform {

void MeterTap::clear(Sums& s) {
    for (int c = 0; c < kMaxChannels; ++c) {
        s.sumSquares[std::size_t(c)].store(0.0, std::memory_order_relaxed);
        s.peak[std::size_t(c)].store(0.0, std::memory_order_relaxed);
    }
    s.samples.store(0, std::memory_order_relaxed);
    s.channels.store(0, std::memory_order_relaxed);
}

float MeterTap::decibels(double power) {
    constexpr double kFloor = -160.0;
    const double db = 10.0 * std::log10(power);
    if (!std::isfinite(db) || db < kFloor)
        return float(kFloor);
    return float(db);
}

void MeterTap::setEnabled(bool enabled) {
    if (enabled == isEnabled())
        return;
    if (enabled)
        take(); // what a feeder added before is not part of the first span
    m_enabled.store(enabled);
}

MeterTap::Span MeterTap::take() {
    const int old = m_slot.load();
    m_slot.store(old ^ 1);
    // An add() that chose the old set before the swap finishes first; one
    // that starts now sees the new set.
    while (m_busy.load() == old)
        std::this_thread::yield();
    Sums& s = m_sums[std::size_t(old)];
    Span span;
    if (isEnabled()) {
        for (int c = 0; c < kMaxChannels; ++c) {
            span.sumSquares[std::size_t(c)] =
                s.sumSquares[std::size_t(c)].load(std::memory_order_relaxed);
            span.peak[std::size_t(c)] = s.peak[std::size_t(c)].load(std::memory_order_relaxed);
        }
        span.samples = s.samples.load(std::memory_order_relaxed);
        span.channels = s.channels.load(std::memory_order_relaxed);
    }
    clear(s);
    return span;
}

void MeterTap::measure(Block& b, const double* samples, std::size_t count, int channels,
                       int firstChannel) {
    if (count == 0 || channels <= 0)
        return;
    int c = firstChannel % channels;
    for (std::size_t i = 0; i < count; ++i) {
        if (c < kMaxChannels) {
            const double x = samples[i];
            b.sumSquares[std::size_t(c)] += x * x;
            // A NaN never compares greater, so it is carried by the sum alone
            // (and the reading of that span is then the floor).
            const double a = std::abs(x);
            if (a > b.peak[std::size_t(c)])
                b.peak[std::size_t(c)] = a;
        }
        if (++c == channels)
            c = 0;
    }
    b.samples += std::int64_t(count);
    b.channels = channels;
}

void MeterTap::add(const double* samples, std::size_t count, int channels, int firstChannel) {
    if (count == 0 || channels <= 0 || !m_enabled.load(std::memory_order_relaxed))
        return;
    Block b;
    measure(b, samples, count, channels, firstChannel);
    addBlock(b);
}

void MeterTap::addBlock(const Block& b) {
    if (b.samples == 0 || b.channels <= 0 || !m_enabled.load(std::memory_order_relaxed))
        return;
    int slot = m_slot.load();
    for (;;) {
        m_busy.store(slot);
        const int now = m_slot.load();
        if (now == slot)
            break;
        slot = now;
    }
    Sums& s = m_sums[std::size_t(slot)];
    for (int k = 0; k < std::min(b.channels, kMaxChannels); ++k) {
        auto& total = s.sumSquares[std::size_t(k)];
        total.store(total.load(std::memory_order_relaxed) + b.sumSquares[std::size_t(k)],
                    std::memory_order_relaxed);
        auto& p = s.peak[std::size_t(k)];
        if (b.peak[std::size_t(k)] > p.load(std::memory_order_relaxed))
            p.store(b.peak[std::size_t(k)], std::memory_order_relaxed);
    }
    s.samples.fetch_add(b.samples, std::memory_order_relaxed);
    s.channels.store(b.channels, std::memory_order_relaxed);
    m_busy.store(-1, std::memory_order_release);
}

} // namespace ql::platform
