// ---- playback: exclusive use of the output device ----
//
// Seam for exclusive mode: taking and giving back the device (and
// `playback.hogDevice`) come with it. Until then nothing is held, so there is
// nothing to take or give back.
#include "app/App.h"

namespace ql {

void App::setHog(bool, std::optional<platform::DeviceId>) {}

} // namespace ql
