// ---- tools: the missing-programs search and the setup script ----
#include "app/App.h"

#include "library/SetupScript.h"
#include "library/ToolPaths.h"
#include "platform/ChildProcess.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace ql {

namespace {

// The library backend reads tags with mutagen: an interpreter that cannot
// import it is as good as none. A hung interpreter is killed by the bounded
// wait and counts as one that cannot.
bool backendRuns(const QString& python) {
    const platform::ChildRun run =
        platform::runChild(python, {QStringLiteral("-c"), QStringLiteral("import mutagen")});
    return run.finished() && !run.crashed && run.exitCode == 0;
}

} // namespace

QStringList App::missingTools() {
    return ql::missingTools(ToolFolders::standard(), backendRuns);
}

void App::runSetupInTerminal() {
    const std::optional<QString> folder = setupScriptFolder();
    const std::optional<QString> script = folder ? writeSetupScript(*folder) : std::nullopt;
    if (!script) {
        services.desktop->beep();
        return;
    }

    // Debian's x-terminal-emulator runs the command after "-e"; without one,
    // the desktop's handler for the file is the best we can ask for. What the
    // terminal then does is not watched.
    const QString terminal = QStandardPaths::findExecutable(QStringLiteral("x-terminal-emulator"));
    const QStringList arguments{QStringLiteral("-e"), *script};
    bool started = false;
    if (!terminal.isEmpty()) {
        started = services.desktop->startDetached(terminal, arguments);
    }
    if (!started) {
        const QUrl url = QUrl::fromLocalFile(*script);
        services.desktop->openUrl(url);
    }
}

} // namespace ql
