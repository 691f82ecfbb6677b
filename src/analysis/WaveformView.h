// The waveform seek view: the current track's peaks as a row of thin bars
// (2 wide at a pitch of 3, centred on the middle line, at least 4 % of the
// usable height), the played part in the accent colour; a click or drag
// moves the shown position, and the release reports it once through
// `onSeek`. Without peaks it draws one flat 2-px line.
//
// setProgress() follows playback: it is ignored while the user drags, and
// takes a move only when it is larger than 0.0005, since it is called 20
// times a second. A move repaints only the bars that change colour, so most
// calls repaint nothing and the rest one bar or a few. Every assignment of peaks repaints and takes
// a new version number (unique across views), so a mirror can tell whether it still shows the same
// peaks without comparing them.
//
// Main thread only.
#pragma once

#include "analysis/WaveformPeaks.h"

#include <QWidget>

#include <functional>

namespace ql {

class WaveformView final : public QWidget {
public:
    explicit WaveformView(QWidget* parent = nullptr);

    // Given the chosen position as a fraction of the track's length.
    std::function<void(double)> onSeek;

    const WavePeaks& peaks() const { return m_peaks; }
    void setPeaks(WavePeaks peaks);
    // Shows the other view's peaks, under its version.
    void copyPeaks(const WaveformView& other);
    quint64 peaksVersion() const { return m_version; }

    // The shown play position as a fraction, clamped to 0 … 1.
    void setProgress(double fraction);
    double progress() const { return m_progress; }
    bool isDragging() const { return m_dragging; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void move(const QMouseEvent& event);
    // Shows the position, repainting the bars it colours differently.
    void showProgress(double fraction);
    int barCount() const;
    // How many bars, from the left, are drawn as played at that position.
    int playedBars(double fraction) const;

    WavePeaks m_peaks;
    quint64 m_version = 0;
    double m_progress = 0;
    bool m_dragging = false;
};

} // namespace ql
