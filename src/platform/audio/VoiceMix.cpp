// Voice's mixing on the feeder (see "Mixed tail", "Metering" and "Gain" in
// Voice.h): adding a block of the ring to the stream with its gain ramp or
// fade-in, the meter's delay line, and the tail of what was mixed, kept so
// the engine can rebuild frames it takes back from the device.
#include "platform/audio/Voice.h"

#include <algorithm>
#include <cmath>

namespace ql::platform {

namespace {
// A resume or a seek fades in over this long instead of jumping to the
// signal in one sample (a click on music).
constexpr double kFadeSeconds = 0.005;
// The mixed tail kept: more than a device's buffer (about 200 ms), so that
// whatever it still holds can be rebuilt.
constexpr double kTailSeconds = 0.3;
} // namespace

void Voice::sizeTail(const StreamFormat& format) {
    m_tailChannels = std::max(format.channels, 1);
    m_tailFrames = std::max<std::int64_t>(std::llround(kTailSeconds * format.rate), 1);
    m_tail.assign(std::size_t(m_tailFrames * m_tailChannels), 0.0f);
    forgetMixed();
}

void Voice::forgetMixed() {
    m_tailEnd = m_tailCount = 0;
    m_feedNextFrame = -1;
}

std::size_t Voice::addMixed(double* out, std::int64_t from, std::size_t frames, int channels,
                            bool fadeOut) const {
    if (channels != m_tailChannels || from < mixedFrom() || frames == 0)
        return 0;
    const auto have =
        std::size_t(std::clamp<std::int64_t>(m_tailEnd - from, 0, std::int64_t(frames)));
    const auto ch = std::size_t(channels);
    const double gain = double(m_feedGain);
    const double length = double(frames);
    for (std::size_t k = 0; k < have; ++k) {
        const double g = fadeOut ? gain * (length - double(k)) / length : gain;
        const float* in = m_tail.data() + std::size_t((from + std::int64_t(k)) % m_tailFrames) * ch;
        for (std::size_t c = 0; c < ch; ++c)
            out[k * ch + c] += double(in[c]) * g;
    }
    return have;
}

// Keeps `n` samples of a block that starts at `streamFrame`, `sampleOffset`
// samples into it, in the mixed tail.
void Voice::keepMixed(std::int64_t streamFrame, const double* p, std::size_t n,
                      std::size_t sampleOffset, int channels) {
    if (channels != m_tailChannels || m_tail.empty())
        return;
    const auto size = std::size_t(m_tailFrames * m_tailChannels);
    std::size_t at =
        (std::size_t(streamFrame % m_tailFrames) * std::size_t(channels) + sampleOffset) % size;
    for (std::size_t i = 0; i < n;) {
        const std::size_t run = std::min(n - i, size - at);
        std::copy(p + i, p + i + run, m_tail.begin() + std::ptrdiff_t(at));
        i += run;
        at = (at + run) % size;
    }
}

// Adds one contiguous run of the ring: `n` samples starting `sampleOffset`
// samples into a call that mixes `totalSamples`, with the gain going from
// `from` to `to` across the call.
void Voice::addScaled(double* mix, const double* p, std::size_t n, std::size_t sampleOffset,
                      int channels, std::size_t totalSamples, double from, double to) {
    double* out = mix + sampleOffset;
    if (from == to) {
        if (to == 1.0) {
            for (std::size_t i = 0; i < n; ++i)
                out[i] += p[i];
        } else {
            for (std::size_t i = 0; i < n; ++i)
                out[i] += p[i] * to;
        }
        return;
    }
    const auto ch = std::size_t(channels);
    const double frames = double(totalSamples / ch);
    for (std::size_t i = 0; i < n; ++i) {
        // Frame k of the call gets from + (to - from) * (k + 1) / frames: the
        // last frame is at the new gain, the step spread over the block.
        const double k = double((sampleOffset + i) / ch);
        out[i] += p[i] * (from + (to - from) * (k + 1.0) / frames);
    }
}

// Frame k of the fade (counted from its start) gets gain * (k + 1) / length;
// the frames after it the gain itself.
void Voice::addFadingIn(double* out, const double* p, std::size_t n, std::size_t sampleOffset,
                        int channels, double gain) const {
    const auto ch = std::size_t(channels);
    const double length = double(m_feedFadeTotal);
    for (std::size_t i = 0; i < n; ++i) {
        const double k = double(m_feedFadeDone) + double((sampleOffset + i) / ch);
        out[i] += p[i] * (k < length ? gain * (k + 1.0) / length : gain);
    }
}

void Voice::mix(double* mix, std::size_t frames, int channels, std::int64_t streamFrame,
                double heardAt) {
    if (frames == 0)
        return;
    const float target = m_gain.load(std::memory_order_relaxed);
    // Ramp only from a block that ended right where this one starts; a voice
    // that starts, resumes or was silent plays at its gain from the first frame.
    const float from = m_feedNextFrame == streamFrame ? m_feedGain : target;
    const std::size_t total = frames * std::size_t(channels);
    std::size_t o = 0;
    const bool metering = m_meter.isEnabled();
    MeterTap::Block block;
    if (m_fadeIn.exchange(false, std::memory_order_acq_rel)) {
        m_feedFadeTotal = std::max<std::int64_t>(std::llround(kFadeSeconds * m_feedSeg.rate), 1);
        m_feedFadeDone = 0;
    }
    const bool fading = m_feedFadeDone < m_feedFadeTotal;
    // The tail holds one run of stream frames ending where this block starts
    // (a block that goes back, after frames were taken back, cuts it there).
    if (streamFrame != m_tailEnd) {
        const std::int64_t back = m_tailEnd - streamFrame;
        m_tailCount = back > 0 && back <= m_tailCount ? m_tailCount - back : 0;
        m_tailEnd = streamFrame;
    }
    m_ring.consume(total, [&](const double* p, std::size_t n) {
        keepMixed(streamFrame, p, n, o, channels);
        if (metering)
            MeterTap::measure(block, p, n, channels, int(o % std::size_t(channels)));
        if (fading)
            addFadingIn(mix + o, p, n, o, channels, double(target));
        else
            addScaled(mix, p, n, o, channels, total, double(from), double(target));
        o += n;
    });
    if (fading)
        m_feedFadeDone += std::int64_t(frames);
    if (metering) {
        // A full line (a device holding more than it should) gives its
        // oldest block to the meter early rather than lose it.
        if (m_meterCount == m_meterLine.size())
            meterHeard(m_meterLine[m_meterFirst].heardAt);
        m_meterLine[(m_meterFirst + m_meterCount++) % m_meterLine.size()] = {heardAt, block};
    }
    m_feedGain = target;
    m_feedNextFrame = streamFrame + std::int64_t(frames);
    m_tailEnd += std::int64_t(frames);
    m_tailCount = std::min(m_tailCount + std::int64_t(frames), m_tailFrames);
    m_feedConsumed += frames;
    Played played;
    played.serial = m_feedSeg.serial;
    played.sourceStart = m_feedSeg.sourceStart;
    played.source = m_feedSeg.sourceStart + double(m_feedConsumed) * m_feedSeg.ratio;
    played.heardAt = heardAt;
    played.sourcePerSecond = m_feedSeg.ratio * m_feedSeg.rate;
    m_played.store(played);
    const std::size_t need = m_decoderNeed.load(std::memory_order_relaxed);
    if (m_ring.capacity() - std::size_t(m_ring.publishedWriteIndex() - m_ring.readIndex()) >= need)
        wakeDecoder();
}

void Voice::meterHeard(double deviceNow) {
    while (m_meterCount > 0 && m_meterLine[m_meterFirst].heardAt <= deviceNow + 1e-6) {
        m_meter.addBlock(m_meterLine[m_meterFirst].block);
        m_meterFirst = (m_meterFirst + 1) % m_meterLine.size();
        --m_meterCount;
    }
}

} // namespace ql::platform
