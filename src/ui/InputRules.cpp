#include "ui/InputRules.h"

#include <cmath>

namespace ql {

InputAction scrollStep(double& swipeAccum, double& swipeVert, ScrollPhase phase, double dx,
                       double dy) {
    switch (phase) {
    case ScrollPhase::None:
        return InputAction::None;
    case ScrollPhase::Begin:
        swipeAccum = swipeVert = 0;
        [[fallthrough]];
    case ScrollPhase::Update:
        swipeAccum += dx;
        swipeVert += dy;
        return InputAction::None;
    case ScrollPhase::End:
        break;
    }
    const double x = swipeAccum;
    const double y = swipeVert;
    swipeAccum = swipeVert = 0;
    if (std::abs(x) > 140 && std::abs(x) > 2.5 * std::abs(y))
        return x > 0 ? InputAction::Back : InputAction::Forward;
    return InputAction::None;
}

InputAction buttonAction(Qt::MouseButton button) {
    if (button == Qt::BackButton)
        return InputAction::Back;
    if (button == Qt::ForwardButton)
        return InputAction::Forward;
    return InputAction::None;
}

InputAction swipeAction(double dx) {
    if (dx > 0)
        return InputAction::Back;
    if (dx < 0)
        return InputAction::Forward;
    return InputAction::None;
}

KeyPlace keyPlace(quint32 nativeScanCode, int qtKey) {
    if (nativeScanCode != 0) {
        switch (nativeScanCode) {
        case 65:
            return KeyPlace::Space;
        case 34:
            return KeyPlace::BracketLeft;
        case 35:
            return KeyPlace::BracketRight;
        case 114:
            return KeyPlace::Right;
        case 113:
            return KeyPlace::Left;
        default:
            return KeyPlace::Other;
        }
    }
    switch (qtKey) {
    case Qt::Key_Space:
        return KeyPlace::Space;
    // With Shift held the same keys read as braces.
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return KeyPlace::BracketLeft;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return KeyPlace::BracketRight;
    case Qt::Key_Right:
        return KeyPlace::Right;
    case Qt::Key_Left:
        return KeyPlace::Left;
    default:
        return KeyPlace::Other;
    }
}

InputAction keyAction(KeyPlace place, Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers held =
        modifiers & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier | Qt::ShiftModifier);
    if (place == KeyPlace::Space && held == Qt::NoModifier)
        return InputAction::Toggle;
    if (!(modifiers & Qt::ControlModifier))
        return InputAction::None;
    switch (place) {
    case KeyPlace::BracketLeft:
        return InputAction::Back;
    case KeyPlace::BracketRight:
        return InputAction::Forward;
    case KeyPlace::Right:
        return InputAction::Next;
    case KeyPlace::Left:
        return InputAction::Previous;
    default:
        return InputAction::None;
    }
}

} // namespace ql
