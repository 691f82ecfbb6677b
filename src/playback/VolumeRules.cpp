#include "playback/VolumeRules.h"

#include "playback/RateText.h"

#include <algorithm>
#include <cmath>

namespace ql {

namespace {
// Below this the label reads minus infinity instead of a huge negative number.
constexpr double kDbFloorSlider = 0.01;
// The slider and the device are "in step" within this many slider points:
// the device rounds what it is given, and chasing that rounding would make
// the slider jitter.
constexpr double kFollowTolerance = 1.5;
} // namespace

double levelingGain(double lufs) {
    if (std::isnan(lufs))
        return 1.0;
    return std::min(1.0, std::pow(10.0, (kLevelingTargetLufs - lufs) / 20.0));
}

float effectiveVolume(const VolumeFacts& f) {
    if (f.bitPerfect && !f.hwVol)
        return 1.0f;
    double v = (f.hwVol || f.bitPerfect) ? 1.0 : f.slider / 100.0;
    if (f.levelingOn && !f.maxQuality && !f.bitPerfect && f.loudness)
        v *= levelingGain(*f.loudness);
    v *= f.sleepFactor;
    if (std::isnan(v))
        return 0.0f;
    return float(std::clamp(v, 0.0, 1.0));
}

QString decibelText(double db) {
    if (!(db > -150.0))
        return QStringLiteral("\u2212\u221E dB");
    return fixedText(db, 1) + QStringLiteral("dB");
}

QString volumeDbText(double slider) {
    if (!(slider > kDbFloorSlider))
        return QStringLiteral("\u2212\u221E dB");
    return fixedText(20.0 * std::log10(slider / 100.0), 1) + QStringLiteral("dB");
}

QString cubicVolumeDbText(double slider) {
    if (!(slider > kDbFloorSlider))
        return QStringLiteral("\u2212\u221E dB");
    return fixedText(60.0 * std::log10(slider / 100.0), 1) + QStringLiteral("dB");
}

HardwareVolumeStep followHardwareVolume(bool firstPoll, bool was, bool now,
                                        std::optional<double> deviceVolume, double slider,
                                        bool mouseHeld) {
    HardwareVolumeStep step;
    step.reapply = now != was;
    if (firstPoll) {
        if (now && deviceVolume)
            step.slider = *deviceVolume * 100.0;
        return step;
    }
    if (now && !was) {
        if (deviceVolume) {
            const double w = *deviceVolume * slider / 100.0;
            step.deviceVolume = w;
            step.slider = w * 100.0;
        }
    } else if (now) {
        if (!mouseHeld && deviceVolume &&
            std::abs(*deviceVolume * 100.0 - slider) > kFollowTolerance)
            step.slider = *deviceVolume * 100.0;
    } else if (was) {
        step.slider = 100.0;
    }
    return step;
}

} // namespace ql
