// The controller's logging categories (see app/LogCategories.h for the whole
// set and what each level is for).
#pragma once

#include <QLoggingCategory>

namespace ql {

Q_DECLARE_LOGGING_CATEGORY(lcPlayback)
Q_DECLARE_LOGGING_CATEGORY(lcLibrary)
Q_DECLARE_LOGGING_CATEGORY(lcBackend)
Q_DECLARE_LOGGING_CATEGORY(lcRemote)

} // namespace ql
