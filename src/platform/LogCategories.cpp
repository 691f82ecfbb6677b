#include "platform/LogCategories.h"

namespace ql::platform {

Q_LOGGING_CATEGORY(lcAudio, "quavelark.audio", QtWarningMsg)
Q_LOGGING_CATEGORY(lcAlsa, "quavelark.alsa", QtWarningMsg)

} // namespace ql::platform
