// How each edit of the effects panel changes the settings. Pure unit: the
// panel (FXPanel) applies one of these to its state, then saves and signals.
#pragma once

#include "effects/FXState.h"
#include "effects/PluginCatalog.h"

#include <QString>

#include <array>

namespace ql {

// A chosen pop-up title. A preset row sets its gains and four flags and the
// master switch (off for "끔", on for every other row), slots untouched; a
// title that is no row ("사용자 지정") only renames the setting to custom.
void choosePreset(FXState& state, const QString& title);

// Released band sliders: every gain rounded to a whole dB (halves away from
// zero), the setting renamed to custom, the effects switched on.
void setGains(FXState& state, const std::array<double, 5>& sliders);

// The five switches as the boxes now show them.
struct FXSwitches {
    bool enabled = false;
    bool crossfeed = false;
    bool wide = false;
    bool room = false;
    bool night = false;
};

// The boxes applied. A named preset whose four flags no longer match becomes
// custom; the gains are not compared, the master switch alone never renames,
// and a setting already shown as custom (its name is no row) stays so.
void setSwitches(FXState& state, const FXSwitches& boxes);

// A slot pop-up's choice: a plug-in gives a fresh slot without state and
// switches the effects on (choosing the same one again drops its settings);
// none empties the slot and leaves the switch alone.
void chooseSlot(FXState& state, std::size_t slot, const OfferedEffect* chosen);

// The state an editor captured when its window closed. Kept only when the
// slot still names the edited plug-in and the bytes differ from the stored
// ones (a slot without state always differs); then the effects are switched
// on. True when the state changed.
bool storeEditedState(FXState& state, std::size_t slot, const PluginCodes& edited,
                      const QByteArray& captured);

} // namespace ql
