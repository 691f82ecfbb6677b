// ---- effects: the effect signature, the render identity and the render cache ----
//
// Seams until the render pipeline: there is no render to redo for new settings
// or a new device, so fxChanged() does nothing, and there is no renderer to
// prefetch the next track with, so prefetchFX() leaves the render cache as it
// is, and renderFXBlocking() renders nothing (unless a test stands in through
// AppSeams::renderFX). Until the upsampling issue no source rate has an
// upsampling target, so upsampling alone never sends a track through the
// effects road.
#include "app/App.h"

#include "effects/FXPanel.h"

namespace ql {

void App::fxChanged() {}

std::optional<QString> App::fxSignature() const {
    if (seams.fxSignature)
        return seams.fxSignature();
    return fxPanel->signature();
}

bool App::fxNeeded(const std::optional<Track>&) const {
    if (playback.bitPerfect)
        return false;
    return fxSignature().has_value();
}

std::optional<QString> App::fxChainActive() const {
    if (playback.bitPerfect)
        return std::nullopt;
    std::optional<QString> signature = fxSignature();
    if (const int up = effUpMode(); up > 0)
        return signature.value_or(QStringLiteral("-")) + QStringLiteral("|up") +
               QString::number(up);
    return signature;
}

QString App::fxKey(const Track& track, const QString& signature) {
    return track.path + u'|' + signature;
}

void App::prefetchFX(const Track&) {}

std::optional<QString> App::renderFXBlocking(const Track& track,
                                             const std::optional<QString>& chain,
                                             const std::vector<PluginSlot>& plugins) const {
    if (seams.renderFX)
        return seams.renderFX(track, chain, plugins);
    return std::nullopt;
}

} // namespace ql
