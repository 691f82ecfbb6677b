// ---- succession: which track plays next ----
#include "app/App.h"

#include "playback/Succession.h"

namespace ql {

std::optional<Track> App::peekNext() const {
    return ql::peekNext(listening.radioQueue, library.rows, browser.filtered, playback.current);
}

} // namespace ql
