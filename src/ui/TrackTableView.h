// The track table's view: a QTableView that knows which cell the last click
// or double-click hit, as the table's actions need it.
//
// clickedRow/clickedColumn: the row and column under the pointer at the last
// press or double-click in the rows' area; -1 for the space below the last
// row or beside the last column. onDoubleClick runs after every double-click
// in that area (also on empty space: the owner decides from clickedRow), after
// the view's own handling (selection) is done. onHeaderDoubleClick runs with
// the column of a double-clicked column title; a single or a third click on a
// title does nothing, and no click on a title ever sorts.
//
// The row menu (setRowMenu; the view does not own it) opens on a context
// menu request over the rows' area, after the row and column under the
// pointer became the clicked ones, so its actions act on that row.
//
// Main thread only.
#pragma once

#include <QTableView>

#include <functional>

class QMenu;

namespace ql {

class TrackTableView final : public QTableView {
    Q_OBJECT
public:
    explicit TrackTableView(QWidget* parent = nullptr);

    int clickedRow() const { return m_clickedRow; }
    int clickedColumn() const { return m_clickedColumn; }
    // The first selected row, -1 when no row is selected.
    int selectedRow() const;
    // Selects the row alone (replacing the selection) without scrolling to it
    // and without moving the current cell; -1 clears the selection.
    void selectRowOnly(int row);

    void setRowMenu(QMenu* menu) { m_rowMenu = menu; }
    QMenu* rowMenu() const { return m_rowMenu; }

    std::function<void()> onDoubleClick;
    std::function<void(int column)> onHeaderDoubleClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void noteClick(const QPoint& at);

    int m_clickedRow = -1;
    int m_clickedColumn = -1;
    QMenu* m_rowMenu = nullptr;
};

} // namespace ql
