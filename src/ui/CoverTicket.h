// Whether a cover request is still wanted when its turn comes on the cover
// queue. The grid's tiles and the table's title cells ask for covers as they
// come into view; a request outlives its tile when the grid is regrouped, the
// view scrolls on or another tab is chosen, and a queue of such requests
// would go on extracting pictures nobody sees (a genre scan regroups the
// grid hundreds of times). The one who shows the cover holds a CoverHold
// while it does; the request carries a ticket of it and is dropped, unanswered,
// once the hold is let go.
//
// A default ticket is always wanted (the page header's cover, a test's).
// Header only; tickets may be read on any thread, holds are the main
// thread's.
#pragma once

#include <memory>

namespace ql {

using CoverHold = std::shared_ptr<const void>;

class CoverTicket {
public:
    CoverTicket() = default;
    explicit CoverTicket(const CoverHold& hold) : m_hold(hold), m_held(true) {}

    // A new hold for a cover about to be shown.
    static CoverHold hold() { return std::make_shared<const char>(0); }

    // Still shown by whoever asked (always for a default ticket).
    bool wanted() const { return !m_held || !m_hold.expired(); }

private:
    std::weak_ptr<const void> m_hold;
    bool m_held = false;
};

} // namespace ql
