// The view tab bar: one segment per label, one selected.
//
// `action` is run when the selected tab changes (the controller wires it at
// launch).
//
// Seam: only what construction and the wiring need (the labels, the
// selection, the action). The drawn tab bar with its indicator, and the
// clicks that change the selection, come with the window's widget work.
#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

namespace ql {

class TabBar final : public QWidget {
public:
    explicit TabBar(QStringList labels, QWidget* parent = nullptr)
        : QWidget(parent), m_labels(std::move(labels)) {}

    const QStringList& labels() const { return m_labels; }
    int selectedIndex() const { return m_selected; }

    std::function<void()> action;

private:
    QStringList m_labels;
    int m_selected = -1;
};

} // namespace ql
