// The arithmetic of the two volume fades driven by the tick: the crossfade
// into the next track and the sleep timer's fade to silence.
//
// Times are seconds. Track times are source seconds (the player's duration
// and position, whatever the speed); fade times are seconds of a monotonic
// clock.
//
// Pure unit: values in, values out.
#pragma once

namespace ql {

// A track crossfades into the next only when it is longer than this.
inline constexpr double kCrossfadeMinTrack = 12.0;
// The crossfade starts when this much of the file is left.
inline constexpr double kCrossfadeLead = 5.0;
// The shortest crossfade, for a start found late (after a seek near the end).
inline constexpr double kCrossfadeShortest = 0.5;
// The crossfade's volumes are stepped this often.
inline constexpr int kFadeStepMs = 100;

// Whether a track of `duration` playing at `currentTime` should start its
// crossfade now: longer than 12 s, at most 5 s of file left.
bool crossfadeDue(double duration, double currentTime);
// The fade's length for `remaining` seconds of file: never under 0.5 s.
double crossfadeLength(double remaining);
// Progress 0…1 of a fade of `length` seconds, `elapsed` seconds after its
// start; a clock read before the start counts as the start.
double fadeProgressAt(double elapsed, double length);

// The sleep pop-up's items: 0 the face, 1…4 a timer of 15, 30, 60, 90
// minutes, 5 "timer off".
inline constexpr int kSleepOffItem = 5;
// Minutes of item `index`; 0 for the face, "timer off" and anything else.
int sleepMinutes(int index);
// The sleep fade: 1 while 30 s or more are left, then falling linearly to 0.
double sleepFactorFor(double left);
// Whole minutes shown for `left` seconds, rounded up (a fresh 15-minute timer
// shows 15, 61 s show 2).
int sleepMinutesShown(double left);

} // namespace ql
