#include "ui/SeekSlider.h"

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

void SeekSlider::syncSteps() {
    m_syncing = true;
    const int top = steps(m_max - m_min);
    setRange(0, top);
    QSlider::setValue(m_max > m_min ? int(std::round((m_value - m_min) / (m_max - m_min) * top))
                                    : 0);
    m_syncing = false;
}

} // namespace ql
