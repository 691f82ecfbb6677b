// ---- app: this run's work folder for decodes and renders ----
//
// The folder is opened at its first need (the launch asks once, which also
// clears the folders that ended runs left) and kept in `playback.work` for
// the run. A folder removed meanwhile (a cache cleaner) is made again at the
// next need, under the same rules. Where none can be made anywhere there is
// no work folder at all, and that is not asked again: no work file is ever
// written straight into a shared folder, so renders play the track without
// their processing and files only ffmpeg decodes are refused, each saying so
// (playback/AppRoads.cpp).
#include "app/App.h"

#include "app/ControllerLogCategories.h"
#include "app/WorkFolder.h"

#include <QDir>

#include <utility>

namespace ql {

QString App::workDir() const {
    if (playback.work && !playback.work->intact()) {
        qCWarning(lcPlayback, "the folder for temporary files was removed; it is made again");
        playback.work.reset();
        playback.workTried = false;
    }
    if (!playback.work && !std::exchange(playback.workTried, true)) {
        playback.work = WorkFolder::open();
        if (!playback.work)
            qCWarning(lcPlayback, "no private folder for temporary files; tracks play without "
                                  "processing, and files only ffmpeg decodes do not play");
        else if (playback.work->isLoose())
            qCWarning(lcPlayback, "no private base folder for temporary files; this run's "
                                  "folder is made in the shared temporary folder");
        if (playback.work && playback.work->cleared() > 0)
            qCInfo(lcPlayback, "removed %d folders of temporary files left by ended runs",
                   playback.work->cleared());
    }
    return playback.work ? playback.work->path() : QString();
}

QString App::workBase() const {
    if (playback.work)
        return playback.work->base();
    // None could be made: the first place one was looked for.
    const QStringList bases = workFolderBases();
    return bases.isEmpty() ? QDir::tempPath() : bases.front();
}

} // namespace ql
