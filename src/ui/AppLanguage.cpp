// ---- language switch: the gear menu's two language items ----
//
// The interface language is fixed for the run; choosing the other one stores
// it and offers to restart at once. The alert is worded in the chosen
// language, never passed through the translation table.
#include "app/App.h"

#include "app/Relaunch.h"
#include "app/UserDefaults.h"
#include "ui/l10n/L10n.h"

#include <QCoreApplication>
#include <QProcess>

namespace ql {

void App::setLanguage(int tag) {
    const QString code = tag == 0 ? QStringLiteral("en") : QStringLiteral("ko");
    // Compared with the language in effect, not with the stored setting.
    if (code == L10n::lang())
        return;
    {
        UserDefaults defaults;
        defaults.set(keys::kLang, code);
        defaults.sync();
    }
    const bool english = code == QLatin1String("en");
    const QString text = english ? QStringLiteral("Restart to apply the language")
                                 : QStringLiteral("언어를 적용하려면 다시 시작하세요");
    const QString info = english
                             ? QStringLiteral("Quavelark will restart and show English menus.")
                             : QStringLiteral("Quavelark이 다시 시작되며 한국어 메뉴로 바뀝니다.");
    const QStringList buttons =
        english ? QStringList{QStringLiteral("Restart now"), QStringLiteral("Later")}
                : QStringList{QStringLiteral("지금 다시 시작"), QStringLiteral("나중에")};
    if (askAlert(text, info, buttons) != 0)
        return;
    // A shell that cannot start is ignored: the program still quits.
    const QString shell = QString::fromLatin1(kRelaunchShell);
    const QStringList arguments = relaunchArguments(QCoreApplication::applicationFilePath(),
                                                    QCoreApplication::applicationPid());
    services.desktop->startDetached(shell, arguments);
    QCoreApplication::quit();
}

} // namespace ql
