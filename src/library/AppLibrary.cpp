// ---- library: file intake ----
//
// Files handed to the program (its arguments, a second launch, the open
// panel) are imported one after another by one-shot runs of the backend
// script on a queue of their own (intakeQueue); the tail on the main thread takes them into the
// catalog and plays the first. Every intake bumps library.fileOpenGeneration,
// so the results of an older intake (or of one the quit overtook) are dropped.
// The quit also kills the import running then, with whatever it started: an
// import held by its file's disk must neither outlive the program nor keep
// its quit waiting.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/Delivery.h"
#include "app/UserDefaults.h"
#include "library/BackendImport.h"
#include "library/FileIntake.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeDatabase>
#include <QThreadPool>

#include <algorithm>

namespace ql {

namespace {

// One name filter holding the file patterns of every audio type the system
// knows: several filters would show one type at a time.
QString audioFilter() {
    QStringList patterns;
    for (const QMimeType& type : QMimeDatabase().allMimeTypes())
        if (type.name().startsWith(QLatin1String("audio/")))
            patterns << type.globPatterns();
    patterns.removeDuplicates();
    std::sort(patterns.begin(), patterns.end());
    return L10n::tr(QStringLiteral("음원 파일")) + QStringLiteral(" (") +
           patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

} // namespace

void App::openAudioFiles(const QStringList& paths) {
    const QStringList files = localFiles(paths);
    if (files.isEmpty())
        return;
    ++library.fileOpenGeneration;
    applicationShouldHandleReopen();
    status->setStringValue(L10n::tr(QStringLiteral("음원 여는 중…")));

    const BackendCommand backend = backendLaunch();
    const int limitMs = services.clock->importLimitMs();
    // The job touches no App state; its answer is dropped once a newer
    // intake has begun. Its queue is its own: no reader of other files
    // (held by a slow disk, say) holds it.
    const Delivery delivery(this, library.fileOpenGeneration);
    intakeQueue->start([delivery, backend, files, limitMs, stop = library.importStop] {
        IntakeResult result = importFiles(backend, files, limitMs, stop);
        delivery.post([result = std::move(result)](App& app) { app.openFinished(result); });
    });
}

void App::openFinished(const IntakeResult& result) {
    // A file handed to the program that does not open is a track that does
    // not play, even when others of the intake do.
    for (const IntakeFailure& failure : result.failures) {
        qCWarning(lcLibrary, "a file handed to the program did not open");
        qCDebug(lcLibrary, "%s: %s", qUtf8Printable(failure.file), qUtf8Printable(failure.error));
    }
    const std::vector<Track>& imported = result.imported;
    if (imported.empty()) {
        if (!result.failures.empty())
            showBackendMessage(result.failures.back().error);
        return;
    }
    // Files opened before the backend's first catalog (a first run): the list
    // holds them alone until it comes.
    if (library.rows.empty() && !library.catalogHeard && !library.backendError &&
        (library.backend || services.tools->backendSink()))
        library.listAwaited = true;
    mergeImported(library.rows, imported);
    catalogReplaced();
    // Show every folder and no search, so the new rows can be seen.
    browser.selectedFolder.clear();
    UserDefaults().set(keys::kSelectedFolder, QString());
    search->clear();
    saveCatalog();
    rebuildFolders();
    filter(false);
    warmShownView();
    play(imported.front());
}

void App::chooseAudioFile() {
    QFileDialog panel(window.get());
    panel.setFileMode(QFileDialog::ExistingFiles);
    panel.setAcceptMode(QFileDialog::AcceptOpen);
    panel.setNameFilter(audioFilter());
    const std::optional<QStringList> chosen = services.desktop->openPanel(panel);
    if (chosen)
        openAudioFiles(*chosen);
}

} // namespace ql
