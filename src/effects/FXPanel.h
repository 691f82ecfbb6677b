// The effects panel.
//
// Made once at construction; its settings start as "fx.json", or the
// defaults when that does not load. `bypass` makes playback skip the effects.
//
// Seam: the settings and the bypass flag only. The panel window, the preset
// table, the filter chain, the signature, commit() and the plug-in slots come
// with the effects work.
#pragma once

#include "app/JSONStore.h"
#include "effects/FXState.h"

namespace ql {

class FXPanel final {
public:
    explicit FXPanel(const JSONStore& store)
        : state(store.load<FXState>(QString::fromLatin1(stores::kFX)).value_or(FXState{})) {}

    FXState state;
    bool bypass = false;
};

} // namespace ql
