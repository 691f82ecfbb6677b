// The effects panel.
//
// Seam: made once at construction, in its place in the order. `bypass` is the
// one field the settings load sets; the effects model, chain and panel come
// with the effects work.
#pragma once

namespace ql {

class FXPanel final {
public:
    bool bypass = false;
};

} // namespace ql
