// The downloader window controller.
//
// Seam: only the callbacks the controller wires at launch and the stop it
// calls at quit. The window, the script runner and the preview search come
// with the downloader's own work; until then no script ever runs, so there is
// nothing to terminate.
#pragma once

#include <QString>

#include <functional>

namespace ql {

class FlacFetcher final {
public:
    std::function<void()> onPreviewStart;       // a preview began playing
    std::function<void(const QString&)> onSaved; // the script saved this file
    std::function<void(int)> onFinished;        // a run ended (count of files)

    void terminateIfRunning() {}
};

} // namespace ql
