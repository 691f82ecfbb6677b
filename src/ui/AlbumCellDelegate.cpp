#include "ui/AlbumCellDelegate.h"

#include "ui/AlbumCell.h"
#include "ui/AlbumGridModel.h"
#include "ui/RoundedImage.h"
#include "ui/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace ql {

namespace {

constexpr double kCoverRadius = 4;
constexpr double kBadgeRadius = 3;
const QRect kBadge(6, 6, 26, 15);

// Fonts are made once: a tile is painted many times a second while the grid
// scrolls or resizes.
const QFont& titleFont() {
    static const QFont font = Theme::font(12, QFont::DemiBold);
    return font;
}
const QFont& subFont() {
    static const QFont font = Theme::font(11);
    return font;
}
const QFont& badgeFont() {
    static const QFont font = Theme::font(9, QFont::Bold);
    return font;
}

void drawLine(QPainter* painter, const QRect& rect, const QString& text, const QFont& font,
              const QColor& color) {
    painter->setFont(font);
    painter->setPen(color);
    const QString shown = QFontMetrics(font).elidedText(text, Qt::ElideRight, rect.width());
    painter->drawText(rect, int(Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine), shown);
}

} // namespace

AlbumCellDelegate::AlbumCellDelegate(QObject* parent) : QAbstractItemDelegate(parent) {}

void AlbumCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const QVariant value = index.data(AlbumGridModel::CellRole);
    if (!value.canConvert<AlbumCell>())
        return;
    const AlbumCell cell = value.value<AlbumCell>();
    const QRect tile = option.rect;
    const int w = tile.width();
    painter->save();
    painter->translate(tile.topLeft());

    if (!cell.cover.isNull()) {
        const double ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const int edge = int(std::lround(w * ratio));
        QPixmap pixmap = roundedImage(cell.cover, edge, kCoverRadius * ratio);
        pixmap.setDevicePixelRatio(ratio);
        painter->drawPixmap(QPoint(0, 0), pixmap);
    }
    drawLine(painter, QRect(0, w + 4, w, 16), cell.t1, titleFont(), Qt::white);
    drawLine(painter, QRect(0, w + 23, w, 14), cell.t2, subFont(), Theme::sub());

    if (cell.badge) {
        painter->setRenderHint(QPainter::Antialiasing);
        QPainterPath back;
        back.addRoundedRect(QRectF(kBadge), kBadgeRadius, kBadgeRadius);
        painter->fillPath(back, QColor(0, 0, 0, int(std::lround(0.7 * 255))));
        painter->setFont(badgeFont());
        painter->setPen(Qt::white);
        painter->drawText(kBadge, int(Qt::AlignCenter), QStringLiteral("HD"));
    }
    painter->restore();
}

QSize AlbumCellDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return {150, 150 + kTextBlock};
}

} // namespace ql
