// State of the music library held by App as `library`. Main thread only.
#pragma once

#include "app/Records.h"
#include "library/LineFramer.h"
#include "library/ReplyReader.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

#include <vector>

class QProcess;

namespace ql {

struct LibraryState {
    // The whole catalog in catalog order.
    std::vector<Track> rows;
    // Quality label by file path ("quality.json"), and whether it changed
    // since the last save.
    QHash<QString, QString> qual;
    bool qualDirty = false;
    // Paths whose quality probe is queued or running.
    QSet<QString> qualPending;
    // Genre by file path ("genres.json").
    QHash<QString, QString> genres;
    // Bumped by the quit so that file imports still running are dropped when
    // they arrive.
    quint64 fileOpenGeneration = 0;

    // ---- backend requests ---------------------------------------------------
    // A request is in flight: set by each written request, cleared by each
    // reply line (and by a failed write).
    bool pending = false;
    // The backend failed to start, a write to it failed or it ended; from
    // then on every request is dropped for the rest of the run.
    bool backendError = false;
    // Menu requests that found another request in flight, sent at the tick's
    // next free turn: one rescan, and the latest track to complete.
    bool scanDue = false;
    std::optional<qint64> enrichDue;

    // ---- the backend process --------------------------------------------------
    // The long-lived backend (its standard input takes the requests, its
    // standard output gives the replies); a child object of App, null before
    // the start. Never restarted.
    QProcess* backend = nullptr;
    // Backend output not yet ended by a line feed.
    LineFramer buffer;
    // Decodes the reply lines; remembers the last one.
    ReplyReader replies;
};

} // namespace ql
