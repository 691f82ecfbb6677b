// A label that keeps to at most `maxLines` lines of its width: the text wraps
// at word boundaries (anywhere inside a word longer than a line), and the last
// line allowed is cut at its tail with "…" when the rest does not fit. A line
// break in the text starts a new line, so "album\nartist" shows the album on the
// first line and the artist on the second; whatever the last allowed line
// cannot hold (the rest of its paragraph and those after it, joined by blanks)
// is cut there. The transport bar's title (one line) and artist (two lines)
// are such labels.
//
// It takes the width its layout gives it (it asks for none of its own) and
// the height of the lines it shows at that width. Text, font, colour and
// horizontal alignment are a QLabel's (setText, setFont, the palette's
// window-text colour, setAlignment; left by default).
//
// Main thread only.
#pragma once

#include <QLabel>
#include <QStringList>

namespace ql {

class TruncatingLabel final : public QLabel {
    Q_OBJECT
public:
    explicit TruncatingLabel(int maxLines = 1, QWidget* parent = nullptr);

    int maxLines() const { return m_maxLines; }
    void setMaxLines(int lines);

    // The lines as drawn at a width (the label's own by default).
    QStringList shownLines(int width = -1) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_maxLines;
};

} // namespace ql
