// Paints the track table's cells: the selection, then in the title column a
// 32 x 32 thumbnail at the cell's left edge with corner radius 3 (the image
// fitted inside, proportions kept) and the text 8 pixels after it in white;
// in every other column the text 2 pixels from the left edge in the secondary
// colour. Texts keep 6 pixels free at the right and are cut at their tail
// with "…". Neither sets a font: the table's font is used.
//
// Rounded thumbnails are kept in QPixmapCache by image and size, so repainting
// rows costs no image scaling.
//
// Main thread only.
#pragma once

#include <QStyledItemDelegate>

namespace ql {

class TrackCellDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kThumbnail = 32;

    explicit TrackCellDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace ql
