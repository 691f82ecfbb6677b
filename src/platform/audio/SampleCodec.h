// Converting the engine's samples (doubles at full scale ±1.0) to and from the
// byte layouts a stream uses.
//
// Exactness: a double holds every 16-, 24- and 32-bit integer sample and every
// float sample exactly, so decoding a source to doubles and encoding to a
// format at least as wide gives back the very same integers (the bit-perfect
// path). Narrower formats round to nearest; every integer format clips at its
// full scale.
//
// Word length: a block whose samples do not all lie on the integer format's
// grid (a gain other than 1, a fade, a source wider than the format, a
// converted rate) is given triangular (TPDF) dither of one step either side
// before it is rounded, from its first sample off the grid to its last, so
// the rounding error becomes a steady, signal-free noise floor instead of
// distortion of quiet passages. Samples already on the grid around that span
// (gain 1 and a matched format, digital silence) are written as they are:
// the bit-perfect path stays exact, also right after a fade.
// Not done here: headroom for the inter-sample peaks a rate converter makes of
// full-scale material. The voice lowers its converted output by 3.2 dB on
// integer formats before it reaches this code (kConverterHeadroom, Voice.cpp).
#pragma once

#include "platform/AudioSink.h"

#include <cstddef>
#include <cstdint>

namespace ql::platform {

// The dither source of one stream: an xorshift generator, cheap and free of
// allocation and locks, so that the feeder thread can draw from it.
class Dither {
public:
    explicit Dither(std::uint64_t seed = 0);
    // One value in (-1, 1) steps, triangular: the difference of two uniforms.
    double next() { return uniform() - uniform(); }

private:
    double uniform() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return double(m_state >> 11) * 0x1.0p-53;
    }
    std::uint64_t m_state;
};

// Writes `count` samples (not frames) in `format` to `out`; with `dither`, a
// block off the format's grid is dithered (see above). F32 is never dithered.
void encodeSamples(const double* in, std::size_t count, SampleFormat format, void* out,
                   Dither* dither = nullptr);

// One sample at `p`, as a double at full scale ±1.0.
double decodeSample(const unsigned char* p, SampleFormat format);
// One sample at `p`, scaled to 32 bits (16-bit s reads s << 16); F32 is
// scaled by 2^31, rounded and clipped.
std::int32_t decodeSampleInt32(const unsigned char* p, SampleFormat format);

} // namespace ql::platform
