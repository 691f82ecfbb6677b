// Named symbol images: every icon of the interface (transport buttons, sidebar
// entries, round and flat buttons, the lock) comes through sym().
//
// The images are the program's own drawings, resources/icons/<name>.svg,
// compiled in under ":/icons/". They are drawn in black on transparent and
// take their colour when painted: the tint replaces every drawn pixel's colour
// and keeps its coverage, so one drawing serves every state of a control.
//
// sym(name, size, weight) gives the symbol at a point size (one point is one
// device-independent pixel; the image is a square of that edge) and a stroke
// weight (semibold and bold widen the drawing's strokes). It gives nothing for
// an unknown name, the empty name, a name that is not a plain symbol name
// (lower-case letters, digits and dots), and a size that is not a finite
// number in 0 < size <= 512. Each drawing is parsed once per thread and weight;
// a Symbol shares the parsed drawing.
//
// Main thread (painting); a Symbol is a small value and may be copied.
#pragma once

#include <QColor>
#include <QRectF>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>

class QPainter;
class QPixmap;
class QSvgRenderer;

namespace ql {

enum class SymbolWeight { Regular, Semibold, Bold };

class Symbol {
public:
    const QString& name() const { return m_name; }
    double pointSize() const { return m_size; }
    SymbolWeight weight() const { return m_weight; }
    // The image's size in device-independent pixels.
    QSize size() const;

    // Draws the symbol into `rect` in the colour `tint`.
    void paint(QPainter& painter, const QRectF& rect, const QColor& tint) const;
    // The symbol at its size, tinted, for a screen of the given pixel ratio.
    QPixmap pixmap(const QColor& tint, double devicePixelRatio = 1.0) const;

private:
    friend std::optional<Symbol> sym(const QString& name, double size, SymbolWeight weight);
    Symbol(QString name, double size, SymbolWeight weight, std::shared_ptr<QSvgRenderer> svg);

    QString m_name;
    double m_size;
    SymbolWeight m_weight;
    std::shared_ptr<QSvgRenderer> m_svg;
};

std::optional<Symbol> sym(const QString& name, double size = 14,
                          SymbolWeight weight = SymbolWeight::Regular);

} // namespace ql
