// The main window's views that App keeps, held by App as `views`; main
// thread only.
//
// The fixed controls are made with App (before any window exists, so playback
// and the browser can write into them at any time) and configured and placed
// by the window build; until a window takes one, App owns it. The rest is
// made by the window build.
#pragma once

#include <vector>

class QLabel;
class QTableView;
class QWidget;

namespace ql {

class PlayButton;
class SeekSlider;
class SidebarButton;
class TrackTableModel;

struct WindowViews {
    // Fixed controls.
    QTableView* table = nullptr;           // the track table; its own scroll view
    TrackTableModel* tableModel = nullptr; // the table's columns (owned by the table)
    QLabel* titleLabel = nullptr;          // now playing: title ("음악을 선택하세요")
    QLabel* artistLabel = nullptr;         // now playing: artist
    QLabel* infoLabel = nullptr;           // now playing: format line
    QLabel* pageTitle = nullptr;           // page header title
    QLabel* pageSub = nullptr;             // page header subtitle
    SeekSlider* volume = nullptr;          // 0 … 100, 70 until the window build restores it
    PlayButton* playButton = nullptr;      // "▶ 재생" / "⏸ 일시정지" / "준비 중…"

    // Made by the window build.
    QWidget* content = nullptr; // the window's content view
    std::vector<SidebarButton*> sidebarButtons;

    // Deletes the fixed controls no window has taken (at App's end).
    void deleteUnplaced();
};

} // namespace ql
