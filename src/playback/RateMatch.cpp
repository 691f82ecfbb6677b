#include "playback/RateMatch.h"

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

constexpr double kRangeSlack = 0.5;    // Hz either side of a range
constexpr double kRateWriteGap = 0.5;  // Hz the device may be off before we write
constexpr double kFormatRateGap = 1.0; // Hz a format's rate may be off the target
constexpr int kMinBits = 16;
constexpr double kPowerOfTwoSlack = 0.001; // in octaves

bool isFamilyMember(double rate, double base) {
    return std::fmod(rate, base) < 1.0;
}

// Bytes one sample is stored in; 0 when the format does not say.
int containerBytes(const platform::PhysicalFormat& f) {
    return f.channels > 0 ? f.bytesPerFrame / f.channels : 0;
}

QString wholeHz(double rate) {
    return QString::number(static_cast<long long>(std::trunc(rate)));
}

} // namespace

const std::array<double, 10>& standardRates() {
    static const std::array<double, 10> rates{44100,  48000,  88200,  96000,  176400,
                                              192000, 352800, 384000, 705600, 768000};
    return rates;
}

RateFamily familyOf(double sourceRate) {
    return isFamilyMember(sourceRate, 44100) ? RateFamily::Khz44 : RateFamily::Khz48;
}

bool inFamily(double rate, RateFamily family) {
    return isFamilyMember(rate, family == RateFamily::Khz44 ? 44100 : 48000);
}

bool rateInRanges(double rate, const std::vector<platform::RateRange>& ranges) {
    return std::any_of(ranges.begin(), ranges.end(), [rate](const platform::RateRange& r) {
        return r.min - kRangeSlack <= rate && rate <= r.max + kRangeSlack;
    });
}

std::vector<double> supportedStandardRates(const std::vector<platform::RateRange>& ranges) {
    std::vector<double> out;
    for (const double r : standardRates())
        if (rateInRanges(r, ranges))
            out.push_back(r);
    return out;
}

std::optional<double> deviceRateFor(double sourceRate,
                                    const std::vector<platform::RateRange>& ranges) {
    // A broken reading must never reach the device as its rate.
    if (!std::isfinite(sourceRate) || sourceRate <= 0)
        return std::nullopt;
    if (rateInRanges(sourceRate, ranges))
        return sourceRate;
    const std::vector<double> available = supportedStandardRates(ranges);
    const RateFamily family = familyOf(sourceRate);
    std::vector<double> pool;
    std::copy_if(available.begin(), available.end(), std::back_inserter(pool),
                 [family](double r) { return inFamily(r, family); });
    if (pool.empty())
        pool = available;
    if (pool.empty())
        return std::nullopt;
    // The pool is ascending: the standard list is.
    const auto above =
        std::find_if(pool.begin(), pool.end(), [sourceRate](double r) { return r >= sourceRate; });
    return above != pool.end() ? *above : pool.back();
}

std::optional<double> upsampleTarget(double sourceRate, int mode,
                                     const std::vector<double>& rates) {
    if (mode <= 0 || !std::isfinite(sourceRate) || sourceRate <= 0)
        return std::nullopt;
    const RateFamily family = familyOf(sourceRate);
    std::optional<double> best;
    for (const double r : rates) {
        if (!inFamily(r, family) || !(sourceRate + 1.0 < r))
            continue;
        if (mode == 1) {
            const double x = std::log2(r / sourceRate);
            if (!(std::abs(x - std::round(x)) <= kPowerOfTwoSlack))
                continue;
        }
        if (!best || r > *best)
            best = r;
    }
    return best;
}

bool rateNeedsWrite(double current, double target) {
    return std::abs(current - target) > kRateWriteGap;
}

std::optional<std::size_t> bestPhysicalFormat(const std::vector<platform::PhysicalFormat>& formats,
                                              double rate) {
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const platform::PhysicalFormat& f = formats[i];
        if (!f.isLinearPcm || !(std::abs(f.rate - rate) < kFormatRateGap) || f.bits < kMinBits)
            continue;
        if (!best) {
            best = i;
            continue;
        }
        const platform::PhysicalFormat& b = formats[*best];
        // Strictly greater only, so the first of equals stays.
        if (f.bits > b.bits || (f.bits == b.bits && !f.isFloat && b.isFloat))
            best = i;
    }
    return best;
}

bool formatNeedsWrite(const platform::PhysicalFormat& current,
                      const platform::PhysicalFormat& best) {
    return current.bits != best.bits || current.isFloat != best.isFloat ||
           containerBytes(current) != containerBytes(best);
}

QString rateMatchedText(double target, double source) {
    return QStringLiteral("🔊 출력 장치를 ") + wholeHz(target) +
           QStringLiteral("Hz로 맞췄습니다 (원본 ") + wholeHz(source) + QStringLiteral("Hz)");
}

QString formatMatchedText(double rate, int bits) {
    return QStringLiteral("🔊 출력 형식 ") + wholeHz(rate) + QStringLiteral("Hz / ") +
           QString::number(bits) + QStringLiteral("bit로 맞췄습니다");
}

} // namespace ql
