// The offline render of the plug-in render program (quavelark-lv2render):
// a float file through the active slots' plug-ins into a new float CAF.
//
// Per slot, in order: resolve it among the offered plug-ins, instantiate it
// at the input's rate, restore its state and fit its audio ports to the
// file's C channels: as many inputs and outputs as channels, one instance;
// one in and one out with C > 1, one instance per channel, each with the
// same state; two in and two out with a mono file, the signal feeds both
// inputs and the output is (L + R) / 2. Anything else is refused. Once every
// instance exists, the line "loaded" goes to `lines`; before each slot,
// "loading <index>" goes to `progress`, so a caller that gives up waiting
// knows which plug-in hung.
//
// Then blocks of at most 4096 frames, instances in slot order, until the
// input's frames plus two seconds (rate × 2.0, truncated), zeros after the
// input's end; the output has the input's rate and channel count.
//
// Result: 0 done; 2 a slot failed (the line "slot <index>: <reason>" with
// reason "not installed", "not instantiable" or "channel layout"); 3 any
// other failure (unreadable input, short write).
#pragma once

#include "effects/FXState.h"

#include <QString>

#include <cstdio>
#include <vector>

namespace ql::platform {

inline constexpr int kRenderSlotFailed = 2;
inline constexpr int kRenderFailed = 3;
inline constexpr const char* kChannelLayoutReason = "channel layout";

// Where the render program keeps plug-ins' state files: beside its output,
// made only if a plug-in asks for a path and removed at its end. A run that
// is killed or crashes leaves it, so the caller removes it after every run.
inline QString renderStateDir(const QString& output) {
    return output + QStringLiteral(".state");
}

int renderWithPlugins(const QString& input, const QString& output,
                      const std::vector<PluginSlot>& plugins, std::FILE* lines,
                      std::FILE* progress);

} // namespace ql::platform
