// One entry of the browser history: the view on screen.
#pragma once

#include <QString>

#include <optional>

namespace ql {

struct NavState {
    int viewKind = 0;
    int smart = 0;             // the smart-list number
    std::optional<QString> fk; // the cell filter's key, none without one
    std::optional<QString> fv; // the cell filter's value
    QString search;            // the search field's text as typed
    bool operator==(const NavState&) const = default;
};

} // namespace ql
