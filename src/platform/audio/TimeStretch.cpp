#include "platform/audio/TimeStretch.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>

namespace ql::platform {

using RubberBand::RubberBandStretcher;

namespace {

// The R3 engine: the R2 engine in real-time mode puts clicks and level dips
// of several dB into a steady tone at 1.25x (its phase resets at what it
// takes for transients); R3 keeps the tone whole. Its short window costs
// about what R2 did (a third of its standard window) and measures as clean.
// One thread: the player already has its own decoder thread, and a helper
// per stretcher would only add wake-ups.
// The pitch is never shifted, so the default (cheapest) pitch method is the
// right one: the others only cost more at a pitch scale of 1.
constexpr RubberBandStretcher::Options kOptions =
    RubberBandStretcher::OptionProcessRealTime | RubberBandStretcher::OptionEngineFiner |
    RubberBandStretcher::OptionWindowShort | RubberBandStretcher::OptionThreadingNever;

// Output frames a step may give beyond input / speed: the stretcher hands out
// whole hops, so one call can release a little more than it was given.
constexpr std::size_t kOutputSlack = 4096;
// Blocks of silence fed after the end, at most, per step: the stretcher's
// latency is well under a second.
constexpr int kMaxTailFeeds = 64;
// The frames the stretcher is given at a time (see feed()).
constexpr std::size_t kFeedBlock = 1024;

} // namespace

TimeStretch::TimeStretch(double rate, int channels, double speed, std::size_t maxBlock)
    : m_channels(std::max(channels, 1)), m_speed(speed),
      m_maxBlock(std::max<std::size_t>(maxBlock, 1)) {
    m_rb = std::make_unique<RubberBandStretcher>(std::size_t(std::lround(rate)),
                                                 std::size_t(m_channels), kOptions, 1.0 / m_speed);
    m_rb->setMaxProcessSize(kFeedBlock);
    m_inPlanar.assign(kFeedBlock * std::size_t(m_channels), 0.0f);
    m_outPlanar.assign(m_maxBlock * std::size_t(m_channels), 0.0f);
    for (int c = 0; c < m_channels; ++c) {
        m_inPtrs.push_back(m_inPlanar.data() + std::size_t(c) * kFeedBlock);
        m_outPtrs.push_back(m_outPlanar.data() + std::size_t(c) * m_maxBlock);
    }
    // Real-time mode leaves the start-up delay to us: pad the input with the
    // silence the stretcher asks for and drop as much from its output, so
    // the first output frame is the first input frame.
    feed(nullptr, m_rb->getPreferredStartPad());
    m_skip = std::int64_t(m_rb->getStartDelay());
}

TimeStretch::~TimeStretch() = default;

std::size_t TimeStretch::maxOutput(std::size_t inFrames) const {
    return std::size_t(std::ceil(double(inFrames) / m_speed)) + kOutputSlack;
}

void TimeStretch::feed(const double* in, std::size_t frames) {
    // Gathered into whole blocks of kFeedBlock frames: the R3 engine's
    // output depends on how its input is cut, and must not depend on the
    // caller's pieces (a join continues one stretcher across two files, and
    // must sound as the two stretched as one). No input: silence.
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(frames - done, kFeedBlock - m_pending);
        for (std::size_t f = 0; f < n; ++f)
            for (int c = 0; c < m_channels; ++c) {
                const double x =
                    in ? in[(done + f) * std::size_t(m_channels) + std::size_t(c)] : 0.0;
                m_inPtrs[std::size_t(c)][m_pending + f] = std::isfinite(x) ? float(x) : 0.0f;
            }
        m_pending += n;
        done += n;
        if (m_pending == kFeedBlock)
            flushPending();
    }
}

void TimeStretch::flushPending() {
    if (m_pending > 0)
        m_rb->process(m_inPtrs.data(), m_pending, false);
    m_pending = 0;
}

std::size_t TimeStretch::retrieve(double* out, std::size_t frames) {
    std::size_t done = 0;
    while (done < frames) {
        const int avail = m_rb->available();
        if (avail <= 0)
            break;
        if (m_skip > 0) {
            const auto n =
                std::size_t(std::min<std::int64_t>({m_skip, avail, std::int64_t(m_maxBlock)}));
            m_rb->retrieve(m_outPtrs.data(), n);
            m_skip -= std::int64_t(n);
            continue;
        }
        const std::size_t n = std::min({std::size_t(avail), frames - done, m_maxBlock});
        const std::size_t got = m_rb->retrieve(m_outPtrs.data(), n);
        if (got == 0)
            break;
        for (std::size_t f = 0; f < got; ++f)
            for (int c = 0; c < m_channels; ++c)
                out[(done + f) * std::size_t(m_channels) + std::size_t(c)] =
                    double(m_outPtrs[std::size_t(c)][f]);
        done += got;
    }
    return done;
}

TimeStretch::Step TimeStretch::process(const double* in, std::size_t inFrames, double* out,
                                       std::size_t outCapacity) {
    Step s;
    if (in && !m_final) {
        s.consumed = std::min(inFrames, m_maxBlock);
        feed(in, s.consumed);
        m_inFrames += std::int64_t(s.consumed);
    } else if (!in && !m_final) {
        flushPending();
        m_final = true;
    }
    if (!m_final) {
        s.produced = retrieve(out, outCapacity);
        m_outFrames += std::int64_t(s.produced);
        return s;
    }
    // After the end: exactly round(input / speed) frames in all, cut there.
    // The stretcher still holds the input's tail (its latency): it is fed
    // silence until that has come out. (Telling it the input ended instead
    // leaves the R3 engine's last block or so unprocessed.)
    const auto total = std::int64_t(std::llround(double(m_inFrames) / m_speed));
    const auto want =
        std::size_t(std::clamp<std::int64_t>(total - m_outFrames, 0, std::int64_t(outCapacity)));
    s.produced = retrieve(out, want);
    for (int fed = 0; s.produced < want && fed < kMaxTailFeeds; ++fed) {
        feed(nullptr, kFeedBlock);
        s.produced += retrieve(out + s.produced * std::size_t(m_channels), want - s.produced);
    }
    if (s.produced < want) {
        std::fill(out + s.produced * std::size_t(m_channels), out + want * std::size_t(m_channels),
                  0.0);
        s.produced = want;
    }
    m_outFrames += std::int64_t(s.produced);
    return s;
}

} // namespace ql::platform
