// Whether the user is holding the seek slider, so the periodic tick must not
// move it under the pointer: the left button is down and the pointer lies on
// the slider or within 6 pixels beside it or 10 pixels above or below it (a
// drag rarely stays exactly on a thin bar). An empty slider frame is never
// held.
//
// Pixel rectangles are half-open: a rectangle at x with width w covers x up
// to x + w - 1.
#pragma once

#include <QPoint>
#include <QRect>

namespace ql {

inline constexpr int kSeekHoldSideMargin = 6;
inline constexpr int kSeekHoldVerticalMargin = 10;

// `slider` and `pointer` in the same (window) coordinates.
bool isHoldingSeek(bool leftButtonDown, const QRect& slider, const QPoint& pointer);

} // namespace ql
