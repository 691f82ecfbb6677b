// One entry of the sidebar: a symbol and a label on the left, white while
// idle; the current entry turns the accent colour and shows a thin accent
// stripe at its left edge (3 x 20, centred vertically).
//
// setup() styles the button once; the label is translated there, once (the
// interface language is fixed for the run). From then on only `active`
// changes, and each change restyles the entry.
// Main thread only.
#pragma once

#include "ui/SymbolButton.h"

#include <QRectF>

namespace ql {

class SidebarButton final : public SymbolButton {
    Q_OBJECT
public:
    explicit SidebarButton(QWidget* parent = nullptr);

    void setup(const QString& icon, const QString& label);

    bool active() const { return m_active; }
    void setActive(bool active);
    void refreshStyle();

    const QString& iconName() const { return m_iconName; }
    const QString& label() const { return m_label; }
    // The stripe's frame in the button's coordinates (centred on the
    // button's height, which the layout gives), and whether it shows.
    QRectF stripeFrame() const;
    bool stripeVisible() const { return m_active; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_active = false;
    QString m_iconName;
    QString m_label;
};

} // namespace ql
