#include "analysis/LevelMeter.h"

#include "ui/Theme.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <bit>

namespace ql {

namespace {
constexpr double kFall = 0.82;
constexpr double kPeakFall = 0.012;
constexpr double kSegmentPitch = 6;
constexpr double kSegmentWidth = 4.5;
constexpr double kSegmentHeight = 9;
constexpr double kRowPitch = 11;
} // namespace

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {}

void LevelMeter::set(const std::array<float, 2>& db) {
    const std::array<quint32, 2> before = litMask();
    for (std::size_t c = 0; c < 2; ++c) {
        const float v = std::max(0.0f, std::min(1.0f, (db[c] + 60.0f) / 60.0f));
        m_levels[c] = std::max(double(v), m_levels[c] * kFall);
        m_peaks[c] = std::max(double(v), m_peaks[c] - kPeakFall);
    }
    const std::array<quint32, 2> after = litMask();
    for (int c = 0; c < 2; ++c) {
        const quint32 changed = before[std::size_t(c)] ^ after[std::size_t(c)];
        if (changed == 0)
            continue;
        const int first = std::countr_zero(changed);
        const int last = 31 - std::countl_zero(changed);
        update(segmentRect(c, first).united(segmentRect(c, last)));
    }
}

std::array<quint32, 2> LevelMeter::litMask() const {
    std::array<quint32, 2> mask{0, 0};
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kSegments; ++i)
            if (lit(c, i))
                mask[std::size_t(c)] |= quint32(1) << i;
    return mask;
}

QRect LevelMeter::segmentRect(int channel, int i) const {
    // The row's bottom edge, counted up from the view's bottom: the left
    // channel's row lies above the right one's.
    const double bottom = (1 - channel) * kRowPitch + 1;
    const double top = height() - bottom - kSegmentHeight;
    return QRectF(kSegmentPitch * i, top, kSegmentWidth, kSegmentHeight).toAlignedRect();
}

const QPixmap& LevelMeter::segmentShape(const QColor& color) const {
    const qreal ratio = devicePixelRatioF();
    if (ratio != m_shapesRatio) {
        m_shapes.clear();
        m_shapesRatio = ratio;
    }
    auto it = m_shapes.find(color.rgba());
    if (it != m_shapes.end())
        return *it;
    const QSize size = QRectF(0, 0, kSegmentWidth, kSegmentHeight).toAlignedRect().size();
    QPixmap shape(size * ratio);
    shape.setDevicePixelRatio(ratio);
    shape.fill(Qt::transparent);
    QPainter p(&shape);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawRoundedRect(QRectF(0, 0, kSegmentWidth, kSegmentHeight), 1, 1);
    p.end();
    return *m_shapes.insert(color.rgba(), shape);
}

bool LevelMeter::lit(int channel, int i) const {
    const double t = double(i) / kSegments;
    const double peak = m_peaks[std::size_t(channel)];
    return m_levels[std::size_t(channel)] > t || (t <= peak && peak < t + 1.0 / kSegments);
}

bool LevelMeter::atRest() const {
    for (int channel = 0; channel < 2; ++channel)
        for (int i = 1; i < kSegments; ++i)
            if (lit(channel, i))
                return false;
    return true;
}

QColor LevelMeter::segmentColor(int i) {
    if (i <= 12)
        return Theme::green();
    return i <= 17 ? Theme::meterYellow() : Theme::meterRed();
}

QSize LevelMeter::sizeHint() const {
    return {126, 22};
}

void LevelMeter::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    const QRect dirty = event->rect();
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < kSegments; ++i) {
            const QRect r = segmentRect(c, i);
            if (!r.intersects(dirty))
                continue;
            // Segments start on whole pixels, so a copy lands exactly where a
            // freshly filled shape would.
            p.drawPixmap(r.topLeft(),
                         segmentShape(lit(c, i) ? segmentColor(i) : Theme::meterUnlit()));
        }
    }
}

} // namespace ql
