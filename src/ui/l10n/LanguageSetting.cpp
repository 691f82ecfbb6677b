#include "ui/l10n/LanguageSetting.h"

#include <QSettings>

namespace ql {

QString storedLanguage() {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                             QStringLiteral("Quavelark"), QStringLiteral("Quavelark"));
    const QString key = QStringLiteral("lang");
    // Any stored value other than "en" means Korean, as the switch writes it.
    return settings.contains(key) ? settings.value(key).toString() : QStringLiteral("en");
}

} // namespace ql
