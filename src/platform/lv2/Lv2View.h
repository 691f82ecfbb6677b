// A plug-in's own X11 interface, hosted through suil in the player's process.
//
// Of the plug-in's interfaces the first one suil can embed in an X11 window
// is taken, provided every feature it requires is one given here: the parent
// window (ui:parent), ui:resize, ui:idleInterface, the world's features (the
// URID map and unmap among them), the options (the sample rate), the port map
// and subscriptions (suil adds those). Never instance-access: the editing
// instance is never run. Anything else, or a binary that does not load, and
// there is no view: the caller shows its generic editor.
#pragma once

#include "platform/PluginHost.h"

#include <cstdint>
#include <memory>

namespace ql::platform {

class Lv2Instance;
class Lv2World;

std::unique_ptr<PluginView> openLv2View(Lv2World& world, Lv2Instance& instance,
                                        std::uintptr_t parent);

} // namespace ql::platform
