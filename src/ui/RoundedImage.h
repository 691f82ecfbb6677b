// A picture fitted into a square with rounded corners, as the track table's
// thumbnails and the grid's covers show it: scaled smoothly with its aspect
// kept, centred, clipped to the rounded square, transparent around it. Made
// once per picture, edge and radius and kept in QPixmapCache, so a repaint
// only copies it. Sizes in device pixels. Main thread only.
#pragma once

#include <QImage>
#include <QPixmap>

namespace ql {

QPixmap roundedImage(const QImage& image, int edge, double radius);

} // namespace ql
