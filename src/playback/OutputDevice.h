// Records the output-device queries of App return.
#pragma once

#include "platform/AudioHardware.h"

#include <QString>

namespace ql {

// One device that can play sound, as listed in the device menu.
struct OutputDeviceEntry {
    platform::DeviceId id = platform::kNoDevice;
    QString name; // "" when it cannot be read
    QString uid;
    bool operator==(const OutputDeviceEntry&) const = default;
};

// The output device as it runs now. rate is 0 when it cannot be read; bits
// and channels are 0 when the stream format cannot be read.
struct OutputInfo {
    QString name;
    double rate = 0; // Hz
    int bits = 0;
    int channels = 0;
    bool operator==(const OutputInfo&) const = default;
};

} // namespace ql
