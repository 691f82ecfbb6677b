#include "ui/FlowRow.h"

#include <QWidget>

#include <algorithm>

namespace ql {

FlowRow::FlowRow(int spacing, QWidget* parent) : QLayout(parent) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(spacing);
}

FlowRow::~FlowRow() {
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void FlowRow::addItem(QLayoutItem* item) {
    m_items.append(item);
}

QLayoutItem* FlowRow::takeAt(int index) {
    if (index < 0 || index >= m_items.size())
        return nullptr;
    if (m_trailingFrom > index)
        --m_trailingFrom;
    return m_items.takeAt(index);
}

int FlowRow::heightForWidth(int width) const {
    return arrange(QRect(0, 0, width, 0), false);
}

QSize FlowRow::sizeHint() const {
    int width = 0;
    int height = 0;
    int shown = 0;
    for (const QLayoutItem* item : m_items) {
        if (item->isEmpty())
            continue;
        const QSize hint = item->sizeHint();
        width += hint.width();
        height = std::max(height, hint.height());
        ++shown;
    }
    const QMargins m = contentsMargins();
    return {width + std::max(0, shown - 1) * spacing() + m.left() + m.right(),
            height + m.top() + m.bottom()};
}

QSize FlowRow::minimumSize() const {
    // The widest control on a line of its own.
    QSize size;
    for (const QLayoutItem* item : m_items)
        if (!item->isEmpty())
            size = size.expandedTo(item->sizeHint());
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

void FlowRow::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowRow::arrange(const QRect& rect, bool place) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    struct Line {
        int first;
        int last; // inclusive
        int height;
    };
    QList<Line> lines;
    QList<QRect> spots(m_items.size());
    int x = area.left();
    for (int i = 0; i < m_items.size(); ++i) {
        const QLayoutItem* item = m_items[i];
        if (item->isEmpty())
            continue;
        const QSize hint = item->sizeHint();
        if (lines.isEmpty() || x + hint.width() > area.right() + 1) {
            lines.append({i, i, 0});
            x = area.left();
        }
        spots[i] = QRect(QPoint(x, 0), hint);
        lines.last().last = i;
        lines.last().height = std::max(lines.last().height, hint.height());
        x += hint.width() + spacing();
    }

    int y = area.top();
    for (const Line& line : lines) {
        // The right group's part of this line moves against the right edge.
        int shift = 0;
        if (m_trailingFrom >= 0 && line.last >= m_trailingFrom) {
            const int end = spots[line.last].right();
            shift = std::max(0, area.right() - end);
        }
        if (place)
            for (int i = line.first; i <= line.last; ++i) {
                QLayoutItem* item = m_items[i];
                if (item->isEmpty())
                    continue;
                QRect spot = spots[i];
                if (m_trailingFrom >= 0 && i >= m_trailingFrom)
                    spot.translate(shift, 0);
                // Centred on the line's height.
                spot.moveTop(y + (line.height - spot.height()) / 2);
                item->setGeometry(spot);
            }
        y += line.height + spacing();
    }
    const int used = lines.isEmpty() ? 0 : y - spacing() - area.top();
    const QMargins m = contentsMargins();
    return used + m.top() + m.bottom();
}

} // namespace ql
