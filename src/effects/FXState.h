// The effects settings as one value, stored whole in "fx.json".
//
// `PluginSlot`: one plug-in slot; an empty `name` marks an empty slot.
// `type`, `sub` and `man` identify the plug-in; `state` is its saved state
// (absent when none was saved), stored as Base64.
// `FXState`: the master switch, the preset name, five band gains in dB (60 Hz,
// 230 Hz, 910 Hz, 3.6 kHz, 14 kHz), four stereo and dynamics flags and the
// three plug-in slots. JSON: every key of both forms is required except a
// slot's "state"; a "type", "sub" or "man" outside 0 … 4294967295, or a
// "state" that is not padded standard Base64, fails the whole file; array
// lengths are taken as stored.
//
// These are the values and their JSON form only. The preset table, the filter
// chain and the signature are effects/FXChain.h's; the panel that edits them
// is effects/FXPanel.h's.
#pragma once

#include "app/JsonCodec.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace ql {

struct PluginSlot {
    QString name;
    quint32 type = 0;
    quint32 sub = 0;
    quint32 man = 0;
    std::optional<QByteArray> state;
    bool operator==(const PluginSlot&) const = default;
};

struct FXState {
    std::vector<PluginSlot> plugins = std::vector<PluginSlot>(3);
    bool enabled = false;
    QString preset = QStringLiteral("끔");
    std::vector<double> gains = std::vector<double>(5, 0.0);
    bool crossfeed = false;
    bool wide = false;
    bool room = false;
    bool night = false;
    bool operator==(const FXState&) const = default;
};

} // namespace ql
