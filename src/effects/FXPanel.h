// The effects panel.
//
// Made once at construction; its settings start as "fx.json", or the
// defaults when that does not load. `bypass` makes playback skip the effects.
//
// Seam: the settings and the bypass flag only. The panel window, the preset
// table, the signature, commit() and the plug-in slots come with the effects
// work; until then chain() gives no filter chain and activePlugins() no slot.
#pragma once

#include "app/JSONStore.h"
#include "effects/FXState.h"

#include <optional>
#include <vector>

namespace ql {

class FXPanel final {
public:
    explicit FXPanel(const JSONStore& store)
        : state(store.load<FXState>(QString::fromLatin1(stores::kFX)).value_or(FXState{})) {}

    FXState state;
    bool bypass = false;

    // The ffmpeg audio filter chain of the settings; none when nothing applies.
    std::optional<QString> chain() const { return std::nullopt; }
    // The plug-in slots in use; empty when the effects are off or bypassed.
    std::vector<PluginSlot> activePlugins() const { return {}; }
};

} // namespace ql
