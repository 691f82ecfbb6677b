// The temporary files that background roads are still producing: a decode's
// output from its launch, a render's result from the moment the renderer
// hands it back until the main thread takes it. Whoever takes a path owns
// the file from then on; close() hands every path still registered to the
// quit, which deletes them, and refuses later additions, so a road that
// finishes after the quit deletes its own file.
//
// Thread: any; every call locks. Shared by the controller and the render
// jobs, which may outlive it.
#pragma once

#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

namespace ql {

class InFlightFiles {
public:
    // Registers `path`. False once closed: the caller deletes the file.
    bool add(const QString& path);
    // Takes `path` back; true when it was registered (the caller now owns
    // the file), false when the quit already took it.
    bool take(const QString& path);
    // The paths still registered, in no order; from now on nothing is added.
    QStringList close();
    bool isClosed() const;

private:
    mutable QMutex m_mutex;
    QSet<QString> m_paths;
    bool m_closed = false;
};

} // namespace ql
