// An image view that turns every press of the mouse on it into a call of
// `onClick` (the transport bar's cover opens the now-playing window this way).
//
// The press is always consumed: without a callback nothing happens, and the
// press never reaches the views behind. Each press calls once (a double click
// calls twice); releases call nothing. The pointing-hand cursor shows over the
// whole view, with or without an image or a callback.
//
// The image is drawn fitted into the view, proportions kept, centred, scaled
// up or down, inside a rounded clip of `cornerRadius`. A null image draws
// nothing. The owner sets the size; the view sets nothing else of its looks.
//
// Main thread only.
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

namespace ql {

class ClickImageView final : public QWidget {
    Q_OBJECT
public:
    explicit ClickImageView(QWidget* parent = nullptr);

    std::function<void()> onClick;

    const QImage& image() const { return m_image; }
    void setImage(const QImage& image);
    double cornerRadius() const { return m_radius; }
    void setCornerRadius(double radius);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    double m_radius = 0;
};

} // namespace ql
