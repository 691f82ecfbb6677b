// The quality-analysis panel.
//
// Seam: made once at construction, in its place in the order; the panel comes
// with the analysis work.
#pragma once

namespace ql {

class AudioScanPanel final {};

} // namespace ql
