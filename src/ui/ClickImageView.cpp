#include "ui/ClickImageView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace ql {

ClickImageView::ClickImageView(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::PointingHandCursor);
}

void ClickImageView::setImage(const QImage& image) {
    m_image = image;
    update();
}

void ClickImageView::setCornerRadius(double radius) {
    m_radius = radius;
    update();
}

void ClickImageView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (onClick)
        onClick();
}

// Qt turns the second press of a double click into this event: it is a press
// like any other.
void ClickImageView::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void ClickImageView::paintEvent(QPaintEvent*) {
    if (m_image.isNull() || width() <= 0 || height() <= 0)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (m_radius > 0) {
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), m_radius, m_radius);
        p.setClipPath(clip);
    }
    const QSize fitted = m_image.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target((width() - fitted.width()) / 2, (height() - fitted.height()) / 2,
                       fitted.width(), fitted.height());
    p.drawImage(target, m_image);
}

} // namespace ql
