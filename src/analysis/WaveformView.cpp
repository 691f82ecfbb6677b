#include "analysis/WaveformView.h"

#include "ui/Theme.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace ql {

namespace {
constexpr double kRepaintStep = 0.0005;
constexpr int kPitch = 3;
constexpr double kBarWidth = 2;
constexpr double kRadius = 1;
constexpr double kMinBar = 0.04;
constexpr double kInset = 6; // height left free above and below the tallest bar

quint64 nextVersion() {
    static std::atomic<quint64> counter{0};
    return ++counter;
}
} // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void WaveformView::setPeaks(WavePeaks peaks) {
    m_peaks = std::move(peaks);
    m_version = nextVersion();
    update();
}

void WaveformView::copyPeaks(const WaveformView& other) {
    m_peaks = other.m_peaks;
    m_version = other.m_version;
    update();
}

void WaveformView::setProgress(double fraction) {
    if (m_dragging)
        return;
    const double v = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    if (std::abs(v - m_progress) > kRepaintStep) {
        m_progress = v;
        update();
    }
}

QSize WaveformView::sizeHint() const {
    return {0, 42};
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const double w = width(), h = height(), mid = h / 2;
    const QColor played = Theme::accent();
    const QColor unplayed = Theme::grey(0.24);
    if (m_peaks.empty()) {
        p.setBrush(unplayed);
        p.drawRoundedRect(QRectF(0, mid - 1, w, 2), kRadius, kRadius);
        return;
    }
    const int n = std::max(1, int(w / kPitch));
    const auto count = double(m_peaks.size());
    for (int i = 0; i < n; ++i) {
        const auto idx = std::min(m_peaks.size() - 1, std::size_t(double(i) / n * count));
        const double v = std::max(kMinBar, double(m_peaks[idx]));
        const double bh = v * (h - kInset);
        p.setBrush(double(i) / n <= m_progress ? played : unplayed);
        p.drawRoundedRect(QRectF(kPitch * i, mid - bh / 2, kBarWidth, bh), kRadius, kRadius);
    }
}

void WaveformView::move(const QMouseEvent& event) {
    m_progress = std::clamp(event.position().x() / std::max(1, width()), 0.0, 1.0);
    update();
}

// Only the left button seeks; Qt hands every button to these handlers.
void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return event->ignore();
    m_dragging = true;
    move(*event);
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging)
        move(*event);
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_dragging)
        return event->ignore();
    move(*event);
    m_dragging = false;
    if (onSeek)
        onSeek(m_progress);
}

} // namespace ql
