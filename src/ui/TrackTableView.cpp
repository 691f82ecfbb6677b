#include "ui/TrackTableView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>

namespace ql {

TrackTableView::TrackTableView(QWidget* parent) : QTableView(parent) {
    setSortingEnabled(false);
    connect(horizontalHeader(), &QHeaderView::sectionDoubleClicked, this, [this](int column) {
        if (onHeaderDoubleClick)
            onHeaderDoubleClick(column);
    });
}

int TrackTableView::selectedRow() const {
    if (!selectionModel())
        return -1;
    const QModelIndexList rows = selectionModel()->selectedRows();
    int first = -1;
    for (const QModelIndex& i : rows)
        if (first < 0 || i.row() < first)
            first = i.row();
    return first;
}

void TrackTableView::selectRowOnly(int row) {
    if (!selectionModel() || !model())
        return;
    if (row < 0 || row >= model()->rowCount()) {
        selectionModel()->clearSelection();
        return;
    }
    // select() leaves the current index alone, so nothing scrolls.
    selectionModel()->select(model()->index(row, 0),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TrackTableView::noteClick(const QPoint& at) {
    m_clickedRow = rowAt(at.y());
    m_clickedColumn = columnAt(at.x());
}

void TrackTableView::mousePressEvent(QMouseEvent* event) {
    noteClick(event->position().toPoint());
    QTableView::mousePressEvent(event);
}

void TrackTableView::mouseDoubleClickEvent(QMouseEvent* event) {
    noteClick(event->position().toPoint());
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && onDoubleClick)
        onDoubleClick();
}

void TrackTableView::contextMenuEvent(QContextMenuEvent* event) {
    // A request from the keyboard has no press before it: the row comes from
    // the position Qt gives, as a right-click's would.
    noteClick(event->pos());
    if (m_rowMenu)
        m_rowMenu->popup(event->globalPos());
    event->accept();
}

} // namespace ql
