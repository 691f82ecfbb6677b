// The fixed colour palette of the interface: twelve named colours every view
// takes its backgrounds, tints and text colours from. Not configurable, not
// stored: the same on every start.
//
// Each colour is one shared object, made on first use (thread-safe) and kept
// for the whole run, so two reads give the same object. Components are
// fractions 0 … 1. Three of them (bar, sub, dim) are greys given by a white
// level; Qt has no grey colour space, so they are sRGB colours with equal
// red, green and blue.
//
// palette() is the dark appearance of the whole application (Fusion style):
// window, text, controls and selection drawn from these colours.
// font() is the system font at a pixel size and weight.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace ql {

class Theme {
public:
    Theme() = delete;

    static const QColor& window(); // main window background
    static const QColor& panel();  // the page panel; round buttons' backgrounds
    static const QColor& side();   // the sidebar panel
    static const QColor& bar();    // the page's tool row (grey 0.125)
    static const QColor& pill();   // pill containers and the tab bar
    static const QColor& accent(); // selection, active entries, "on" states
    static const QColor& sub();    // secondary text, idle icons (grey 0.56)
    static const QColor& dim();    // dimmest text, dead-end arrows (grey 0.36)
    static const QColor& green();  // a good verdict, an active stage, the meter's lit green
    static const QColor& orange(); // a verdict that is a warning
    // The level meter's other segments: lit yellow and red, and unlit.
    static const QColor& meterYellow();
    static const QColor& meterRed();
    static const QColor& meterUnlit();

    // A grey of the given white level, as the three greys above are made.
    static QColor grey(double white);

    static QPalette palette();

    // The interface font at a size in points (one point is one pixel).
    static QFont font(int points, QFont::Weight weight = QFont::Normal);
};

} // namespace ql
