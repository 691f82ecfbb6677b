// The engine's ALSA sample formats and the physical formats the hardware
// interface speaks of, both ways.
//
// Bits are the valid bits of a sample: S24_3LE (three bytes) and S24_LE (24
// bits in a four-byte word) are both 24-bit; they differ in bytes per frame.
#pragma once

#include "platform/AudioHardware.h"
#include "platform/alsa/AlsaApi.h"

#include <optional>

namespace ql::platform::alsa {

struct SampleLayout {
    int bits = 0;  // valid bits
    int bytes = 0; // bytes one sample takes in a frame
    bool isFloat = false;
};

SampleLayout layoutOf(PcmFormat format);

// ALSA's name of the format ("S24_3LE").
const char* formatName(PcmFormat format);

PhysicalFormat toPhysicalFormat(PcmFormat format, double rate, int channels);

// The sample format a physical format stands for; none for anything the
// engine does not write (8-bit, big-endian layouts, non-PCM, no channels).
std::optional<PcmFormat> pcmFormatOf(const PhysicalFormat& format);

// Orders formats the way the device is best used for exact playback: more
// valid bits first, then integer before float, then ALSA's order (so S24_LE
// before S24_3LE). True when a is to be preferred to b.
bool preferredFormat(PcmFormat a, PcmFormat b);

} // namespace ql::platform::alsa
