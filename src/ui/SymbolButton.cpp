#include "ui/SymbolButton.h"

#include "ui/Theme.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace ql {

namespace {
constexpr int kPad = 2; // each side of the content
constexpr int kGap = 4; // between image and title
} // namespace

SymbolButton::SymbolButton(QWidget* parent)
    : QAbstractButton(parent), m_titleFont(Theme::font(13)) {
    // Like the desktop player it stands for, a click on a button leaves the
    // keyboard where it was: Space and the arrows keep their meaning.
    setFocusPolicy(Qt::NoFocus);
}

QString SymbolButton::title() const {
    return QAbstractButton::text();
}

void SymbolButton::setTitle(const QString& title) {
    QAbstractButton::setText(title);
    updateGeometry();
    update();
}

void SymbolButton::setAttributedTitle(const QString& title, const QFont& font,
                                      const QColor& color) {
    m_titleFont = font;
    m_titleColor = color;
    setTitle(title);
}

void SymbolButton::setImage(std::optional<Symbol> image) {
    m_image = std::move(image);
    updateGeometry();
    update();
}

void SymbolButton::setContentTint(const QColor& tint) {
    m_tint = tint;
    update();
}

void SymbolButton::setImagePosition(ImagePosition position) {
    m_position = position;
    updateGeometry();
    update();
}

void SymbolButton::setAlignedLeft(bool left, int inset) {
    m_alignedLeft = left;
    m_leftInset = inset;
    updateGeometry();
    update();
}

void SymbolButton::setBackground(const QColor& color) {
    m_background = color;
    update();
}

void SymbolButton::setCornerRadius(double radius) {
    m_radius = radius;
    update();
}

bool SymbolButton::drawsImage() const {
    return m_image && m_position != ImagePosition::NoImage;
}

bool SymbolButton::drawsTitle() const {
    return m_position != ImagePosition::ImageOnly && !title().isEmpty();
}

QSize SymbolButton::contentSize() const {
    double w = 0, h = 0;
    if (drawsImage()) {
        w = m_image->size().width();
        h = m_image->size().height();
    }
    if (drawsTitle()) {
        const QFontMetricsF fm(m_titleFont);
        w += (w > 0 ? kGap : 0) + fm.horizontalAdvance(title());
        h = std::max(h, fm.height());
    }
    return {int(std::ceil(w)), int(std::ceil(h))};
}

QSize SymbolButton::sizeHint() const {
    const int left = m_alignedLeft ? m_leftInset : kPad;
    return contentSize() + QSize(left + kPad, 2 * kPad);
}

QSize SymbolButton::minimumSizeHint() const {
    return sizeHint();
}

void SymbolButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        p.setOpacity(0.4);
    else if (isDown())
        p.setOpacity(0.6);

    if (m_background.isValid() && m_background.alpha() > 0) {
        const double r = std::min(m_radius, std::min(width(), height()) / 2.0);
        p.setPen(Qt::NoPen);
        p.setBrush(m_background);
        p.drawRoundedRect(QRectF(rect()), r, r);
    }

    const QSize content = contentSize();
    double x = m_alignedLeft ? m_leftInset : (width() - content.width()) / 2.0;
    if (drawsImage()) {
        const QSize s = m_image->size();
        const QRectF target(std::round(x), std::round((height() - s.height()) / 2.0), s.width(),
                            s.height());
        m_image->paint(p, target, m_tint);
        x += s.width() + kGap;
    }
    if (drawsTitle()) {
        p.setFont(m_titleFont);
        p.setPen(m_titleColor);
        const QRectF box(x, 0, std::max(0.0, width() - x - kPad), height());
        const QString shown =
            QFontMetricsF(m_titleFont).elidedText(title(), Qt::ElideRight, box.width());
        p.drawText(box, Qt::AlignVCenter | Qt::AlignLeft, shown);
    }
}

} // namespace ql
