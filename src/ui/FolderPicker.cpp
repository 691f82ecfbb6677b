#include "ui/FolderPicker.h"

#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

// Qt draws the label one pixel in from each side of the edit field.
constexpr int kLabelInset = 1;

} // namespace

FolderPicker::FolderPicker(QWidget* parent) : QComboBox(parent) {
    // A new choice, or a new list whose chosen item reads otherwise (the
    // counts change with every rescan), asks the row for another width.
    connect(this, &QComboBox::currentTextChanged, this, [this] { updateGeometry(); });
    connect(this, &QComboBox::currentIndexChanged, this, [this] { updateGeometry(); });
}

// As QComboBox measures its contents, but for the chosen item alone: the
// text's advance (never less than its ink), the font's height, then the
// style's frame and arrow around it.
QSize FolderPicker::sizeHint() const {
    const QFontMetricsF fm(font());
    const QString text = currentText();
    const int textWidth =
        int(std::ceil(std::max(fm.horizontalAdvance(text), fm.boundingRect(text).width()))) +
        2 * kLabelInset;
    const QSize contents(textWidth, std::max(int(std::ceil(fm.height())), 14) + 2);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    const QSize hint = style()->sizeFromContents(QStyle::CT_ComboBox, &opt, contents, this);
    return {std::min(hint.width(), maximumWidth()), hint.height()};
}

QSize FolderPicker::minimumSizeHint() const {
    return sizeHint();
}

QString FolderPicker::shownText() const {
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    return fontMetrics().elidedText(currentText(), Qt::ElideRight, field.width() - 2 * kLabelInset);
}

// QComboBox's own painting, with the label elided to the field.
void FolderPicker::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    opt.currentText = shownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
}

} // namespace ql
