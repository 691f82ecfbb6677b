// The now-playing window.
//
// Seam: the callbacks the controller wires and the waveform view they seek
// with; the window itself comes with the listening tools.
#pragma once

#include "analysis/WaveformView.h"

#include <functional>
#include <memory>

namespace ql {

class NowPlayingWindow final {
public:
    std::function<void()> onPrev;
    std::function<void()> onNext;
    std::function<void()> onToggle;
    std::function<void()> onFav;

    std::unique_ptr<WaveformView> wave = std::make_unique<WaveformView>();
};

} // namespace ql
