#include "ui/l10n/LanguageSetting.h"

#include "app/UserDefaults.h"

namespace ql {

QString storedLanguage() {
    // Any stored value other than "en" means Korean, as the switch writes it;
    // a value that is not text counts as absent.
    return UserDefaults().string(keys::kLang).value_or(QStringLiteral("en"));
}

} // namespace ql
