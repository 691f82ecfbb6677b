#include "platform/audio/SampleCodec.h"

#include <cmath>
#include <cstring>

namespace ql::platform {

namespace {

template <int Bits> inline std::int64_t toInt(double x) {
    constexpr double scale = double(std::int64_t(1) << (Bits - 1));
    constexpr double hi = scale - 1.0;
    double v = x * scale;
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

inline std::int32_t get32(const unsigned char* p) {
    return std::int32_t(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                        std::uint32_t(p[3]) << 24);
}

} // namespace

void encodeSamples(const double* in, std::size_t count, SampleFormat format, void* out) {
    auto* o = static_cast<unsigned char*>(out);
    switch (format) {
    case SampleFormat::S16:
        for (std::size_t i = 0; i < count; ++i)
            put16(o + 2 * i, toInt<16>(in[i]));
        break;
    case SampleFormat::S24P:
        for (std::size_t i = 0; i < count; ++i)
            put24(o + 3 * i, toInt<24>(in[i]));
        break;
    case SampleFormat::S24In32:
        for (std::size_t i = 0; i < count; ++i)
            put32(o + 4 * i, toInt<24>(in[i]));
        break;
    case SampleFormat::S32:
        for (std::size_t i = 0; i < count; ++i)
            put32(o + 4 * i, toInt<32>(in[i]));
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
