// Volume scalars (0…1, what the volume slider means) against a mixer
// element's own units, the way a person hears them.
//
// With a dB range, a span of at most 24 dB is mapped linearly in dB; a wider
// one is mapped so that the scalar follows perceived loudness:
// scalar = (10^((dB − max)/60) − m) / (1 − m), m = 10^((min − max)/60) (m = 0
// when the minimum is "muted"), so half the scalar is about 18 dB down. This is
// the mapping alsamixer shows, so our slider and the mixer agree. Without a dB
// range the raw steps are mapped linearly: such a control is a sound server's
// (PulseAudio's or PipeWire's "Master"), which applies its own cubic law,
// gain = (step fraction)³, so the scalar already follows loudness as above
// and the gain in dB is 60·log10(scalar).
//
// dB values are in hundredths of a dB, as ALSA gives them. The two directions
// are inverse: scalarFromDb(dbFromScalar(x)) == x up to rounding, and both
// are monotonic non-decreasing. Inputs outside the ranges are clamped; a NaN
// scalar counts as 0.
#pragma once

#include <optional>

namespace ql::platform::alsa {

// ALSA's dB for a muted minimum (SND_CTL_TLV_DB_GAIN_MUTE).
constexpr long kDbMuted = -9999999;

struct DbRange {
    long min = 0; // may be kDbMuted
    long max = 0;
};

// Whether the range is usable for the mapping (max above min).
bool isUsable(const DbRange& range);

double scalarFromDb(long db, const DbRange& range);
// Unrounded hundredths of a dB, within [min, max] (min = kDbMuted gives
// kDbMuted at scalar 0).
double dbFromScalar(double scalar, const DbRange& range);

double scalarFromRaw(long raw, long rawMin, long rawMax);
// The nearest raw step.
long rawFromScalar(double scalar, long rawMin, long rawMax);

} // namespace ql::platform::alsa
