// State of the application core: launch bookkeeping and the downloader's
// hand-over queue.
#pragma once

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
};

} // namespace ql
