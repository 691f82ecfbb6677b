#include "library/FileIntake.h"

#include <QDir>
#include <QUrl>

#include <algorithm>

namespace ql {

QStringList localFiles(const QStringList& entries) {
    QStringList files;
    for (const QString& entry : entries) {
        if (entry.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
            const QString local = QUrl(entry).toLocalFile();
            if (QDir::isAbsolutePath(local))
                files << local;
        } else if (entry.startsWith(QLatin1Char('/'))) {
            files << entry;
        }
    }
    return files;
}

void mergeImported(std::vector<Track>& rows, const std::vector<Track>& imported) {
    for (const Track& track : imported) {
        const auto same = std::find_if(rows.begin(), rows.end(),
                                       [&](const Track& r) { return r.id == track.id; });
        if (same != rows.end())
            *same = track;
        else
            rows.push_back(track);
    }
}

} // namespace ql
