// ---- effects: the effect signature and re-rendering the current track ----
//
// Seams until the effects issue: the filter chain and the plug-in slots do not
// exist yet, so no effect applies — fxSignature() gives none (unless a test
// stands in through AppSeams::fxSignature) — and there is no render to redo
// for new settings or a new device, so fxChanged() does nothing.
#include "app/App.h"

namespace ql {

void App::fxChanged() {}

std::optional<QString> App::fxSignature() const {
    if (seams.fxSignature)
        return seams.fxSignature();
    return std::nullopt;
}

} // namespace ql
