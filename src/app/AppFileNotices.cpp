// ---- the program's own files on the status line ----
//
// A damaged store or settings file is set aside at launch, once every store
// has been read, and named with its kept copy. A save that fails (a full
// disk, a read-only folder) is named once per file and cause in a run; the
// data stays in memory and its owner tries again. The messages wait in turn
// for the status line to be free, so none is lost under another and none
// repeats on every tick. The catalog cache has its own message
// (catalogSaved).
#include "app/App.h"

#include "app/UserDefaults.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QFileInfo>

namespace ql {

void App::setAsideDamagedFiles() {
    std::vector<JSONStore::SetAside> moved = core.store.setAsideDamaged();
    const QString settingsFolder = QFileInfo(UserDefaults().fileName()).path();
    if (settingsFolder != QFileInfo(core.store.dir()).absoluteFilePath()) {
        for (JSONStore::SetAside& m : JSONStore(settingsFolder).setAsideDamaged())
            moved.push_back(std::move(m));
    }
    for (const JSONStore::SetAside& m : moved) {
        core.fileNotices << L10n::tr(QStringLiteral("손상된 파일을 따로 보관했습니다: ")) + m.file +
                                QStringLiteral(" → ") + m.copy;
    }
}

void App::tellStoreFaults() {
    // Runs on every tick: nothing but the empty checks when all is well.
    const std::vector<JSONStore::WriteFailure> failures = JSONStore::takeFailures();
    if (failures.empty() && core.fileNotices.isEmpty())
        return;
    const QString catalog = failures.empty() ? QString()
                                             : QFileInfo(catalogURL()).absoluteFilePath();
    for (const JSONStore::WriteFailure& f : failures) {
        if (f.path == catalog)
            continue;
        const QString cause = f.path + QLatin1Char('\n') + f.error;
        if (core.toldFailures.contains(cause))
            continue;
        core.toldFailures.insert(cause);
        core.fileNotices << L10n::tr(QStringLiteral("저장 실패: ")) + QFileInfo(f.path).fileName() +
                                QStringLiteral(" (") + f.error + QLatin1Char(')');
    }
    if (!core.fileNotices.isEmpty() && !status->isHeld())
        status->setTranslated(core.fileNotices.takeFirst());
}

} // namespace ql
