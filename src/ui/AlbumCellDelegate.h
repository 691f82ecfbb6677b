// Paints one tile of the grid from its AlbumCell (AlbumGridModel::CellRole),
// top-down in a tile of width w and height w + 42:
//  - the cover in the square (0, 0, w, w), its aspect kept, clipped to a
//    radius of 4;
//  - the title at (0, w + 4, w, 16), 12 px semibold white, and the subtitle
//    at (0, w + 23, w, 14), 11 px in Theme::sub, both elided at the tail and
//    drawn as plain text;
//  - when the cell has it, the badge "HD" at (6, 6, 26, 15): bold 9 px white,
//    centred, on black at alpha 0.7 with a radius of 3.
// Nothing else: no background, no selection mark. Main thread only.
#pragma once

#include <QAbstractItemDelegate>

namespace ql {

class AlbumCellDelegate final : public QAbstractItemDelegate {
    Q_OBJECT
public:
    static constexpr int kTextBlock = 42; // below the cover: the two lines

    explicit AlbumCellDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // The view sets the tile size; this is the default tile (150 wide).
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace ql
