#include "ui/RoundedImage.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

namespace ql {

QPixmap roundedImage(const QImage& image, int edge, double radius) {
    const QString key =
        QStringLiteral("ql-round:%1:%2:%3").arg(image.cacheKey()).arg(edge).arg(radius);
    QPixmap out;
    if (QPixmapCache::find(key, &out))
        return out;
    out = QPixmap(edge, edge);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, edge, edge), radius, radius);
    p.setClipPath(clip);
    const QSize fitted = image.size().scaled(edge, edge, Qt::KeepAspectRatio);
    const QRect target((edge - fitted.width()) / 2, (edge - fitted.height()) / 2, fitted.width(),
                       fitted.height());
    p.drawImage(target, image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    p.end();
    QPixmapCache::insert(key, out);
    return out;
}

} // namespace ql
