// The waveform seek view: shows the current track's waveform with the play
// position and reports the user's seeks through `onSeek`.
//
// Seam: only the callback and the shown position. The peaks, the drawing and
// the click-and-drag that calls `onSeek` come with the waveform work.
#pragma once

#include <QWidget>

#include <algorithm>
#include <cmath>
#include <functional>

namespace ql {

class WaveformView final : public QWidget {
public:
    explicit WaveformView(QWidget* parent = nullptr) : QWidget(parent) {}

    // Given the chosen position as a fraction of the track's length.
    std::function<void(double)> onSeek;

    // The shown play position as a fraction, clamped to 0 … 1.
    void setProgress(double fraction) {
        m_progress = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    }
    double progress() const { return m_progress; }

private:
    double m_progress = 0;
};

} // namespace ql
