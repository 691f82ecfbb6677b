// A button that never shows text (the tools button of the transport bar): its
// title reads back empty whatever is written, so neither code nor the
// translation pass can put words on it. The caller gives it its image.
// Main thread only.
#pragma once

#include "ui/SymbolButton.h"

namespace ql {

class IconButton final : public SymbolButton {
    Q_OBJECT
public:
    explicit IconButton(QWidget* parent = nullptr) : SymbolButton(parent) {
        setImagePosition(ImagePosition::ImageOnly);
    }

    QString title() const override { return {}; }
    void setTitle(const QString&) override {}
};

} // namespace ql
