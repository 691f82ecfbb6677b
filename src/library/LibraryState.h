// State of the music library, held by App as `library`; main thread only.
#pragma once

#include "app/Records.h"

#include <QHash>
#include <QString>

#include <vector>

namespace ql {

struct LibraryState {
    // The whole catalog in catalog order; assigned only by the catalog intake,
    // which then rebuilds the folder list and refilters.
    std::vector<Track> rows;
    // Genre name by file path, filled by the background genre probe.
    QHash<QString, QString> genres;
};

} // namespace ql
