#include "ui/SidebarButton.h"

#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include <QPainter>

namespace ql {

namespace {
constexpr double kStripeWidth = 3;
constexpr double kStripeHeight = 20;
} // namespace

SidebarButton::SidebarButton(QWidget* parent) : SymbolButton(parent) {}

void SidebarButton::setup(const QString& icon, const QString& label) {
    m_iconName = icon;
    m_label = L10n::tr(label);
    // The content starts clear of the stripe.
    setAlignedLeft(true, 10);
    setImagePosition(ImagePosition::ImageLeading);
    refreshStyle();
}

void SidebarButton::setActive(bool active) {
    m_active = active;
    refreshStyle();
}

void SidebarButton::refreshStyle() {
    const QColor c = m_active ? Theme::accent() : QColor(Qt::white);
    setImage(sym(m_iconName, 15, SymbolWeight::Regular));
    setContentTint(c);
    setAttributedTitle(QStringLiteral("  ") + m_label, Theme::font(14, QFont::DemiBold), c);
    update();
}

QRectF SidebarButton::stripeFrame() const {
    return {0, (height() - kStripeHeight) / 2.0, kStripeWidth, kStripeHeight};
}

void SidebarButton::paintEvent(QPaintEvent* event) {
    SymbolButton::paintEvent(event);
    if (!m_active)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::accent());
    p.drawRoundedRect(stripeFrame(), 1.5, 1.5);
}

} // namespace ql
