// A plain rounded, filled rectangle that other views lie on: the window's
// panels (sidebar, page, tool row), the pill containers of the top bar and
// the tab bar's selection capsule. It has no size of its own; its layout or
// its parent's layout places it.
//
// Main thread only.
#pragma once

#include <QColor>
#include <QWidget>

namespace ql {

class Surface : public QWidget {
    Q_OBJECT
public:
    Surface(const QColor& color, double radius, QWidget* parent = nullptr);

    const QColor& color() const { return m_color; }
    double radius() const { return m_radius; }
    void setColor(const QColor& color);
    void setRadius(double radius);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color;
    double m_radius;
};

} // namespace ql
