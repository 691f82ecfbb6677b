// State of playback, held by App as `playback`; main thread only.
#pragma once

#include "app/Records.h"

#include <optional>

namespace ql {

inline constexpr char kShuffleKey[] = "shuffle";

struct PlaybackState {
    // The playing or paused track; none when nothing is loaded.
    std::optional<Track> current;
    // Shuffle mode: the visible list keeps a stable random order. Starts from
    // the stored "shuffle".
    bool shuffled = false;
};

} // namespace ql
