// The tile grid: a vertically scrolling flow of equal tiles, left to right
// and top to bottom, painted by the item delegate (AlbumCellDelegate).
//
// Layout: tiles of tileSize(), at least 14 apart across and 14 apart down,
// inside insets of 8 at the top, 2 on the left, 12 at the bottom and 26 on
// the right; as many columns as the width holds, at least one, the width
// left over spread between them. Positions are computed, never stored, so a reset of
// thousands of tiles costs nothing but the new scroll range, and a paint
// visits only the tiles in the painted area.
//
// Clicks, selection and keys are the item view's own (a click on a tile
// emits clicked()). shownRowsChanged tells which rows the viewport shows
// whenever that changes as it paints (scrolled, resized, new tiles), and
// that it shows none (first > last) when it is hidden. The background is transparent: the page
// shows through. Main thread only.
#pragma once

#include <QAbstractItemView>
#include <QMargins>

#include <utility>

namespace ql {

class AlbumGridView final : public QAbstractItemView {
    Q_OBJECT
public:
    static constexpr int kSpacing = 14;
    static constexpr QMargins kInsets{2, 8, 26, 12}; // left, top, right, bottom

    explicit AlbumGridView(QWidget* parent = nullptr);

    QSize tileSize() const { return m_tile; }
    // Lays the tiles out again at the new size.
    void setTileSize(const QSize& size);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void reset() override;

signals:
    void shownRowsChanged(int first, int last);

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void paintEvent(QPaintEvent* event) override;
    void updateGeometries() override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void hideEvent(QHideEvent* event) override;

private:
    int count() const;
    int columns() const;
    // A tile's rectangle in content coordinates (scrolling left out).
    QRect tileRect(int row) const;
    int contentHeight() const;
    // The rows whose tiles meet a band of content coordinates, first to last.
    std::pair<int, int> rowsIn(int top, int bottom) const;

    QSize m_tile{150, 192};
    // The rows last told as shown; none yet.
    std::pair<int, int> m_shown{0, -1};
};

} // namespace ql
