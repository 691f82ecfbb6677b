// ---- the program's own files on the status line ----
//
// A damaged store or settings file is set aside at launch, once every store
// has been read, and named with its kept copy. A save that fails (a full
// disk, a read-only folder) is named once per file and cause until the file
// is saved again; the data stays in memory and its owner tries again.
//
// These notices are rare and easy to miss, so each is a notice of the status
// line (StatusLabel::setNotice, ui/NoticeQueue): shown at a tick, for the
// whole hold time, a track starting meanwhile notwithstanding; several take
// their turns. A notice never outlives its cause: a failure whose file is
// saved before its turn is dropped unseen, and one the user has seen is
// followed, at once, by "저장했습니다: <file>", once. The catalog cache has its
// own message (catalogSaved).
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
    for (const JSONStore::SetAside& m : moved)
        status->setNotice(L10n::tr(QStringLiteral("손상된 파일을 따로 보관했습니다: ")) + m.file +
                          QStringLiteral(" → ") + m.copy);
}

void App::tellStoreFaults() {
    // Runs on every tick: nothing but the empty check when all is well.
    const std::vector<JSONStore::WriteOutcome> outcomes = JSONStore::takeOutcomes();
    const QString catalog =
        outcomes.empty() ? QString() : QFileInfo(catalogURL()).absoluteFilePath();
    for (const JSONStore::WriteOutcome& o : outcomes) {
        if (o.path == catalog)
            continue;
        const QString name = QFileInfo(o.path).fileName();
        if (o.saved)
            status->setSaved(o.path, L10n::tr(QStringLiteral("저장했습니다: ")) + name);
        else
            status->setSaveFailed(o.path, o.error,
                                  L10n::tr(QStringLiteral("저장 실패: ")) + name +
                                      QStringLiteral(" (") + o.error + QLatin1Char(')'));
    }
    status->showWaiting();
}

} // namespace ql
