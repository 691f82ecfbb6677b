#include "analysis/BandPlot.h"

#include "analysis/ScanColors.h"
#include "playback/RateText.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace ql {

namespace {
constexpr double kFloorDb = -150;
} // namespace

BandPlot::BandPlot(QWidget* parent) : QWidget(parent) {}

void BandPlot::setCurve(std::vector<float> curve) {
    m_curve = std::move(curve);
    update();
}

QRectF BandPlot::plotRect(const QSizeF& size) {
    return {50, 22, size.width() - 84, size.height() - 52};
}

std::vector<BandPlot::AxisLabel> BandPlot::frequencyLabels(double rate) {
    const double nyq = rate / 2;
    const double step = nyq <= 30000 ? 4000 : 12000;
    std::vector<AxisLabel> labels;
    if (!(nyq > 0))
        return labels;
    for (double f = 0; f <= nyq; f += step)
        labels.push_back({f / nyq, QString::number(int(f / 1000)) + u'k'});
    return labels;
}

std::optional<double> BandPlot::markerFraction(double cutoff, double rate) {
    const double nyq = rate / 2;
    if (cutoff > 0 && cutoff < nyq * 0.96)
        return cutoff / nyq;
    return std::nullopt;
}

void BandPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF plot = plotRect(size());
    // Levels run top-down: 0 dB on the top edge, −150 dB on the bottom one.
    const auto levelY = [&plot](double db) { return plot.top() + plot.height() * (db / kFloorDb); };
    p.fillRect(plot, scanColors::plotBackground());

    // Texts are placed by the bottom of their line box, as the layout
    // was drawn: the baseline sits the font's descent above it.
    const QFont axisFont = Theme::font(9);
    const QFontMetricsF axis(axisFont);
    p.setFont(axisFont);
    for (int d = -25; d >= -150; d -= 25) {
        const double y = levelY(d);
        p.setPen(QPen(scanColors::separator(), 0.5));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(Theme::sub());
        p.drawText(QPointF(2, y + 6 - axis.descent()), QString::number(d) + QStringLiteral("dB"));
    }
    for (const AxisLabel& label : frequencyLabels(m_rate)) {
        const double x = plot.left() + plot.width() * label.fraction;
        p.drawText(QPointF(x - 6, plot.bottom() + 16 - axis.descent()), label.text);
    }

    if (m_curve.size() < 2)
        return;
    QPainterPath path;
    const double last = double(m_curve.size() - 1);
    for (std::size_t i = 0; i < m_curve.size(); ++i) {
        const QPointF point(plot.left() + plot.width() * double(i) / last,
                            levelY(std::max(kFloorDb, double(m_curve[i]))));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    p.strokePath(path, QPen(Theme::accent(), 1.4));

    const std::optional<double> marker = markerFraction(m_cutoff, m_rate);
    if (!marker)
        return;
    const double x = plot.left() + plot.width() * *marker;
    QPen dashed(scanColors::orange(), 1);
    dashed.setDashPattern({4, 3});
    p.setPen(dashed);
    p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.top()));
    const QFont markFont = Theme::font(10, QFont::DemiBold);
    p.setFont(markFont);
    p.setPen(scanColors::orange());
    p.drawText(QPointF(std::min(x + 4, plot.right() - 50),
                       plot.top() + 16 - QFontMetricsF(markFont).descent()),
               fixedText(m_cutoff / 1000, 1) + QStringLiteral("kHz"));
}

} // namespace ql
