// An image view showing one symbol in a tint colour (the search pill's
// magnifier, the transport bar's speaker, the tool row's filter icon). Without
// a symbol (an unknown name) it shows nothing and takes no room. It keeps its
// size: it never stretches.
// Main thread only.
#pragma once

#include "ui/Symbol.h"

#include <QWidget>

#include <optional>

namespace ql {

class SymbolView final : public QWidget {
public:
    explicit SymbolView(std::optional<Symbol> symbol, const QColor& tint,
                        QWidget* parent = nullptr);

    const std::optional<Symbol>& symbol() const { return m_symbol; }
    const QColor& contentTint() const { return m_tint; }
    void setContentTint(const QColor& tint);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<Symbol> m_symbol;
    QColor m_tint;
};

} // namespace ql
