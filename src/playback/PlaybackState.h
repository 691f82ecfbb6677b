// State of playback and audio output held by App. Later playback work adds
// its fields here (current track and player, queues, device list, modes).
#pragma once

#include <QString>

#include <optional>

namespace ql {

struct PlaybackState {
    // The UID of the output device the user chose; none means the system
    // default. Kept while that device is unplugged, for when it returns.
    std::optional<QString> outputUID;
};

} // namespace ql
