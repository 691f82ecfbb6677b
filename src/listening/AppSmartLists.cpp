// ---- smart lists ----
//
// Seam: the smart lists (recently received, most played, never played, new
// this week, favourites, hi-res) come with the smart-lists issue. Until then a
// smart list holds every track it is given, in the given order.
#include "app/App.h"

namespace ql {

std::vector<Track> App::smartFilter(const std::vector<Track>& tracks) const {
    return tracks;
}

} // namespace ql
