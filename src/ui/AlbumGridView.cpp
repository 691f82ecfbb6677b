#include "ui/AlbumGridView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace ql {

AlbumGridView::AlbumGridView(QWidget* parent) : QAbstractItemView(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
}

void AlbumGridView::setTileSize(const QSize& size) {
    if (size.isEmpty())
        return;
    m_tile = size;
    updateGeometries();
    viewport()->update();
}

int AlbumGridView::count() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int AlbumGridView::columns() const {
    const int room = viewport()->width() - kInsets.left() - kInsets.right() + kSpacing;
    return std::max(1, room / (m_tile.width() + kSpacing));
}

QRect AlbumGridView::tileRect(int row) const {
    const int cols = columns();
    // The width left over spreads over the gaps between the columns, as a flow
    // layout's minimum spacing lets it: the lines end at the right inset.
    double pitch = m_tile.width() + kSpacing;
    if (cols > 1) {
        const int room = viewport()->width() - kInsets.left() - kInsets.right();
        pitch = std::max(pitch, double(room - m_tile.width()) / (cols - 1));
    }
    return QRect(kInsets.left() + int((row % cols) * pitch),
                 kInsets.top() + (row / cols) * (m_tile.height() + kSpacing), m_tile.width(),
                 m_tile.height());
}

int AlbumGridView::contentHeight() const {
    const int n = count();
    if (n == 0)
        return 0;
    const int lines = (n + columns() - 1) / columns();
    return kInsets.top() + lines * (m_tile.height() + kSpacing) - kSpacing + kInsets.bottom();
}

std::pair<int, int> AlbumGridView::rowsIn(int top, int bottom) const {
    const int n = count();
    const int pitch = m_tile.height() + kSpacing;
    const int firstLine = std::max(0, (top - kInsets.top()) / pitch);
    const int lastLine = std::max(0, (bottom - kInsets.top()) / pitch);
    const int cols = columns();
    return {std::min(n, firstLine * cols), std::min(n - 1, (lastLine + 1) * cols - 1)};
}

QRect AlbumGridView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.parent() != rootIndex() || index.row() >= count())
        return {};
    return tileRect(index.row()).translated(0, -verticalOffset());
}

void AlbumGridView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.row() >= count())
        return;
    const QRect tile = tileRect(index.row());
    QScrollBar* bar = verticalScrollBar();
    const int height = viewport()->height();
    switch (hint) {
    case PositionAtTop:
        bar->setValue(tile.top());
        break;
    case PositionAtBottom:
        bar->setValue(tile.bottom() + 1 - height);
        break;
    case PositionAtCenter:
        bar->setValue(tile.center().y() - height / 2);
        break;
    case EnsureVisible:
        if (tile.top() < bar->value())
            bar->setValue(tile.top());
        else if (tile.bottom() + 1 > bar->value() + height)
            bar->setValue(tile.bottom() + 1 - height);
        break;
    }
}

QModelIndex AlbumGridView::indexAt(const QPoint& point) const {
    if (!model())
        return {};
    const QPoint at = point + QPoint(0, verticalOffset());
    const auto [first, last] = rowsIn(at.y(), at.y());
    for (int row = first; row <= last; ++row)
        if (tileRect(row).contains(at))
            return model()->index(row, 0, rootIndex());
    return {};
}

void AlbumGridView::reset() {
    QAbstractItemView::reset();
    updateGeometries();
    viewport()->update();
}

void AlbumGridView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
}

QModelIndex AlbumGridView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    const int n = count();
    if (n == 0)
        return {};
    const int row = currentIndex().isValid() ? currentIndex().row() : 0;
    const int cols = columns();
    const int page = std::max(1, viewport()->height() / (m_tile.height() + kSpacing)) * cols;
    int next = row;
    switch (cursorAction) {
    case MoveLeft:
    case MovePrevious:
        next = row - 1;
        break;
    case MoveRight:
    case MoveNext:
        next = row + 1;
        break;
    case MoveUp:
        next = row - cols;
        break;
    case MoveDown:
        next = row + cols;
        break;
    case MovePageUp:
        next = row - page;
        break;
    case MovePageDown:
        next = row + page;
        break;
    case MoveHome:
        next = 0;
        break;
    case MoveEnd:
        next = n - 1;
        break;
    }
    return model()->index(std::clamp(next, 0, n - 1), 0, rootIndex());
}

int AlbumGridView::horizontalOffset() const {
    return 0;
}

int AlbumGridView::verticalOffset() const {
    return verticalScrollBar()->value();
}

bool AlbumGridView::isIndexHidden(const QModelIndex&) const {
    return false;
}

void AlbumGridView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const QRect area = rect.normalized().translated(0, verticalOffset());
    QItemSelection selection;
    const auto [first, last] = rowsIn(area.top(), area.bottom());
    for (int row = first; row <= last; ++row)
        if (tileRect(row).intersects(area)) {
            const QModelIndex at = model()->index(row, 0, rootIndex());
            selection.select(at, at);
        }
    selectionModel()->select(selection, command);
}

QRegion AlbumGridView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    for (const QModelIndex& index : selection.indexes())
        region += visualRect(index);
    return region;
}

void AlbumGridView::hideEvent(QHideEvent* event) {
    QAbstractItemView::hideEvent(event);
    m_shown = {0, -1};
    emit shownRowsChanged(0, -1);
}

void AlbumGridView::paintEvent(QPaintEvent* event) {
    if (!model() || !itemDelegate())
        return;
    // Told before the tiles are painted: what leaves the view is let go
    // before what comes in is configured.
    const int top = verticalOffset();
    const std::pair<int, int> shown = rowsIn(top, top + viewport()->height() - 1);
    if (shown != m_shown) {
        m_shown = shown;
        emit shownRowsChanged(shown.first, shown.second);
    }
    QPainter painter(viewport());
    const QRect area = event->rect().translated(0, verticalOffset());
    const auto [first, last] = rowsIn(area.top(), area.bottom());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    for (int row = first; row <= last; ++row) {
        const QRect tile = tileRect(row);
        if (!tile.intersects(area))
            continue;
        option.rect = tile.translated(0, -verticalOffset());
        itemDelegate()->paint(&painter, option, model()->index(row, 0, rootIndex()));
    }
}

void AlbumGridView::updateGeometries() {
    QScrollBar* bar = verticalScrollBar();
    const int height = viewport()->height();
    bar->setRange(0, std::max(0, contentHeight() - height));
    bar->setPageStep(height);
    bar->setSingleStep(std::max(1, (m_tile.height() + kSpacing) / 4));
    QAbstractItemView::updateGeometries();
}

} // namespace ql
