// The interface language stored in the settings under "lang": "en" for
// English, "ko" for Korean. Read once at launch; written by the language
// switch of the gear menu.
#pragma once

#include <QString>

namespace ql {

// The stored code, or "en" when the setting is absent.
QString storedLanguage();

} // namespace ql
