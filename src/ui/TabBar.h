// The view tab bar: one segment per label, one selected.
//
// Seam: only what construction needs (the labels and the selection). The
// drawn tab bar with its indicator and action comes with the window's widget
// work.
#pragma once

#include <QStringList>
#include <QWidget>

namespace ql {

class TabBar final : public QWidget {
public:
    explicit TabBar(QStringList labels, QWidget* parent = nullptr)
        : QWidget(parent), m_labels(std::move(labels)) {}

    const QStringList& labels() const { return m_labels; }
    int selectedIndex() const { return m_selected; }

private:
    QStringList m_labels;
    int m_selected = -1;
};

} // namespace ql
