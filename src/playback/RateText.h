// Sample rates and output formats written for people, shared by every place
// that shows a rate in kHz (the DAC label, the signal-path report, the format
// line). Pure unit.
#pragma once

#include <QString>

namespace ql {

// A rate in Hz as kHz, without the unit: a whole number of kHz is written
// without decimals ("48", "192", "0"); any other rate with exactly one
// ("44.1", "176.4", and "11.0" for 11025, never "11"). Always '.' as the
// decimal mark, whatever the locale. A rate that is not finite gives "0".
QString khzText(double rate);

// `value` with exactly `decimals` decimals, as printf("%.*f") writes it in the
// C locale (ties to even), whatever the user's locale.
QString fixedText(double value, int decimals);
// The same with the sign always written, as printf("%+.*f"), except that a
// value that rounds to zero reads "+0" (or "+0.0"), never "-0": a gain of
// -0.3 dB shows as "+0 dB".
QString signedFixedText(double value, int decimals);

// The DAC label for the format the output device runs at: "DAC: ", the bit
// depth and "/" when it is known (1 or more), the rate in kHz, then "Stereo"
// for two channels or the count and "ch" ("DAC: 24/96kHz Stereo",
// "DAC: 48kHz 8ch"). A rate that could not be read (0, negative, not finite)
// gives "": a label claiming "0kHz" would be false. A channel count that could
// not be read (0 or less) leaves the channel part out rather than show "0ch".
QString dacText(int bits, double rate, int channels);

} // namespace ql
