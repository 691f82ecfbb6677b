#include "ui/Theme.h"

#include <QGuiApplication>

namespace ql {

namespace {
QColor srgb(double r, double g, double b) {
    return QColor::fromRgbF(float(r), float(g), float(b), 1.0f);
}
} // namespace

QColor Theme::grey(double white) {
    return srgb(white, white, white);
}

// Function-local statics: made once, on first use, safely across threads.
const QColor& Theme::window() {
    static const QColor c = srgb(0.047, 0.047, 0.047);
    return c;
}
const QColor& Theme::panel() {
    static const QColor c = srgb(0.094, 0.098, 0.098);
    return c;
}
const QColor& Theme::side() {
    static const QColor c = srgb(0.082, 0.086, 0.09);
    return c;
}
const QColor& Theme::bar() {
    static const QColor c = grey(0.125);
    return c;
}
const QColor& Theme::pill() {
    static const QColor c = srgb(0.09, 0.094, 0.094);
    return c;
}
const QColor& Theme::accent() {
    static const QColor c = srgb(0.447, 0.47, 0.937);
    return c;
}
const QColor& Theme::sub() {
    static const QColor c = grey(0.56);
    return c;
}
const QColor& Theme::dim() {
    static const QColor c = grey(0.36);
    return c;
}
// The dark appearance's green, orange, yellow and red, and a grey that stays
// well below the meter's lit segments on the dark background.
const QColor& Theme::green() {
    static const QColor c = QColor(48, 209, 88);
    return c;
}
const QColor& Theme::orange() {
    static const QColor c = QColor(255, 159, 10);
    return c;
}
const QColor& Theme::meterYellow() {
    static const QColor c = QColor(255, 214, 10);
    return c;
}
const QColor& Theme::meterRed() {
    static const QColor c = QColor(255, 69, 58);
    return c;
}
const QColor& Theme::meterUnlit() {
    static const QColor c = grey(0.2);
    return c;
}

QFont Theme::font(int points, QFont::Weight weight) {
    QFont f = QGuiApplication::font();
    f.setPixelSize(points);
    f.setWeight(weight);
    return f;
}

QPalette Theme::palette() {
    const QColor text = Qt::white;
    QPalette p;
    p.setColor(QPalette::Window, window());
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, panel());
    p.setColor(QPalette::AlternateBase, side());
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::PlaceholderText, sub());
    p.setColor(QPalette::Button, pill());
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, text);
    p.setColor(QPalette::Highlight, accent());
    p.setColor(QPalette::HighlightedText, text);
    p.setColor(QPalette::ToolTipBase, bar());
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Link, accent());
    p.setColor(QPalette::Light, grey(0.3));
    p.setColor(QPalette::Midlight, grey(0.2));
    p.setColor(QPalette::Mid, grey(0.16));
    p.setColor(QPalette::Dark, grey(0.05));
    p.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dim());
    p.setColor(QPalette::Disabled, QPalette::Highlight, grey(0.25));
    return p;
}

} // namespace ql
