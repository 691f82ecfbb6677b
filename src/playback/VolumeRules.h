// The volume rules: the one formula every player volume comes from, the
// decibel text of the volume label, and how the volume slider keeps in step
// with an output device's own hardware volume.
//
// Units: the slider runs 0…100 (player volume = slider / 100); device volumes
// and player volumes are linear gains 0…1; loudness is in LUFS.
//
// Pure unit: values in, values out.
#pragma once

#include <QString>

#include <optional>

namespace ql {

// Loudness leveling aims every track at this level, and only ever attenuates.
inline constexpr double kLevelingTargetLufs = -16.0;

// What the effective volume depends on.
struct VolumeFacts {
    double slider = 70;
    // The slider drives the device's hardware volume; the player stays at 1.
    bool hwVol = false;
    bool bitPerfect = false;
    bool maxQuality = false;
    bool levelingOn = false;
    // The measured integrated loudness of the track; none while unknown.
    std::optional<double> loudness;
    // The sleep timer's fade, 1 when it is not fading.
    double sleepFactor = 1.0;
};

// min(1, 10^((target − lufs) / 20)); a loudness that is not a number leaves
// the level alone (1).
double levelingGain(double lufs);

// The player volume, 0…1:
//  - bit-perfect without hardware volume: exactly 1 (the device's own volume
//    is the only control; nothing, not even the sleep fade, touches samples);
//  - otherwise a base of 1 with hardware volume or bit-perfect, else
//    slider / 100; leveling (when on and neither bit-perfect nor maximum
//    quality) multiplies it by levelingGain; then the sleep factor.
// A result that is not a number is 0: silence rather than an undefined gain.
float effectiveVolume(const VolumeFacts& facts);

// The volume label: 20·log10(slider / 100) with one decimal and "dB"
// ("0.0dB" at 100, "-6.0dB" at 50); "−∞ dB" (U+2212, U+221E) at 0.01 and below.
QString volumeDbText(double slider);
// The label for a hardware control of bare steps, which sound servers turn
// into gain by the cubic law: 60·log10(slider / 100), same floor and form.
QString cubicVolumeDbText(double slider);
// The label for a gain read from the control itself ("−∞ dB" below -150).
QString decibelText(double db);

// One hardware-volume poll: what to do given whether the output device had
// (`was`) and has (`now`) a settable hardware volume, its volume when it could
// be read, the slider and whether a mouse button is held.
struct HardwareVolumeStep {
    std::optional<double> slider;       // move the slider here (0…100)
    std::optional<double> deviceVolume; // write this to the device (0…1)
    bool reapply = false;               // the player volume rule changed
};

// The first poll only reads: the slider takes the device volume. Later polls:
//  - volume became available: the level heard so far (device × slider) moves
//    onto the device, and the slider shows it;
//  - volume stays available, no button held, device and slider more than
//    1.5 slider points apart: the slider follows the device;
//  - volume lost: the slider goes to 100 (it scales the player again).
HardwareVolumeStep followHardwareVolume(bool firstPoll, bool was, bool now,
                                        std::optional<double> deviceVolume, double slider,
                                        bool mouseHeld);

} // namespace ql
