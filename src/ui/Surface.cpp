#include "ui/Surface.h"

#include <QPainter>

namespace ql {

Surface::Surface(const QColor& color, double radius, QWidget* parent)
    : QWidget(parent), m_color(color), m_radius(radius) {}

void Surface::setColor(const QColor& color) {
    m_color = color;
    update();
}

void Surface::setRadius(double radius) {
    m_radius = radius;
    update();
}

void Surface::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(m_color);
    // A radius beyond half the short side would fold the corners over.
    const double r = std::min(m_radius, std::min(width(), height()) / 2.0);
    p.drawRoundedRect(QRectF(rect()), r, r);
}

} // namespace ql
