// The platform layer's logging categories (see app/LogCategories.h for the
// whole set and what each level is for).
#pragma once

#include <QLoggingCategory>

namespace ql::platform {

Q_DECLARE_LOGGING_CATEGORY(lcAudio)
Q_DECLARE_LOGGING_CATEGORY(lcAlsa)

} // namespace ql::platform
