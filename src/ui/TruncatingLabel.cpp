#include "ui/TruncatingLabel.h"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace ql {

TruncatingLabel::TruncatingLabel(int maxLines, QWidget* parent)
    : QLabel(parent), m_maxLines(std::max(1, maxLines)) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void TruncatingLabel::setMaxLines(int lines) {
    m_maxLines = std::max(1, lines);
    updateGeometry();
    update();
}

QStringList TruncatingLabel::shownLines(int width) const {
    if (width < 0)
        width = contentsRect().width();
    if (text().isEmpty() || width <= 0)
        return {};

    const QFontMetrics metrics(font());
    const QStringList paragraphs = text().split(QLatin1Char('\n'));
    QStringList lines;
    for (qsizetype p = 0; p < paragraphs.size() && lines.size() < m_maxLines; ++p) {
        const QString& paragraph = paragraphs[p];
        if (paragraph.isEmpty()) {
            lines << QString();
            continue;
        }
        QTextLayout layout(paragraph, font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        while (lines.size() < m_maxLines) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(width);
            if (lines.size() == m_maxLines - 1) {
                // The last line allowed takes everything left, the later
                // paragraphs after a blank, cut at its tail.
                QStringList rest{paragraph.mid(line.textStart())};
                rest += paragraphs.mid(p + 1);
                lines << metrics.elidedText(rest.join(QLatin1Char(' ')), Qt::ElideRight, width);
                break;
            }
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
    }
    return lines;
}

int TruncatingLabel::heightForWidth(int width) const {
    const QMargins m = contentsMargins();
    const int lines = std::max(1, int(shownLines(width - m.left() - m.right()).size()));
    return lines * QFontMetrics(font()).lineSpacing() + m.top() + m.bottom();
}

QSize TruncatingLabel::sizeHint() const {
    return {0, heightForWidth(width() > 0 ? width() : 200)};
}

QSize TruncatingLabel::minimumSizeHint() const {
    const QMargins m = contentsMargins();
    return {0, QFontMetrics(font()).lineSpacing() + m.top() + m.bottom()};
}

void TruncatingLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    p.setFont(font());
    const QRect area = contentsRect();
    const QStringList lines = shownLines(area.width());
    const int spacing = QFontMetrics(font()).lineSpacing();
    const int total = int(lines.size()) * spacing;
    int y = area.top() + std::max(0, (area.height() - total) / 2);
    for (const QString& line : lines) {
        p.drawText(QRect(area.left(), y, area.width(), spacing),
                   int((alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter), line);
        y += spacing;
    }
}

} // namespace ql
