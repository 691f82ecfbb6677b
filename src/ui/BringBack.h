// Bringing a window back from the taskbar: the main window's reopen (a second
// start, Show All, the Window menu, the search shortcut) and the tool windows
// opened again (effects editor, Now Playing, downloader) all come through here.
//
// Main thread only.
#pragma once

class QWidget;

namespace ql {

// Brings a window back on screen and to the front, out of the minimised
// state only: a window minimised while maximised or full screen comes back
// so (showNormal would drop that). Does nothing for a null window.
void bringBack(QWidget* window);

} // namespace ql
