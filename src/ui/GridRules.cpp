#include "ui/GridRules.h"

#include "ui/AlbumGrouping.h"

#include <string>

namespace ql {

namespace {

const QString kNoArtist = QStringLiteral("(가수 없음)");
const QString kNoGenre = QStringLiteral("장르 미지정");

bool isAsciiLetter(char32_t c) {
    return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z');
}

} // namespace

bool hasFixedTitle(const AlbumItem& tile) {
    return (tile.kind == QLatin1String("artist") && tile.title == kNoArtist) ||
           (tile.kind == QLatin1String("genre") && tile.title == kNoGenre);
}

CellFilter tileFilter(const AlbumItem& tile) {
    if (tile.kind == QLatin1String("artist") || tile.kind == QLatin1String("genre"))
        return {tile.kind, hasFixedTitle(tile) ? QString() : tile.title};
    const bool untagged = !tile.tracks.empty() && tile.tracks.front().album.isEmpty();
    return {QStringLiteral("album"), untagged ? QString() : tile.title};
}

QString tileKindWord(const AlbumItem& tile) {
    if (tile.kind == QLatin1String("artist"))
        return QStringLiteral("가수");
    if (tile.kind == QLatin1String("genre"))
        return QStringLiteral("장르");
    return QStringLiteral("앨범");
}

std::optional<std::size_t> tileOwnTrack(const TrackList& visible, const AlbumItem& tile,
                                        const GenreMap& genres) {
    if (visible.empty())
        return std::nullopt;
    for (std::size_t i = 0; i < visible.size(); ++i)
        if (tileKey(visible[i], tile.kind, genres.value(visible[i].path)) == tile.key)
            return i;
    return 0;
}

std::optional<std::size_t> letterTarget(const std::vector<AlbumItem>& tiles, int sortMode,
                                        const QString& letter) {
    const bool hash = letter == QLatin1String("#");
    // Code-point order: UTF-16 order differs from it once surrogates meet
    // characters above U+D7FF, so compare whole scalars.
    const std::u32string target = letter.toStdU32String();
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const AlbumItem& tile = tiles[i];
        const QString& text = sortMode == 1 || tile.artist.isEmpty() ? tile.title : tile.artist;
        const std::u32string key = text.toUpper().toStdU32String();
        if (key.empty())
            continue;
        const char32_t first = key.front();
        const bool ascii = first < 0x80;
        if (hash ? !ascii || !isAsciiLetter(first) : ascii && key >= target)
            return i;
    }
    return std::nullopt;
}

} // namespace ql
