// The folder pop-up: a combo box as wide as the folder it shows, not as its
// first item was. Its size hint follows the chosen item's text, up to the
// maximum width; a text longer than that is drawn with a trailing "…" rather
// than cut through a letter. Main thread only.
#pragma once

#include <QComboBox>

namespace ql {

class FolderPicker final : public QComboBox {
public:
    explicit FolderPicker(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The text the face shows for the chosen item at the present width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ql
