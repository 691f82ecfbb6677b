#include "library/GenreRecheck.h"

#include <QStringList>

namespace ql {

bool keepsTagsInStreams(const QString& path) {
    static const QStringList kOgg{QStringLiteral(".ogg"), QStringLiteral(".oga"),
                                  QStringLiteral(".ogx"), QStringLiteral(".opus"),
                                  QStringLiteral(".spx")};
    for (const QString& extension : kOgg)
        if (path.endsWith(extension, Qt::CaseInsensitive))
            return true;
    return false;
}

qsizetype forgetEmptyStreamTagGenres(GenreMap& genres) {
    QStringList stale;
    genres.forEach([&](const QString& path, const QString& genre) {
        if (genre.isEmpty() && keepsTagsInStreams(path))
            stale << path;
    });
    for (const QString& path : stale)
        genres.remove(path);
    return stale.size();
}

} // namespace ql
