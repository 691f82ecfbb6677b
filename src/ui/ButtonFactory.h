// Factories of the interface's two common button kinds (both SymbolButton):
//
// roundButton: a circular icon button (transport bar, page actions): the
//   symbol at `size` points, semibold, in `tint`, on a `bg` circle of
//   `diameter`; fixed at diameter x diameter. An unknown symbol leaves the
//   circle without an icon.
// flatButton: a borderless button with an icon, a title, or both (navigation
//   arrows, transport and page actions, the letters of the grid's letter bar):
//   the symbol at `size` points, regular weight; the title as given (the
//   factory does not translate it) at 13 pt in `tint`. It never takes the
//   keyboard focus and sizes itself to its content.
//
// `action` runs on every click (the caller guards anything it captures).
// Main thread only.
#pragma once

#include "ui/SymbolButton.h"

#include <functional>
#include <optional>

namespace ql {

struct RoundButtonStyle {
    double diameter = 34;
    double size = 14; // symbol point size
    QColor bg;
    QColor tint = Qt::white;
    QString tip;
};

struct FlatButtonStyle {
    double size = 15; // symbol point size
    QColor tint = Qt::white;
    QString tip;
};

SymbolButton* roundButton(const QString& symbol, const RoundButtonStyle& style,
                          std::function<void()> action = {});

SymbolButton* flatButton(const std::optional<QString>& symbol, const QString& title = {},
                         const FlatButtonStyle& style = {}, std::function<void()> action = {});

} // namespace ql
