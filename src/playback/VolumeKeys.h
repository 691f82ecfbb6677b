// The keyboard's volume keys as slider steps: up and down move the volume
// slider by 5, mute sets it to 0 and back. The key codes are the program's
// own numbering (0 up, 1 down, 7 mute); volumeKeyCode() maps Qt's keys to it.
//
// Pure unit: values in, values out.
#pragma once

#include <optional>

namespace ql {

inline constexpr int kVolumeKeyUp = 0;
inline constexpr int kVolumeKeyDown = 1;
inline constexpr int kVolumeKeyMute = 7;
// Slider units per press of up or down (and per step of the volume buttons).
inline constexpr double kVolumeStep = 5.0;

// The key code of a Qt key (Qt::Key_VolumeUp, _VolumeDown, _VolumeMute);
// none for any other key.
std::optional<int> volumeKeyCode(int qtKey);

// slider + delta, kept inside 0…100.
double stepVolume(double slider, double delta);

struct VolumeKeyResult {
    bool handled = false; // one of the three volume keys
    // A press that sets the slider (also to the value it had, as up at 100
    // does): the caller applies the volume and shows it.
    bool pressed = false;
    double slider = 0;
    double volumeBeforeMute = 0;
};

// One key event. A release is handled and changes nothing. Mute ignores
// auto-repeat; at 0 (or below) it restores max(1, volumeBeforeMute),
// otherwise it remembers the slider in volumeBeforeMute and sets 0. Up and
// down step on every press, auto-repeated ones included.
VolumeKeyResult applyVolumeKey(int key, bool down, bool repeatKey, double slider,
                               double volumeBeforeMute);

} // namespace ql
