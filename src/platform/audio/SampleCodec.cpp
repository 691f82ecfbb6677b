#include "platform/audio/SampleCodec.h"

#include <cmath>
#include <cstring>

namespace ql::platform {

namespace {

template <int Bits> constexpr double kScale = double(std::int64_t(1) << (Bits - 1));

// `offset` is added in steps of the format, after scaling (the dither).
template <int Bits> inline std::int64_t toInt(double x, double offset = 0.0) {
    constexpr double scale = kScale<Bits>;
    constexpr double hi = scale - 1.0;
    double v = x * scale + offset;
    // NaN fails both comparisons and must not reach lrint: it becomes silence.
    if (!(v >= -scale))
        v = std::isnan(v) ? 0.0 : -scale;
    else if (v > hi)
        v = hi;
    return std::lrint(v);
}

inline void put16(unsigned char* p, std::int64_t v) {
    p[0] = static_cast<unsigned char>(v & 0xff);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xff);
}
inline void put24(unsigned char* p, std::int64_t v) {
    put16(p, v);
    p[2] = static_cast<unsigned char>((v >> 16) & 0xff);
}
inline void put32(unsigned char* p, std::int64_t v) {
    put24(p, v);
    p[3] = static_cast<unsigned char>((v >> 24) & 0xff);
}

// Whether a sample is a whole number of steps of the format: rounding it
// loses nothing. A NaN is off the grid.
template <int Bits> inline bool onGrid(double x) {
    const double v = x * kScale<Bits>;
    return v == std::rint(v);
}

// Dithers the samples from the first to the last one off the grid: the end
// of a fade or of a volume ramp within the block is then followed by exact
// samples, and a block wholly on the grid is written as it is.
template <int Bits, typename Put>
void encodeInt(const double* in, std::size_t count, int width, unsigned char* o, Dither* dither,
               Put put) {
    std::size_t from = count, to = count;
    if (dither) {
        for (from = 0; from < count && onGrid<Bits>(in[from]);)
            ++from;
        for (to = count; to > from && onGrid<Bits>(in[to - 1]);)
            --to;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const double offset = i >= from && i < to ? dither->next() : 0.0;
        put(o + std::size_t(width) * i, toInt<Bits>(in[i], offset));
    }
}

inline std::int32_t get32(const unsigned char* p) {
    return std::int32_t(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                        std::uint32_t(p[3]) << 24);
}

} // namespace

Dither::Dither(std::uint64_t seed) {
    // splitmix64 of the seed: any seed, zero included, gives a well-mixed,
    // non-zero state (xorshift stays at zero forever).
    std::uint64_t z = seed + 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    z ^= z >> 31;
    m_state = z ? z : 0x9e3779b97f4a7c15ull;
}

void encodeSamples(const double* in, std::size_t count, SampleFormat format, void* out,
                   Dither* dither) {
    auto* o = static_cast<unsigned char*>(out);
    switch (format) {
    case SampleFormat::S16:
        encodeInt<16>(in, count, 2, o, dither, put16);
        break;
    case SampleFormat::S24P:
        encodeInt<24>(in, count, 3, o, dither, put24);
        break;
    case SampleFormat::S24In32:
        encodeInt<24>(in, count, 4, o, dither, put32);
        break;
    case SampleFormat::S32:
        encodeInt<32>(in, count, 4, o, dither, put32);
        break;
    case SampleFormat::F32:
        for (std::size_t i = 0; i < count; ++i) {
            // A NaN or infinity from a damaged float file must not reach the
            // converter: the integer formats make it silence, so does this one.
            const float f = std::isfinite(in[i]) ? static_cast<float>(in[i]) : 0.0f;
            std::memcpy(o + 4 * i, &f, 4);
        }
        break;
    }
}

std::int32_t decodeSampleInt32(const unsigned char* p, SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return std::int32_t(std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 24);
    case SampleFormat::S24P:
        return std::int32_t(std::uint32_t(p[0]) << 8 | std::uint32_t(p[1]) << 16 |
                            std::uint32_t(p[2]) << 24);
    case SampleFormat::S24In32:
        return std::int32_t(std::uint32_t(get32(p)) << 8);
    case SampleFormat::S32:
        return get32(p);
    case SampleFormat::F32: {
        float f;
        std::memcpy(&f, p, 4);
        return std::int32_t(toInt<32>(double(f)));
    }
    }
    return 0;
}

double decodeSample(const unsigned char* p, SampleFormat format) {
    if (format == SampleFormat::F32) {
        float f;
        std::memcpy(&f, p, 4);
        return double(f);
    }
    return double(decodeSampleInt32(p, format)) / 2147483648.0;
}

} // namespace ql::platform
