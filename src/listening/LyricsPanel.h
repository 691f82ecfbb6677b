// The synced-lyrics panel.
//
// Seam: made once at construction, in its place in the order; the panel
// itself comes with the lyrics work.
#pragma once

namespace ql {

class LyricsPanel final {};

} // namespace ql
