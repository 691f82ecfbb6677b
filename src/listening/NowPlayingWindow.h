// The now-playing window: a separate window that mirrors the transport bar
// (cover, title, artist, format and output lines, waveform, time, play/pause
// and the favourite heart). Its fields are written only by
// App::updateNowPlaying(); its play and heart buttons call onToggle and onFav.
//
// Seam: the fields the mirror writes, stacked in one column, and the two
// buttons' callbacks. The window's own layout, looks, and its previous and
// next buttons (onPrev, onNext) come with the listening tools.
//
// Main thread only.
#pragma once

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QWidget;

namespace ql {

class ClickImageView;
class WaveformView;

class NowPlayingWindow final {
public:
    NowPlayingWindow();
    ~NowPlayingWindow();
    NowPlayingWindow(const NowPlayingWindow&) = delete;
    NowPlayingWindow& operator=(const NowPlayingWindow&) = delete;

    std::function<void()> onPrev;
    std::function<void()> onNext;
    std::function<void()> onToggle;
    std::function<void()> onFav;

    // Whether the window is on screen.
    bool visible() const;

    // The window; it owns every view below.
    const std::unique_ptr<QWidget> window;
    // Track data, never translated.
    QLabel* titleLabel = nullptr;
    QLabel* artistLabel = nullptr;
    QLabel* infoLabel = nullptr;
    QLabel* dacLabel = nullptr;
    QLabel* timeLabel = nullptr;
    ClickImageView* art = nullptr;
    WaveformView* wave = nullptr;
    // Their titles are glyphs: "▶" / "⏸" and "♡" / "♥".
    QPushButton* playButton = nullptr;
    QPushButton* favButton = nullptr;
};

} // namespace ql
