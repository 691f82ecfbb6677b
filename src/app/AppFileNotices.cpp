// ---- the program's own files on the status line ----
//
// A damaged store or settings file is set aside at launch, once every store
// has been read, and named with its kept copy. A save that fails (a full
// disk, a read-only folder) is named once per file and cause until the file
// is saved again; the data stays in memory and its owner tries again.
//
// These notices are rare and easy to miss, so each is shown as a notice of
// the status line (StatusLabel::setNotice): at the next tick, for the whole
// hold time, a track starting meanwhile notwithstanding; several take their
// turns. A notice never outlives its cause: a failure whose file is saved
// before its turn is dropped unseen, and one the user has seen is followed,
// at once, by "저장했습니다: <file>", once. The catalog cache has its own
// message (catalogSaved).
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
        core.fileNotices << CoreState::FileNotice{
            L10n::tr(QStringLiteral("손상된 파일을 따로 보관했습니다: ")) + m.file +
                QStringLiteral(" → ") + m.copy,
            {}};
    }
}

void App::tellStoreFaults() {
    // Runs on every tick: nothing but the empty checks when all is well.
    const std::vector<JSONStore::WriteOutcome> outcomes = JSONStore::takeOutcomes();
    if (outcomes.empty() && core.fileNotices.isEmpty()) {
        status->showWaiting();
        return;
    }
    const QString catalog =
        outcomes.empty() ? QString() : QFileInfo(catalogURL()).absoluteFilePath();
    bool replaceShown = false; // the failure on the line is over
    for (const JSONStore::WriteOutcome& o : outcomes) {
        if (o.path == catalog)
            continue;
        if (o.saved) {
            // Its failure is over: told again should it come back.
            core.toldFailures.removeIf(
                [&o](const QString& cause) { return cause.startsWith(o.path + u'\n'); });
            core.fileNotices.removeIf(
                [&o](const CoreState::FileNotice& n) { return n.path == o.path; });
            if (core.toldFailing.remove(o.path)) {
                const CoreState::FileNotice saved{L10n::tr(QStringLiteral("저장했습니다: ")) +
                                                      QFileInfo(o.path).fileName(),
                                                  o.path, true};
                // The failure on the line gives way at once.
                if (core.noticeShown == o.path && status->noticeUp()) {
                    replaceShown = true;
                    core.fileNotices.prepend(saved);
                } else {
                    core.fileNotices << saved;
                }
            }
            continue;
        }
        const QString cause = o.path + QLatin1Char('\n') + o.error;
        if (core.toldFailures.contains(cause))
            continue;
        core.toldFailures.insert(cause);
        core.fileNotices << CoreState::FileNotice{
            L10n::tr(QStringLiteral("저장 실패: ")) + QFileInfo(o.path).fileName() +
                QStringLiteral(" (") + o.error + QLatin1Char(')'),
            o.path};
    }
    if (!status->noticeUp())
        core.noticeShown.clear();
    if (!core.fileNotices.isEmpty() && (!status->noticeUp() || replaceShown)) {
        const CoreState::FileNotice next = core.fileNotices.takeFirst();
        status->setNotice(next.text);
        core.noticeShown.clear();
        if (!next.saved && !next.path.isEmpty()) {
            core.noticeShown = next.path;
            core.toldFailing.insert(next.path);
        }
    }
    status->showWaiting();
}

} // namespace ql
