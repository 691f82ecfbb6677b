// ---- backend: requests to the library backend ----
//
// Seam: the backend process itself. Until the backend bridge starts it (and
// takes its output apart into replies, which clear `pending`), a request line
// has nowhere to go: it is handed to the test seam when one is set and
// otherwise dropped, while `pending` stays set like it does for a backend that
// never answers.
#include "app/App.h"

#include "library/BackendRequest.h"

namespace ql {

void App::request(const QString& action, std::optional<qint64> id,
                  const std::optional<QString>& path) {
    // One request at a time, and none after a failure: a dropped request is
    // lost, the periodic poll asks again.
    if (library.pending || library.backendError)
        return;
    library.pending = true;
    const QByteArray line = backendRequestLine(action, id, path);
    if (seams.backendWrite)
        seams.backendWrite(line);
}

} // namespace ql
