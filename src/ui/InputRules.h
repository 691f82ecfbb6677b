// What the window's navigation and transport input means: scroll gestures,
// side buttons and swipes that go back or forward in the browser's history,
// and the keys that play, pause, skip and navigate. Values in, a decision
// out; the event filter that feeds these lives in InputMonitor.
#pragma once

#include <Qt>
#include <QtGlobal>

namespace ql {

enum class InputAction { None, Back, Forward, Toggle, Next, Previous };

enum class ScrollPhase { None, Begin, Update, End };

// One scroll event of a gesture, with the gesture's running horizontal and
// vertical sums in pixels. Begin clears the sums; Begin and Update add
// their deltas; End judges the sums and clears them. A gesture navigates when
// its horizontal travel passes 140 px and 2.5 times its vertical travel:
// content pushed to the right (positive) goes back. Events without a phase
// (wheels, momentum) neither add nor end anything.
InputAction scrollStep(double& swipeAccum, double& swipeVert, ScrollPhase phase, double dx,
                       double dy);

// A mouse button beyond the three main ones: the back button (Qt's
// BackButton, X1) goes back and the forward button (X2) forward.
InputAction buttonAction(Qt::MouseButton button);

// A swipe gesture's horizontal delta: positive back, negative forward.
InputAction swipeAction(double dx);

// Keys by their place on the keyboard.
enum class KeyPlace { Other, Space, BracketLeft, BracketRight, Right, Left };

// A non-zero native scan code is an XKB key code (X11 and Wayland), which
// names the key's position whatever the layout; without one the Qt key
// stands in.
KeyPlace keyPlace(quint32 nativeScanCode, int qtKey);

// The transport and navigation keys, with Ctrl as their modifier (the
// desktop's shortcut key on Linux). Space alone toggles; Ctrl with "[" or
// "]" goes back or forward, with Right or Left moves to the next or previous
// track, whatever else is held.
InputAction keyAction(KeyPlace place, Qt::KeyboardModifiers modifiers);

} // namespace ql
