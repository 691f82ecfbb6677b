#include "ui/TrackCellDelegate.h"

#include "ui/RoundedImage.h"
#include "ui/Theme.h"
#include "ui/TrackTableModel.h"

#include <QPainter>

#include <cmath>

namespace ql {

namespace {

constexpr int kThumbRadius = 3;
constexpr int kThumbGap = 8;
constexpr int kTextLeft = 2;
constexpr int kTextRight = 6;

} // namespace

TrackCellDelegate::TrackCellDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void TrackCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    painter->save();
    const bool selected = option.state & QStyle::State_Selected;
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(QPalette::Highlight));

    const auto* model = qobject_cast<const TrackTableModel*>(index.model());
    const bool title = model && model->identifier(index.column()) == QLatin1String("title");
    QRect textRect = option.rect.adjusted(kTextLeft, 0, -kTextRight, 0);
    QColor color = Theme::sub();
    if (title) {
        const QRect thumb(option.rect.left(),
                          option.rect.top() + (option.rect.height() - kThumbnail) / 2, kThumbnail,
                          kThumbnail);
        const QImage image = index.data(Qt::DecorationRole).value<QImage>();
        if (!image.isNull()) {
            const double ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
            const int edge = int(std::lround(kThumbnail * ratio));
            QPixmap pixmap = roundedImage(image, edge, kThumbRadius * ratio);
            pixmap.setDevicePixelRatio(double(edge) / kThumbnail);
            painter->drawPixmap(thumb.topLeft(), pixmap);
        }
        textRect = option.rect.adjusted(kThumbnail + kThumbGap, 0, -kTextRight, 0);
        color = Qt::white;
    }

    // Grey on the highlight would be near unreadable: a selected row's texts
    // all take the highlighted-text colour.
    if (selected)
        color = option.palette.color(QPalette::HighlightedText);

    const QString text = index.data(Qt::DisplayRole).toString();
    painter->setFont(option.font);
    painter->setPen(color);
    painter->drawText(textRect, int(Qt::AlignLeft | Qt::AlignVCenter),
                      option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
    painter->restore();
}

QSize TrackCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    // Rows and columns have fixed sizes; the text's own width is never asked.
    return {0, option.fontMetrics.height()};
}

} // namespace ql
