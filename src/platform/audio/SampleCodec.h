// Converting the engine's samples (doubles at full scale ±1.0) to and from the
// byte layouts a stream uses.
//
// Exactness: a double holds every 16-, 24- and 32-bit integer sample and every
// float sample exactly, so decoding a source to doubles and encoding to a
// format at least as wide gives back the very same integers (the bit-perfect
// path). Narrower formats round to nearest; every integer format clips at its
// full scale.
#pragma once

#include "platform/AudioSink.h"

#include <cstddef>
#include <cstdint>

namespace ql::platform {

// Writes `count` samples (not frames) in `format` to `out`.
void encodeSamples(const double* in, std::size_t count, SampleFormat format, void* out);

// One sample at `p`, as a double at full scale ±1.0.
double decodeSample(const unsigned char* p, SampleFormat format);
// One sample at `p`, scaled to 32 bits (16-bit s reads s << 16); F32 is
// scaled by 2^31, rounded and clipped.
std::int32_t decodeSampleInt32(const unsigned char* p, SampleFormat format);

} // namespace ql::platform
