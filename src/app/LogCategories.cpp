#include "app/LogCategories.h"

namespace ql {

Q_LOGGING_CATEGORY(lcStore, "quavelark.store", QtWarningMsg)

} // namespace ql
