// Sample rates written for people, shared by every place that shows a rate in
// kHz (the DAC label, the signal-path report, the format line).
#pragma once

#include <QString>

namespace ql {

// A rate in Hz as kHz, without the unit: a whole number of kHz is written
// without decimals ("48", "192", "0"); any other rate with exactly one
// ("44.1", "176.4", and "11.0" for 11025, never "11"). Always '.' as the
// decimal mark, whatever the locale. A rate that is not finite gives "0".
QString khzText(double rate);

} // namespace ql
