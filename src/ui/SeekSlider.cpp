#include "ui/SeekSlider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>

namespace ql {

namespace {
// Milliseconds of the range, capped where an int ends (about 24 days).
int steps(double seconds) {
    return int(std::min(std::round(seconds * 1000.0), double(INT_MAX)));
}
} // namespace

SeekSlider::SeekSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    syncSteps();
    connect(this, &QSlider::valueChanged, this, [this](int step) {
        if (m_syncing)
            return;
        const int top = QSlider::maximum();
        m_value = top > 0 ? m_min + (m_max - m_min) * double(step) / double(top) : m_min;
        if (action)
            action();
    });
}

void SeekSlider::setMaximumValue(double max) {
    if (!std::isfinite(max) || max < m_min)
        return;
    m_max = max;
    m_value = std::clamp(m_value, m_min, m_max);
    syncSteps();
}

void SeekSlider::setDoubleValue(double value) {
    if (!std::isfinite(value))
        return;
    m_value = std::clamp(value, m_min, m_max);
    syncSteps();
}

void SeekSlider::setStepValue(double step) {
    if (!std::isfinite(step) || step < 0)
        return;
    m_step = step;
    syncSteps();
}

void SeekSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && QSlider::maximum() > 0) {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QRect groove =
            style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
        const QRect handle =
            style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
        const QPoint at = event->position().toPoint();
        if (!handle.contains(at)) {
            // The handle's centre goes under the pointer; Qt's press below then
            // finds the handle there and a drag carries on from it.
            const int span = groove.width() - handle.width();
            const int x = at.x() - groove.x() - handle.width() / 2;
            setValue(QStyle::sliderValueFromPosition(QSlider::minimum(), QSlider::maximum(), x,
                                                     span, opt.upsideDown));
        }
    }
    QSlider::mousePressEvent(event);
}

void SeekSlider::wheelEvent(QWheelEvent* event) {
    if (m_step <= 0 || m_max <= m_min) {
        QSlider::wheelEvent(event);
        return;
    }
    const QPoint delta = event->angleDelta();
    const int raw = std::abs(delta.x()) > std::abs(delta.y()) ? -delta.x() : delta.y();
    m_wheelNotches += (event->inverted() ? -raw : raw) / 120.0;
    const double whole = std::trunc(m_wheelNotches);
    event->accept();
    if (whole == 0)
        return;
    m_wheelNotches -= whole;
    const double before = m_value;
    setDoubleValue(m_value + whole * m_step);
    if (m_value != before && action)
        action();
}

void SeekSlider::syncSteps() {
    m_syncing = true;
    const int top = steps(m_max - m_min);
    setRange(0, top);
    if (m_step > 0 && m_max > m_min)
        setSingleStep(std::max(1, int(std::lround(m_step / (m_max - m_min) * top))));
    QSlider::setValue(m_max > m_min ? int(std::round((m_value - m_min) / (m_max - m_min) * top))
                                    : 0);
    m_syncing = false;
}

} // namespace ql
