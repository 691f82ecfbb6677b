// A borderless button drawn by the program: an optional symbol image in a
// tint colour, an optional title in its own font and colour, and an optional
// rounded background. The play, icon and sidebar buttons derive from it, and
// the round and flat button factories (ButtonFactory.h) make it.
//
// What is drawn follows imagePosition: the image only, the title only, or the
// image before the title; the content is centred, or starts at the left edge
// when alignedLeft is set. A missing image (an unknown symbol) simply draws
// nothing in its place.
//
// The title is read and written through title()/setTitle(), also declared as
// the "text" property: the translation pass writes titles through that
// property, so subclasses that react to their title see every write.
//
// Main thread only.
#pragma once

#include "ui/Symbol.h"

#include <QAbstractButton>
#include <QColor>
#include <QFont>

#include <optional>

namespace ql {

class SymbolButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(QString text READ title WRITE setTitle)
public:
    enum class ImagePosition { ImageOnly, NoImage, ImageLeading };

    explicit SymbolButton(QWidget* parent = nullptr);

    virtual QString title() const;
    virtual void setTitle(const QString& title);
    // The title with the font and colour it is drawn in.
    void setAttributedTitle(const QString& title, const QFont& font, const QColor& color);
    const QFont& titleFont() const { return m_titleFont; }
    const QColor& titleColor() const { return m_titleColor; }

    const std::optional<Symbol>& image() const { return m_image; }
    void setImage(std::optional<Symbol> image);
    // The colour the image is painted in.
    const QColor& contentTint() const { return m_tint; }
    void setContentTint(const QColor& tint);
    ImagePosition imagePosition() const { return m_position; }
    void setImagePosition(ImagePosition position);
    bool alignedLeft() const { return m_alignedLeft; }
    // Left-aligned content starts `inset` pixels from the left edge.
    void setAlignedLeft(bool left, int inset = 2);
    // Background fill; an invalid colour draws none.
    const QColor& background() const { return m_background; }
    void setBackground(const QColor& color);
    double cornerRadius() const { return m_radius; }
    void setCornerRadius(double radius);
    // A number the owner reads back when the button is clicked.
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool drawsImage() const;
    bool drawsTitle() const;
    QSize contentSize() const;

    std::optional<Symbol> m_image;
    QColor m_tint = Qt::white;
    QFont m_titleFont;
    QColor m_titleColor = Qt::white;
    ImagePosition m_position = ImagePosition::ImageLeading;
    bool m_alignedLeft = false;
    int m_leftInset = 2;
    QColor m_background;
    double m_radius = 0;
    int m_tag = 0;
};

} // namespace ql
