#include "app/SeekHold.h"

namespace ql {

bool isHoldingSeek(bool leftButtonDown, const QRect& slider, const QPoint& pointer) {
    if (!leftButtonDown || slider.isEmpty())
        return false;
    const QRect grown = slider.adjusted(-kSeekHoldSideMargin, -kSeekHoldVerticalMargin,
                                        kSeekHoldSideMargin, kSeekHoldVerticalMargin);
    return grown.contains(pointer);
}

} // namespace ql
