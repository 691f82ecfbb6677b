#include "ui/TrackCells.h"

#include "ui/TimeText.h"
#include "ui/TrackPath.h"

namespace ql {

QString formatText(const QString& path) {
    return fileExtension(lastPathComponent(path)).toUpper();
}

QString trackCellText(const QString& identifier, const Track& track, bool favorite,
                      const QString& quality) {
    if (identifier == QLatin1String("title"))
        return favorite ? QStringLiteral("♥ ") + track.title : track.title;
    if (identifier == QLatin1String("artist"))
        return track.artist;
    if (identifier == QLatin1String("album"))
        return track.album;
    if (identifier == QLatin1String("duration"))
        return timeText(track.duration);
    if (identifier == QLatin1String("quality"))
        return quality;
    return formatText(track.path);
}

std::optional<CellFilter> rowDoubleClickFilter(const QString& identifier, const Track& track) {
    QString value;
    if (identifier == QLatin1String("album"))
        value = track.album;
    else if (identifier == QLatin1String("artist"))
        value = track.artist;
    if (value.isEmpty())
        return std::nullopt;
    return CellFilter{identifier, value};
}

std::optional<CellFilter> headerDoubleClickFilter(const QString& identifier, const Track& track) {
    QString value;
    if (identifier == QLatin1String("artist"))
        value = track.artist;
    else if (identifier == QLatin1String("title"))
        value = track.title;
    else if (identifier == QLatin1String("album"))
        value = track.album;
    else if (identifier == QLatin1String("format"))
        value = formatKey(track.path);
    if (value.isEmpty() || value == QLatin1String("."))
        return std::nullopt;
    return CellFilter{identifier, value};
}

} // namespace ql
