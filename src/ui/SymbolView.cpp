#include "ui/SymbolView.h"

#include <QPainter>

namespace ql {

SymbolView::SymbolView(std::optional<Symbol> symbol, const QColor& tint, QWidget* parent)
    : QWidget(parent), m_symbol(std::move(symbol)), m_tint(tint) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setContentTint(const QColor& tint) {
    m_tint = tint;
    update();
}

QSize SymbolView::sizeHint() const {
    return m_symbol ? m_symbol->size() : QSize(0, 0);
}

void SymbolView::paintEvent(QPaintEvent*) {
    if (!m_symbol)
        return;
    QPainter p(this);
    const QSize s = m_symbol->size();
    m_symbol->paint(
        p,
        QRectF((width() - s.width()) / 2.0, (height() - s.height()) / 2.0, s.width(), s.height()),
        m_tint);
}

} // namespace ql
