// ---- app: this run's work folder for decodes and renders ----
//
// The folder is opened at its first need (the launch asks once, which also
// clears the folders that ended runs left) and kept in `playback.work` for
// the run; where none can be made anywhere, the shared temporary folder is
// used, and that is not asked again.
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/WorkFolder.h"

#include <QDir>

#include <utility>

namespace ql {

QString App::workDir() const {
    if (!playback.work && !std::exchange(playback.workTried, true)) {
        playback.work = WorkFolder::open();
        if (!playback.work)
            qCWarning(lcPlayback,
                      "no private folder for temporary files; using the temporary folder");
        else if (playback.work->isLoose())
            qCWarning(lcPlayback, "no private base folder for temporary files; this run's "
                                  "folder is made in the shared temporary folder");
        if (playback.work && playback.work->cleared() > 0)
            qCInfo(lcPlayback, "removed %d folders of temporary files left by ended runs",
                   playback.work->cleared());
    }
    if (playback.work)
        return playback.work->path();
    return QDir(QDir::tempPath()).absolutePath();
}

} // namespace ql
