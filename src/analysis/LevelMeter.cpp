#include "analysis/LevelMeter.h"

#include "ui/Theme.h"

#include <QPainter>

#include <algorithm>

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
    for (std::size_t c = 0; c < 2; ++c) {
        const float v = std::max(0.0f, std::min(1.0f, (db[c] + 60.0f) / 60.0f));
        m_levels[c] = std::max(double(v), m_levels[c] * kFall);
        m_peaks[c] = std::max(double(v), m_peaks[c] - kPeakFall);
    }
    update();
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

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int c = 0; c < 2; ++c) {
        // The row's bottom edge, counted up from the view's bottom: the left
        // channel's row lies above the right one's.
        const double bottom = (1 - c) * kRowPitch + 1;
        const double top = height() - bottom - kSegmentHeight;
        for (int i = 0; i < kSegments; ++i) {
            p.setBrush(lit(c, i) ? segmentColor(i) : Theme::meterUnlit());
            p.drawRoundedRect(QRectF(kSegmentPitch * i, top, kSegmentWidth, kSegmentHeight), 1, 1);
        }
    }
}

} // namespace ql
