// The main window's views that App keeps, held by App as `views`; main
// thread only.
//
// The fixed controls are made with App (before any window exists, so playback
// and the browser can write into them at any time) and configured and placed
// by the window build; until a window takes one, App owns it. The rest is
// made by the window build.
#pragma once

#include <vector>

class QComboBox;
class QLabel;
class QSlider;
class QWidget;

namespace ql {

class AlbumGridModel;
class AlbumGridView;
class IconButton;
class PlayButton;
class SeekSlider;
class SidebarButton;
class SymbolButton;
class TrackTableModel;
class TrackTableView;

// The tile-size slider moves in tenths of a pixel, as smoothly as a slider
// holding a fraction; the tile size is its value rounded.
inline constexpr int kGridSliderScale = 10;

struct WindowViews {
    // Fixed controls.
    TrackTableView* table = nullptr;       // the track table; its own scroll view
    TrackTableModel* tableModel = nullptr; // the table's rows and columns (owned by the table)
    QLabel* titleLabel = nullptr;  // now playing: title ("음악을 선택하세요"), one line
    QLabel* artistLabel = nullptr; // now playing: artist, at most two lines
    QLabel* infoLabel = nullptr;   // now playing: format line
    QLabel* pageTitle = nullptr;   // page header title
    QLabel* pageSub = nullptr;     // page header subtitle
    SeekSlider* volume = nullptr;  // 0 … 100, 70 until the window build restores it

    // The transport bar's controls (fixed controls too; its repeat button,
    // volume text and output line are App's output controls).
    SymbolButton* barFav = nullptr;        // the heart beside the title
    SymbolButton* restartButton = nullptr; // back to the start of the track
    SymbolButton* shuffleButton = nullptr;
    SymbolButton* previousButton = nullptr;
    PlayButton* playButton = nullptr; // "▶ 재생" / "⏸ 일시정지" / "준비 중…"
    SymbolButton* nextButton = nullptr;
    SymbolButton* nowPlayingButton = nullptr;
    SymbolButton* analysisButton = nullptr; // the quality analysis of a track
    QLabel* elapsedLabel = nullptr;         // "--:--" without a player
    QLabel* remainLabel = nullptr;          // "--:--" without a player
    SymbolButton* volDownButton = nullptr;  // the minus of the volume steps
    SymbolButton* volUpButton = nullptr;    // the plus of the volume steps
    SymbolButton* lockBtn = nullptr;        // bit-perfect lock
    SymbolButton* deviceButton = nullptr;   // opens the output-device menu
    IconButton* toolsButton = nullptr;      // shows or hides the tools panel

    // Made by the window build.
    QWidget* content = nullptr;      // the window's content view
    QWidget* transportBar = nullptr; // the strip along the window's bottom
    std::vector<SidebarButton*> sidebarButtons;
    SymbolButton* navBackBtn = nullptr; // the history arrows of the top bar
    SymbolButton* navFwdBtn = nullptr;
    QWidget* pageHeader = nullptr; // cover, title and subtitle; hidden at first
    QLabel* pageCover = nullptr;   // 112 x 112
    QComboBox* sortPopup = nullptr; // tile order: "정렬: 가수", "정렬: 앨범명", "정렬: 최근 추가"
    QLabel* countLabel = nullptr;       // the visible track count of the tool row
    QSlider* gridSlider = nullptr;      // tile size, 110 … 240, in kGridSliderScale steps a pixel
    QWidget* gridHost = nullptr;        // holds the table and the tile grid
    AlbumGridView* albumView = nullptr; // the tile grid, which scrolls itself
    AlbumGridModel* albumModel = nullptr; // the grid's rows (owned by the grid)
    QWidget* letterBar = nullptr;         // the album grid's letter bar
    QWidget* extrasView = nullptr;        // the tools panel ("toolsOpen")

    // Deletes the fixed controls no window has taken (at App's end).
    void deleteUnplaced();
};

} // namespace ql
