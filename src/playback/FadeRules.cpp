#include "playback/FadeRules.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ql {

namespace {
// The sleep fade runs over the last 30 s.
constexpr double kSleepFadeSeconds = 30.0;
constexpr std::array<int, 6> kSleepItemMinutes{0, 15, 30, 60, 90, 0};
} // namespace

bool crossfadeDue(double duration, double currentTime) {
    return duration > kCrossfadeMinTrack && duration - currentTime <= kCrossfadeLead;
}

double crossfadeLength(double remaining) {
    return std::max(kCrossfadeShortest, remaining);
}

double fadeProgressAt(double elapsed, double length) {
    if (!(length > 0))
        return 1.0;
    return std::clamp(elapsed / length, 0.0, 1.0);
}

int sleepMinutes(int index) {
    if (index < 0 || index >= int(kSleepItemMinutes.size()))
        return 0;
    return kSleepItemMinutes[std::size_t(index)];
}

double sleepFactorFor(double left) {
    if (left >= kSleepFadeSeconds)
        return 1.0;
    return std::clamp(left / kSleepFadeSeconds, 0.0, 1.0);
}

int sleepMinutesShown(double left) {
    return int(std::ceil(left / 60.0));
}

} // namespace ql
