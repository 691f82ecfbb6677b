// The signal-path panel.
//
// Seam: made once at construction, in its place in the order; the report and
// its window come with the signal-path work.
#pragma once

namespace ql {

class SignalPathPanel final {};

} // namespace ql
