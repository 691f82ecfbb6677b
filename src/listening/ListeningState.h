// State of smart listening, held by App as `listening`; main thread only.
#pragma once

namespace ql {

struct ListeningState {
    // 0 = no smart list; 1 recently received, 2 most played, 3 never played,
    // 4 new this week, 5 favourites, 6 hi-res. Kept as stored: readers clamp.
    int smartMode = 0;
};

} // namespace ql
