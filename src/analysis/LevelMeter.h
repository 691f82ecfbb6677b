// The two-row level meter: one row per channel (left above, right below),
// 21 segments each, green, yellow and red, with a falling peak marker.
//
// set() takes the average power of the two channels in dB: −60 dB and below
// is an empty row, 0 dB and above a full one. A rise shows at once; a fall is
// smoothed (× 0.82 per call) and the peak marker sinks by 0.012 of full scale
// per call, so at 20 calls a second the bars empty within about a second of
// silence and a full-scale peak reaches the bottom after 84 calls.
//
// Drawn at fixed points from the bottom-left corner (126 × 22 is its size
// hint); no background. It runs 20 times a second for as long as anything
// plays, so a call repaints only the segments whose state it changed
// (nothing while the level holds), and each segment is a copy of one
// rasterised shape per colour, not a curve filled anew. Main thread only.
#pragma once

#include <QHash>
#include <QPixmap>
#include <QWidget>

#include <array>

namespace ql {

class LevelMeter final : public QWidget {
public:
    static constexpr int kSegments = 21;

    explicit LevelMeter(QWidget* parent = nullptr);

    void set(const std::array<float, 2>& db);

    // Per channel, 0 … 1.
    const std::array<double, 2>& levels() const { return m_levels; }
    const std::array<double, 2>& peaks() const { return m_peaks; }
    // Whether segment i of the channel's row is lit, and its lit colour.
    bool lit(int channel, int i) const;
    static QColor segmentColor(int i);
    // Nothing lit but the first segment of each row: what silence draws,
    // tick after tick, from here on.
    bool atRest() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The lit segments of each row as bits.
    std::array<quint32, 2> litMask() const;
    QRect segmentRect(int channel, int i) const;
    const QPixmap& segmentShape(const QColor& color) const;

    std::array<double, 2> m_levels{0, 0};
    std::array<double, 2> m_peaks{0, 0};
    // One rasterised segment per colour, at the ratio they were made for.
    mutable QHash<QRgb, QPixmap> m_shapes;
    mutable qreal m_shapesRatio = 0;
};

} // namespace ql
