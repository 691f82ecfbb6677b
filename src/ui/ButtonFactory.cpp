#include "ui/ButtonFactory.h"

#include "ui/Theme.h"

#include <cmath>

namespace ql {

namespace {
void wire(SymbolButton* button, std::function<void()> action, const QString& tip) {
    if (!tip.isEmpty())
        button->setToolTip(tip);
    if (action)
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [action = std::move(action)] { action(); });
}
} // namespace

SymbolButton* roundButton(const QString& symbol, const RoundButtonStyle& style,
                          std::function<void()> action) {
    auto* b = new SymbolButton;
    b->setImagePosition(SymbolButton::ImagePosition::ImageOnly);
    b->setImage(sym(symbol, style.size, SymbolWeight::Semibold));
    b->setContentTint(style.tint);
    b->setBackground(style.bg);
    b->setCornerRadius(style.diameter / 2);
    const int edge = int(std::lround(style.diameter));
    b->setFixedSize(edge, edge);
    wire(b, std::move(action), style.tip);
    return b;
}

SymbolButton* flatButton(const std::optional<QString>& symbol, const QString& title,
                         const FlatButtonStyle& style, std::function<void()> action) {
    auto* b = new SymbolButton;
    b->setContentTint(style.tint);
    if (symbol)
        b->setImage(sym(*symbol, style.size, SymbolWeight::Regular));
    if (!title.isEmpty()) {
        b->setAttributedTitle(title, Theme::font(13), style.tint);
        b->setImagePosition(symbol ? SymbolButton::ImagePosition::ImageLeading
                                   : SymbolButton::ImagePosition::NoImage);
    } else {
        b->setImagePosition(SymbolButton::ImagePosition::ImageOnly);
    }
    b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    wire(b, std::move(action), style.tip);
    return b;
}

} // namespace ql
