// The choices behind matching the output device to a track: which nominal
// rate to run the device at for a source rate, and which physical format to
// give its first output stream at that rate. Pure unit: the device's ranges
// and formats come in as plain data, the choice goes out; App applies it
// through the audio hardware (playback/AppRateMatch.cpp).
//
// Rates:
// - The standard rates, in the order they are looked at: 44.1, 48, 88.2, 96,
//   176.4, 192, 352.8, 384, 705.6 and 768 kHz. Nothing else is ever chosen as
//   a fallback.
// - A device takes a rate that lies within 0.5 Hz of one of its ranges (both
//   bounds inclusive): devices report their limits with a little rounding.
// - Family of a source: 44.1 kHz when rate mod 44100 < 1, else 48 kHz (so
//   22050 and 11025 fall in the 48 kHz family). A standard rate belongs to
//   the 44.1 kHz family when rate mod 44100 < 1, to the 48 kHz family when
//   rate mod 48000 < 1.
// - The device keeps the source rate when it takes it (not snapped to a
//   standard rate); else the smallest standard rate it takes in the source's
//   family that is at least the source, else that family's largest; a family
//   the device offers nothing of gives way to every rate it takes.
//
// Upsampling target of a source: among the device's rates of the source's
// family that lie more than 1 Hz above it, mode 1 keeps those a power of two
// above the source (log2 of the ratio within 0.001 of a whole number) and
// takes the largest; mode 2 takes the largest. Mode 0 and below, an empty
// rate list and a source rate that is not a finite positive number give
// none (a failed probe reads as rate 0, which would otherwise count as the
// 44.1 kHz family).
//
// Formats: linear PCM at the rate (within 1 Hz) with 16 bits or more; the
// most bits win, an integer format beats a float one of equal bits, and the
// first in the device's order wins a full tie. A stream is rewritten only
// when its bits or its sample kind (float or integer, and the bytes each
// sample is stored in) differ from the choice; the channel count and the
// rate alone never cause a write.
#pragma once

#include "platform/AudioHardware.h"

#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace ql {

const std::array<double, 10>& standardRates();

enum class RateFamily { Khz44, Khz48 };

RateFamily familyOf(double sourceRate);
bool inFamily(double rate, RateFamily family);

// Whether the device's ranges take `rate`, with the 0.5 Hz slack.
bool rateInRanges(double rate, const std::vector<platform::RateRange>& ranges);
// The standard rates the ranges take, in standard order.
std::vector<double> supportedStandardRates(const std::vector<platform::RateRange>& ranges);

// The rate to run the device at for `sourceRate`; none when the ranges take
// neither the source nor any standard rate, or the source rate is not a
// finite positive number.
std::optional<double> deviceRateFor(double sourceRate,
                                    const std::vector<platform::RateRange>& ranges);
// The rate to upsample a source of `sourceRate` Hz to under `mode` with the
// device's `rates`; none when it plays at its own rate.
std::optional<double> upsampleTarget(double sourceRate, int mode, const std::vector<double>& rates);

// A device running at `current` is rewritten for `target` only when it is
// more than 0.5 Hz away.
bool rateNeedsWrite(double current, double target);

// The index of the format to use at `rate`; none when no format qualifies.
std::optional<std::size_t> bestPhysicalFormat(const std::vector<platform::PhysicalFormat>& formats,
                                              double rate);
bool formatNeedsWrite(const platform::PhysicalFormat& current,
                      const platform::PhysicalFormat& best);

// The status messages (Korean, translated by the caller), rates truncated to
// whole hertz.
QString rateMatchedText(double target, double source);
QString formatMatchedText(double rate, int bits);

} // namespace ql
