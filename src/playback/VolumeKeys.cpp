#include "playback/VolumeKeys.h"

#include <QtCore/qnamespace.h>

#include <algorithm>

namespace ql {

std::optional<int> volumeKeyCode(int qtKey) {
    switch (qtKey) {
    case Qt::Key_VolumeUp:
        return kVolumeKeyUp;
    case Qt::Key_VolumeDown:
        return kVolumeKeyDown;
    case Qt::Key_VolumeMute:
        return kVolumeKeyMute;
    default:
        return std::nullopt;
    }
}

double stepVolume(double slider, double delta) {
    return std::clamp(slider + delta, 0.0, 100.0);
}

VolumeKeyResult applyVolumeKey(int key, bool down, bool repeatKey, double slider,
                               double volumeBeforeMute) {
    VolumeKeyResult r{false, false, slider, volumeBeforeMute};
    if (key != kVolumeKeyUp && key != kVolumeKeyDown && key != kVolumeKeyMute)
        return r;
    r.handled = true;
    if (!down)
        return r;
    if (key == kVolumeKeyMute) {
        // Holding mute must not flicker between muted and not.
        if (repeatKey)
            return r;
        if (slider <= 0) {
            r.slider = std::max(1.0, volumeBeforeMute);
        } else {
            r.volumeBeforeMute = slider;
            r.slider = 0;
        }
    } else {
        r.slider = stepVolume(slider, key == kVolumeKeyUp ? kVolumeStep : -kVolumeStep);
    }
    r.pressed = true;
    return r;
}

} // namespace ql
