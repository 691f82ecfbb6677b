// Playback speed with the pitch kept: librubberband in real-time mode,
// streaming like the Resampler (blocks of interleaved doubles in, what is
// ready out), so a player can run it on its decoder thread.
//
// Timing: the stretcher's start-up delay is compensated (silence padded in,
// the same delay dropped from the output), so output frame k stands for
// input frame k × speed; and the output of a whole stream is exactly
// round(input frames / speed) long — cut or padded with silence at the end —
// so a player knows to the frame where a stretched voice ends.
//
// Input samples that are not finite (NaN, infinity in a float file) enter
// as silence: one such sample would otherwise spoil every block after it.
//
// The stretcher is given whole blocks of a fixed size, however the input
// comes: what it makes depends on the input alone.
//
// Not thread-safe; one stream per object. Construction allocates; process()
// does not when given at most `maxBlock` frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace RubberBand {
class RubberBandStretcher;
}

namespace ql::platform {

class TimeStretch {
public:
    // `speed` is the tempo factor (1.25 plays 25 % faster); `maxBlock` the
    // most frames one process() call takes.
    TimeStretch(double rate, int channels, double speed, std::size_t maxBlock);
    ~TimeStretch();
    TimeStretch(const TimeStretch&) = delete;
    TimeStretch& operator=(const TimeStretch&) = delete;

    double speed() const { return m_speed; }
    std::size_t maxBlock() const { return m_maxBlock; }

    // The room to give process() for `inFrames` frames in. What does not fit
    // stays in the stretcher for the next call.
    std::size_t maxOutput(std::size_t inFrames) const;

    struct Step {
        std::size_t consumed = 0; // input frames taken (all of them, up to maxBlock)
        std::size_t produced = 0; // output frames written
    };
    // Stretches up to maxBlock frames of `in` and writes at most
    // `outCapacity` frames to `out`. With `in` null the input has ended: the
    // stretcher gives out what it still holds (call until it produces nothing).
    Step process(const double* in, std::size_t inFrames, double* out, std::size_t outCapacity);

private:
    void feed(const double* in, std::size_t frames);
    void flushPending();
    std::size_t retrieve(double* out, std::size_t frames);

    std::unique_ptr<RubberBand::RubberBandStretcher> m_rb;
    const int m_channels;
    const double m_speed;
    const std::size_t m_maxBlock;
    std::vector<float> m_inPlanar, m_outPlanar; // one run of m_maxBlock per channel
    std::vector<float*> m_inPtrs, m_outPtrs;
    std::int64_t m_inFrames = 0;  // real input taken (not the start padding)
    std::int64_t m_outFrames = 0; // frames handed out
    std::int64_t m_skip = 0;      // start delay still to drop from the output
    std::size_t m_pending = 0;    // frames gathered in m_inPlanar for the next block
    bool m_final = false;
};

} // namespace ql::platform
