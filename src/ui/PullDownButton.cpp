#include "ui/PullDownButton.h"

#include <algorithm>

namespace ql {

namespace {

int textWidth(const QFontMetrics& fm, const QString& text) {
    return fm.size(Qt::TextShowMnemonic, text).width();
}

} // namespace

void PullDownButton::setFaces(const QStringList& faces) {
    if (faces == m_faces)
        return;
    m_faces = faces;
    updateGeometry();
}

// The button's own hint grows with its text's width and nothing else: the
// hint for the shown face, widened by how much wider the widest face is.
QSize PullDownButton::sizeHint() const {
    QSize hint = QToolButton::sizeHint();
    const QFontMetrics fm = fontMetrics();
    const int shown = textWidth(fm, text());
    int widest = shown;
    for (const QString& face : m_faces)
        widest = std::max(widest, textWidth(fm, face));
    hint.rwidth() += widest - shown;
    return hint;
}

QSize PullDownButton::minimumSizeHint() const {
    return sizeHint();
}

} // namespace ql
