// State of the application core: launch bookkeeping, the downloader's
// hand-over queue, the gesture sums of the navigation monitor and the JSON
// stores' folder.
#pragma once

#include "app/JSONStore.h"

#include <QList>
#include <QSet>
#include <QStringList>

namespace ql {

struct CoreState {
    // True once the start-up sequence reached its open-files step.
    bool launched = false;
    // Files asked for before launch, in arrival order.
    QStringList waitingFiles;
    // Paths the downloader saved, waiting to be sent to the backend.
    QStringList pendingAdds;
    // The downloader finished a run: a rescan is due.
    bool needsScan = false;
    // Horizontal and vertical scroll summed over the current two-finger
    // gesture.
    double swipeAccum = 0;
    double swipeVert = 0;
    // Where every JSON store lives (the application-support folder).
    JSONStore store;
    // Firings of the 0.5 s tick since launch; the first tick sees 1.
    qint64 ticks = 0;
    // The shutdown sequence has run (it runs once).
    bool terminated = false;
    // Status-line notices about the program's own files, waiting in turn
    // (composed in the interface language); `path` names the file a save
    // notice concerns, empty for a damaged file set aside.
    struct FileNotice {
        QString text;
        QString path;
        bool saved = false; // else a failure (or a damaged file)
    };
    QList<FileNotice> fileNotices;
    // The save failure on the line now (its file), if any.
    QString noticeShown;
    // The save failures already told (path and description), each told once
    // until the file is saved again, and the files whose failure the user
    // has seen and who are owed a word when it is saved.
    QSet<QString> toldFailures;
    QSet<QString> toldFailing;
};

} // namespace ql
