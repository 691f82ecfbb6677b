// The capsule-shaped view switch of the top bar: one text button per label on
// a pill-coloured capsule; the selected one has an accent capsule behind it
// and a semibold title (the text stays white either way).
//
// Labels are translated once, at construction (L10n::tab). Each button is as
// wide as its label set semibold plus 30, so selecting never changes a width;
// the bar is 34 high and exactly as wide as its buttons (2 between, 4 at each
// end), never stretched or squeezed.
//
// selectedSegment is -1 (or any index outside the buttons) for no selection;
// setting it from code restyles the titles and moves the indicator, and never
// runs `action`. A click selects the clicked button and then runs `action`
// once; the owner reads selectedSegment() there.
//
// Main thread only.
#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

class QHBoxLayout;

namespace ql {

class Surface;
class SymbolButton;

class TabBar final : public QWidget {
    Q_OBJECT
public:
    explicit TabBar(QStringList labels, QWidget* parent = nullptr);

    // The labels as given (before translation).
    const QStringList& labels() const { return m_labels; }
    int selectedSegment() const { return m_selected; }
    void setSelectedSegment(int index);

    std::function<void()> action;

    // Restyles every title for the current selection.
    void refresh();

    const std::vector<SymbolButton*>& buttons() const { return m_buttons; }
    // The selection indicator (hidden without a valid selection).
    const Surface* indicator() const { return m_sel; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void tapped(int index);
    void placeIndicator();

    QStringList m_labels;
    int m_selected = -1;
    std::vector<SymbolButton*> m_buttons;
    Surface* m_sel;
    QHBoxLayout* m_stack;
};

} // namespace ql
