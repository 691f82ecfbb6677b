// The now-playing window: a separate dark window that mirrors the transport
// bar in large (cover, title, artist, format line, waveform, time, the four
// transport buttons and the output line). It holds no playback state: its
// fields are written only by App::updateNowPlaying(), and its buttons report
// through the four callbacks App sets at launch (each does nothing while
// unset).
//
// One window for the whole run, made hidden with this object: a normal
// top-level window titled "지금 재생 중" (closable, resizable, minimisable;
// not a tool window and not kept on top), 560 x 800, at least 420 x 600.
// Closing it only hides it, and it never ends the application. toggle()
// hides it, or centres it on the given screen, shows, raises and activates
// it.
//
// Layout: one column inset 28 at the top, 32 at the sides and 24 at the
// bottom, rows 10 apart: cover, title, artist, format line, waveform, time,
// the control row (heart, previous, play/pause, next, 28 apart) and the
// output line, all centred. The cover, the title and the waveform keep 64 of
// the column free (the waveform is exactly that narrow, 54 high); the cover
// is the largest square that fits, and it is the row that gives up height
// when the window is small. Title, artist and format line show catalog data
// and are never translated.
//
// Main thread only. Never includes App.h.
#pragma once

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QScreen;
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
    // Hides the window when it is on screen; otherwise centres it on `screen`
    // (the primary screen when none), shows it and brings it to the front as
    // the active window.
    void toggle(QScreen* screen);

    // The window; it owns every view below.
    const std::unique_ptr<QWidget> window;
    QLabel* titleLabel = nullptr; // one line, cut with "…"
    QLabel* artistLabel = nullptr;
    QLabel* infoLabel = nullptr; // the format line
    QLabel* dacLabel = nullptr;  // the output-device line
    QLabel* timeLabel = nullptr; // "0:00 / 0:00"
    ClickImageView* art = nullptr;
    WaveformView* wave = nullptr;
    // Their titles are glyphs: "⏮", "▶" / "⏸", "⏭" and "♡" / "♥".
    QPushButton* prevButton = nullptr;
    QPushButton* playButton = nullptr;
    QPushButton* nextButton = nullptr;
    QPushButton* favButton = nullptr;
};

} // namespace ql
