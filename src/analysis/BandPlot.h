// The spectrum plot of the quality analysis: a level grid from −25 to
// −150 dB, frequency labels in kHz, the measured curve and a dashed marker at
// the cut-off with its value. It only draws; it takes no input.
//
// The owner sets the rate and the cut-off first and the curve last: only the
// curve asks for a repaint. An empty curve (while an analysis runs) leaves
// the grid and the labels of the last rate, without curve or marker.
#pragma once

#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

namespace ql {

class BandPlot final : public QWidget {
public:
    explicit BandPlot(QWidget* parent = nullptr);

    // Levels in dB below the loudest band, in order of rising frequency.
    void setCurve(std::vector<float> curve);
    const std::vector<float>& curve() const { return m_curve; }
    // Hz; the frequency axis runs from 0 to rate / 2.
    void setRate(double rate) { m_rate = rate; }
    double rate() const { return m_rate; }
    // Hz; 0 for none.
    void setCutoff(double cutoff) { m_cutoff = cutoff; }
    double cutoff() const { return m_cutoff; }

    // The plot area of a view of this size: margins 50 left, 34 right,
    // 22 above and 30 below.
    static QRectF plotRect(const QSizeF& size);
    struct AxisLabel {
        double fraction; // of the plot's width
        QString text;    // "0k", "12k"
        bool operator==(const AxisLabel&) const = default;
    };
    // Every 4 kHz, every 12 kHz above a Nyquist frequency of 30 kHz.
    static std::vector<AxisLabel> frequencyLabels(double rate);
    // Where the cut-off marker stands, as a fraction of the plot's width;
    // none unless 0 < cutoff < 96 % of the Nyquist frequency.
    static std::optional<double> markerFraction(double cutoff, double rate);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<float> m_curve;
    double m_rate = 44100;
    double m_cutoff = 0;
};

} // namespace ql
