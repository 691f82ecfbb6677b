// A row of controls that wraps instead of squeezing: every control keeps the
// width of its size hint, and a control that no longer fits on the line
// starts a new one. The controls from `trailingFrom` on are the row's right
// group: on the line where they begin (and on any line holding only them)
// they sit against the right edge, as a stretch before them would put them.
//
// The tools panel's rows use it, so a longer language or a control added to a
// row costs a line of height at a narrow window, never a clipped title.
// Main thread only.
#pragma once

#include <QLayout>
#include <QList>

namespace ql {

class FlowRow final : public QLayout {
public:
    explicit FlowRow(int spacing, QWidget* parent = nullptr);
    ~FlowRow() override;

    // Controls added from now on belong to the right group.
    void startTrailing() { m_trailingFrom = int(m_items.size()); }

    void addItem(QLayoutItem* item) override;
    int count() const override { return int(m_items.size()); }
    QLayoutItem* itemAt(int index) const override { return m_items.value(index); }
    QLayoutItem* takeAt(int index) override;

    Qt::Orientations expandingDirections() const override { return {}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Places the items in `rect` (only measures when `place` is false) and
    // returns the height used.
    int arrange(const QRect& rect, bool place) const;

    QList<QLayoutItem*> m_items;
    int m_trailingFrom = -1; // -1: no right group
};

} // namespace ql
