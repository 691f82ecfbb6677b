// A pull-down on a tool button whose face changes with the choice (the guest
// DJ's style): it is as wide as the widest of its faces, whichever it shows,
// so a choice never moves the controls after it nor the button from under
// the pointer. Main thread only.
#pragma once

#include <QStringList>
#include <QToolButton>

namespace ql {

class PullDownButton final : public QToolButton {
public:
    explicit PullDownButton(QWidget* parent = nullptr) : QToolButton(parent) {}

    // Every text the face can show, in the interface language.
    void setFaces(const QStringList& faces);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QStringList m_faces;
};

} // namespace ql
