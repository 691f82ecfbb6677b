// The plug-ins the effects panel offers, and how a slot names one.
//
// A plug-in is identified by its URI; the stored slot keeps three 32-bit codes
// instead (`type`, `sub`, `man`), so "fx.json" keeps its form. `sub` and `man`
// are the low and high halves of the 64-bit FNV-1a hash of the URI's UTF-8;
// `type` is kEffectType, or kMusicEffectType for a plug-in that takes MIDI.
//
// offeredEffects() turns what the host found into the panel's list: titles
// "<maker> · <name>", every other maker's plug-in before the built-in units of
// "Apple" (only those named in appleNames(), under their Korean titles; none
// exist on Linux, the rule is kept so a list from elsewhere sorts the same),
// titles ascending by code point within each group, duplicates kept.
//
// Pure: values in, values out; any thread.
#pragma once

#include "effects/FXState.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

namespace ql {

inline constexpr quint32 kEffectType = 0x61756678;      // 'aufx'
inline constexpr quint32 kMusicEffectType = 0x61756d66; // 'aumf'

// 64-bit FNV-1a over the bytes.
quint64 fnv1a64(const QByteArray& bytes);

struct PluginCodes {
    quint32 type = 0;
    quint32 sub = 0;
    quint32 man = 0;
    bool operator==(const PluginCodes&) const = default;
};
PluginCodes pluginCodes(const QString& uri, bool takesMidi);

// One plug-in as the host found it.
struct FoundPlugin {
    QString uri;
    QString maker; // the author's name, else the project's, else "LV2"
    QString name;
    bool takesMidi = false;
};

// One entry of the panel's list.
struct OfferedEffect {
    QString title;
    PluginCodes codes;
    QString uri;
    bool operator==(const OfferedEffect&) const = default;
};

// Korean titles of the Apple units that are offered, by component name.
const QHash<QString, QString>& appleNames();

std::vector<OfferedEffect> offeredEffects(const std::vector<FoundPlugin>& found);

// The first offered plug-in whose codes equal the slot's; none for an empty
// slot or a plug-in that is no longer installed.
std::optional<std::size_t> resolveSlot(const std::vector<OfferedEffect>& offered,
                                       const PluginSlot& slot);

} // namespace ql
