#include "platform/alsa/AlsaFormats.h"

namespace ql::platform::alsa {

SampleLayout layoutOf(PcmFormat format) {
    switch (format) {
    case PcmFormat::S16_LE:
        return {16, 2, false};
    case PcmFormat::S24_LE:
        return {24, 4, false};
    case PcmFormat::S32_LE:
        return {32, 4, false};
    case PcmFormat::FLOAT_LE:
        return {32, 4, true};
    case PcmFormat::S24_3LE:
        return {24, 3, false};
    }
    return {};
}

const char* formatName(PcmFormat format) {
    switch (format) {
    case PcmFormat::S16_LE:
        return "S16_LE";
    case PcmFormat::S24_LE:
        return "S24_LE";
    case PcmFormat::S32_LE:
        return "S32_LE";
    case PcmFormat::FLOAT_LE:
        return "FLOAT_LE";
    case PcmFormat::S24_3LE:
        return "S24_3LE";
    }
    return "?";
}

PhysicalFormat toPhysicalFormat(PcmFormat format, double rate, int channels) {
    const SampleLayout l = layoutOf(format);
    PhysicalFormat f;
    f.rate = rate;
    f.bits = l.bits;
    f.isFloat = l.isFloat;
    f.channels = channels;
    f.bytesPerFrame = l.bytes * channels;
    f.isLinearPcm = true;
    return f;
}

std::optional<PcmFormat> pcmFormatOf(const PhysicalFormat& format) {
    if (!format.isLinearPcm || format.channels <= 0 || format.bytesPerFrame % format.channels != 0)
        return std::nullopt;
    const int bytes = format.bytesPerFrame / format.channels;
    for (const PcmFormat s : {PcmFormat::S16_LE, PcmFormat::S24_LE, PcmFormat::S32_LE,
                              PcmFormat::FLOAT_LE, PcmFormat::S24_3LE}) {
        const SampleLayout l = layoutOf(s);
        if (l.bits == format.bits && l.bytes == bytes && l.isFloat == format.isFloat)
            return s;
    }
    return std::nullopt;
}

bool preferredFormat(PcmFormat a, PcmFormat b) {
    const SampleLayout la = layoutOf(a);
    const SampleLayout lb = layoutOf(b);
    if (la.bits != lb.bits)
        return la.bits > lb.bits;
    if (la.isFloat != lb.isFloat)
        return !la.isFloat;
    return int(a) < int(b);
}

} // namespace ql::platform::alsa
