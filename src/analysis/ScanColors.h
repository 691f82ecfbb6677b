// The fixed dark-theme colours of the quality analysis window: the verdict's
// green and orange, the plot's background and grid lines.
#pragma once

#include <QColor>

namespace ql::scanColors {

inline QColor green() {
    return QColor(48, 209, 88);
}
inline QColor orange() {
    return QColor(255, 159, 10);
}
// A dark text background at 40 % opacity.
inline QColor plotBackground() {
    return QColor(30, 30, 30, 102);
}
inline QColor separator() {
    return QColor(255, 255, 255, 40);
}

} // namespace ql::scanColors
