// The synced-lyrics panel.
//
// Seam: made once at construction, in its place in the order; the panel
// itself comes with the lyrics work. Until then setTrack() (the current
// track, whose lyrics the panel loads while it is visible) keeps nothing,
// and update() (the playback position in seconds, which moves the highlight
// of synced lyrics) does nothing.
#pragma once

#include "app/Records.h"

namespace ql {

class LyricsPanel final {
public:
    void setTrack(const Track&) {}
    void update(double /*position*/) {}
};

} // namespace ql
