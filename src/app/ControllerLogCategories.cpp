#include "app/ControllerLogCategories.h"

namespace ql {

Q_LOGGING_CATEGORY(lcPlayback, "quavelark.playback", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLibrary, "quavelark.library", QtWarningMsg)
Q_LOGGING_CATEGORY(lcBackend, "quavelark.backend", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRemote, "quavelark.remote", QtWarningMsg)

} // namespace ql
