#include "ui/TabBar.h"

#include "ui/Surface.h"
#include "ui/SymbolButton.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>

#include <cmath>

namespace ql {

namespace {
constexpr int kHeight = 34;
constexpr int kButtonHeight = 26;
constexpr int kInset = 4;
constexpr int kSpacing = 2;
} // namespace

TabBar::TabBar(QStringList labels, QWidget* parent)
    : QWidget(parent), m_labels(std::move(labels)), m_sel(new Surface(Theme::accent(), 14, this)),
      m_stack(new QHBoxLayout(this)) {
    // The indicator is the first child, so every button lies above it.
    m_sel->hide();
    m_stack->setSpacing(kSpacing);
    m_stack->setContentsMargins(kInset, kInset, kInset, kInset);
    m_stack->setSizeConstraint(QLayout::SetFixedSize);

    const QFont regular = Theme::font(13);
    const QFont semibold = Theme::font(13, QFont::DemiBold);
    for (int i = 0; i < m_labels.size(); ++i) {
        const QString t = L10n::tab(m_labels[i]);
        auto* b = new SymbolButton(this);
        b->setTag(i);
        b->setFocusPolicy(Qt::NoFocus);
        b->setImagePosition(SymbolButton::ImagePosition::NoImage);
        b->setAttributedTitle(t, regular, Qt::white);
        // Measured in the selected weight: a button keeps its width when chosen.
        const int w = int(std::ceil(QFontMetricsF(semibold).horizontalAdvance(t))) + 30;
        b->setFixedSize(w, kButtonHeight);
        connect(b, &QAbstractButton::clicked, this, [this, i] { tapped(i); });
        m_buttons.push_back(b);
        m_stack->addWidget(b, 0, Qt::AlignVCenter);
    }
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    refresh();
}

void TabBar::setSelectedSegment(int index) {
    m_selected = index;
    refresh();
    placeIndicator();
}

void TabBar::refresh() {
    for (SymbolButton* b : m_buttons) {
        const bool selected = b->tag() == m_selected;
        b->setAttributedTitle(
            b->title(), Theme::font(13, selected ? QFont::DemiBold : QFont::Normal), Qt::white);
    }
    updateGeometry();
}

QSize TabBar::sizeHint() const {
    return {m_stack->sizeHint().width(), kHeight};
}

void TabBar::tapped(int index) {
    setSelectedSegment(index);
    if (action)
        action();
}

void TabBar::placeIndicator() {
    if (m_selected < 0 || m_selected >= int(m_buttons.size())) {
        m_sel->hide();
        return;
    }
    m_stack->activate();
    const QRect frame = m_buttons[size_t(m_selected)]->geometry();
    m_sel->setGeometry(frame);
    m_sel->setRadius(frame.height() / 2.0);
    m_sel->show();
}

void TabBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeIndicator();
}

void TabBar::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    placeIndicator();
}

void TabBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::pill());
    p.drawRoundedRect(QRectF(rect()), kHeight / 2.0, kHeight / 2.0);
}

} // namespace ql
