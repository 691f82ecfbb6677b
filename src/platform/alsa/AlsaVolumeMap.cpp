#include "platform/alsa/AlsaVolumeMap.h"

#include <algorithm>
#include <cmath>

namespace ql::platform::alsa {

namespace {
// Spans up to this many hundredths of a dB are shown linearly: a small range
// (a few dB of trim) would otherwise crowd into the top of the slider.
constexpr long kMaxLinearSpan = 2400;

double clampScalar(double x) {
    if (!(x > 0)) // NaN too
        return 0;
    return std::min(x, 1.0);
}

bool isLinear(const DbRange& r) {
    return r.min != kDbMuted && r.max - r.min <= kMaxLinearSpan;
}

double floorNorm(const DbRange& r) {
    return r.min == kDbMuted ? 0.0 : std::pow(10.0, double(r.min - r.max) / 6000.0);
}
} // namespace

bool isUsable(const DbRange& range) {
    return range.max > range.min;
}

double scalarFromDb(long db, const DbRange& r) {
    if (!isUsable(r))
        return 0;
    db = std::clamp(db, r.min, r.max);
    if (isLinear(r))
        return double(db - r.min) / double(r.max - r.min);
    if (db == kDbMuted)
        return 0;
    const double m = floorNorm(r);
    const double norm = std::pow(10.0, double(db - r.max) / 6000.0);
    return clampScalar((norm - m) / (1.0 - m));
}

double dbFromScalar(double scalar, const DbRange& r) {
    if (!isUsable(r))
        return double(r.max);
    const double x = clampScalar(scalar);
    if (isLinear(r))
        return double(r.min) + x * double(r.max - r.min);
    const double m = floorNorm(r);
    const double norm = x * (1.0 - m) + m;
    if (norm <= 0)
        return double(r.min);
    return std::clamp(double(r.max) + 6000.0 * std::log10(norm), double(r.min), double(r.max));
}

double scalarFromRaw(long raw, long rawMin, long rawMax) {
    if (rawMax <= rawMin)
        return 0;
    raw = std::clamp(raw, rawMin, rawMax);
    return double(raw - rawMin) / double(rawMax - rawMin);
}

long rawFromScalar(double scalar, long rawMin, long rawMax) {
    if (rawMax <= rawMin)
        return rawMin;
    return rawMin + std::lround(clampScalar(scalar) * double(rawMax - rawMin));
}

} // namespace ql::platform::alsa
