// The now-playing window.
//
// Seam: the callbacks the controller wires; the window itself comes with the
// listening tools.
#pragma once

#include <functional>

namespace ql {

class NowPlayingWindow final {
public:
    std::function<void()> onPrev;
    std::function<void()> onNext;
    std::function<void()> onToggle;
    std::function<void()> onFav;
};

} // namespace ql
