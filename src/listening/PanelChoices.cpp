#include "listening/PanelChoices.h"

#include "effects/FXState.h"
#include "playback/Transport.h"

#include <algorithm>
#include <cmath>

namespace ql {

namespace {
constexpr int kNormalSpeedIndex = 3;
constexpr int kDeviceMaximumMode = 2;
// Closer than this to an entry counts as that entry: stored speeds written
// by older versions carry rounding noise (1.004 is "1x").
constexpr double kSpeedTolerance = 0.01;
} // namespace

int speedIndex(double playRate) {
    for (std::size_t i = 0; i < kSpeeds.size(); ++i)
        if (std::abs(kSpeeds[i] - playRate) < kSpeedTolerance)
            return int(i);
    return kNormalSpeedIndex; // NaN lands here too: no comparison holds
}

int upsamplingIndex(bool maxQuality, int upMode) {
    return maxQuality ? kDeviceMaximumMode : std::clamp(upMode, 0, kDeviceMaximumMode);
}

bool effectsActive(const FXState& state) {
    if (!state.enabled)
        return false;
    return std::ranges::any_of(state.gains, [](double g) { return g != 0; }) || state.crossfeed ||
           state.wide || state.room || state.night ||
           std::ranges::any_of(state.plugins, [](const auto& s) { return !s.name.isEmpty(); });
}

} // namespace ql
