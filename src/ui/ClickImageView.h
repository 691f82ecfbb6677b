// An image view that reports a press of the mouse on it through `onClick`
// (the cover in the transport bar opens the now-playing window this way).
#pragma once

#include <QLabel>

#include <functional>

namespace ql {

class ClickImageView final : public QLabel {
public:
    explicit ClickImageView(QWidget* parent = nullptr) : QLabel(parent) {}

    std::function<void()> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace ql
