#include "downloader/UpgradeSong.h"

namespace ql {

std::optional<UpgradeSong> upgradeSong(const Track& track, const QString& label) {
    if (!label.contains(QChar(0x2B06)))
        return std::nullopt;
    UpgradeSong song{track.artist, track.title};
    const QString separator = QStringLiteral(" - ");
    if (song.artist.isEmpty()) {
        if (const qsizetype at = song.title.indexOf(separator); at >= 0) {
            song.artist = song.title.left(at);
            song.title = song.title.mid(at + separator.size());
        }
    }
    return song;
}

} // namespace ql
