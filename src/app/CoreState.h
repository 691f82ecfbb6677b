// State of the application core: launch bookkeeping, the downloader's
// hand-over queue, the gesture sums of the navigation monitor and the JSON
// stores' folder.
#pragma once

#include "app/JSONStore.h"

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
};

} // namespace ql
