#include "analysis/WaveformView.h"

#include "ui/Theme.h"

#include <QMouseEvent>
#include <QPaintEvent>
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
    if (std::abs(v - m_progress) > kRepaintStep)
        showProgress(v);
}

void WaveformView::showProgress(double fraction) {
    const int before = playedBars(m_progress);
    m_progress = fraction;
    const int after = playedBars(fraction);
    if (before == after)
        return;
    const int from = std::min(before, after), to = std::max(before, after);
    update(QRect(kPitch * from, 0, kPitch * (to - from), height()));
}

int WaveformView::barCount() const {
    return std::max(1, int(width() / kPitch));
}

int WaveformView::playedBars(double fraction) const {
    // Without peaks the line does not show the position.
    if (m_peaks.empty())
        return 0;
    // Bar i is played when i / n <= fraction, as the painting decides it.
    const int n = barCount();
    int k = std::clamp(int(fraction * n), 0, n - 1);
    while (k + 1 < n && double(k + 1) / n <= fraction)
        ++k;
    while (k >= 0 && double(k) / n > fraction)
        --k;
    return k + 1;
}

QSize WaveformView::sizeHint() const {
    return {0, 42};
}

void WaveformView::paintEvent(QPaintEvent* event) {
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
    const int n = barCount();
    const int playedUpTo = playedBars(m_progress);
    const auto count = double(m_peaks.size());
    // Only the bars under the part being repainted.
    const QRect dirty = event->rect();
    const int first = std::max(0, dirty.left() / kPitch);
    const int last = std::min(n - 1, dirty.right() / kPitch);
    for (int i = first; i <= last; ++i) {
        const auto idx = std::min(m_peaks.size() - 1, std::size_t(double(i) / n * count));
        const double v = std::max(kMinBar, double(m_peaks[idx]));
        const double bh = v * (h - kInset);
        p.setBrush(i < playedUpTo ? played : unplayed);
        p.drawRoundedRect(QRectF(kPitch * i, mid - bh / 2, kBarWidth, bh), kRadius, kRadius);
    }
}

void WaveformView::move(const QMouseEvent& event) {
    showProgress(std::clamp(event.position().x() / std::max(1, width()), 0.0, 1.0));
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
