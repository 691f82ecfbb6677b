// Sample-rate conversion with libsoxr at its very-high-quality recipe,
// streaming: the caller feeds blocks of interleaved doubles and takes what
// comes out, so memory stays the same whatever the length of the stream.
//
// Not thread-safe; one stream per object (the decoder thread of a player owns
// its converter). Construction allocates; process() does not.
#pragma once

#include <QString>

#include <cstddef>

struct soxr;

namespace ql::platform {

class Resampler {
public:
    // A converter that cannot be made reports it through isValid()/error().
    // `threads` above 1 converts channels side by side (an offline render);
    // the result is the same as with one.
    Resampler(double inRate, double outRate, int channels, int threads = 1);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    bool isValid() const { return m_soxr != nullptr; }
    QString error() const { return m_error; }
    double ratio() const { return m_outRate / m_inRate; }

    // The most frames process() can give back for `inFrames` frames in.
    std::size_t maxOutput(std::size_t inFrames) const;

    struct Step {
        std::size_t consumed = 0; // input frames taken
        std::size_t produced = 0; // output frames written
    };
    // Converts up to `inFrames` frames from `in` into at most `outCapacity`
    // frames of `out`. With `in` null the stream has ended and the converter
    // gives out what it still holds (call until it produces nothing).
    Step process(const double* in, std::size_t inFrames, double* out, std::size_t outCapacity);

private:
    soxr* m_soxr = nullptr;
    QString m_error;
    double m_inRate;
    double m_outRate;
    int m_channels;
};

} // namespace ql::platform
