// The user's settings: QSettings in INI format, organisation and application
// "Quavelark" ($XDG_CONFIG_HOME/Quavelark/Quavelark.conf), whatever names the
// application object carries. Short-lived: make one where it is needed; its
// changes reach the file when it is destroyed.
#pragma once

#include <QSettings>

namespace ql {

class UserDefaults final : public QSettings {
public:
    UserDefaults()
        : QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quavelark"),
                    QStringLiteral("Quavelark")) {}
};

} // namespace ql
