#include "ui/AlbumGrouping.h"

#include "ui/SearchText.h"
#include "ui/TrackPath.h"

#include <QCollator>
#include <QSet>

#include <algorithm>
#include <numeric>

namespace ql {

namespace {

const QString kAlbumKind = QStringLiteral("album");
const QString kArtistKind = QStringLiteral("artist");
const QString kGenreKind = QStringLiteral("genre");

// Names repeat from track to track (ten tracks an album, hundreds an artist),
// and normalising is the costly step of a pass: each distinct text is
// normalised once.
class Normalizer {
public:
    QString operator()(const QString& text) {
        const auto it = m_memo.constFind(text);
        if (it != m_memo.constEnd())
            return *it;
        const QString folded = normalizedSearch(text);
        m_memo.insert(text, folded);
        return folded;
    }
    QString albumKey(const Track& t) {
        return (*this)(t.album) + QLatin1Char('|') + (*this)(t.artist);
    }

private:
    QHash<QString, QString> m_memo;
};

QString countText(qsizetype tracks, qsizetype others, const char* unit) {
    return QString::number(tracks) + QStringLiteral("곡 · ") + QString::number(others) +
           QString::fromUtf8(unit);
}

QString subtitle(const AlbumItem& tile, Normalizer& norm) {
    if (tile.kind == kAlbumKind)
        return tile.artist.isEmpty() ? QStringLiteral("—") : tile.artist;
    QSet<QString> distinct;
    const bool byAlbum = tile.kind == kArtistKind;
    for (const Track& t : tile.tracks)
        distinct.insert(byAlbum ? norm.albumKey(t) : norm(t.artist));
    return countText(qsizetype(tile.tracks.size()), distinct.size(), byAlbum ? "앨범" : "아티스트");
}

// The display order as indices into `tiles`.
std::vector<std::size_t> displayOrder(const std::vector<AlbumItem>& tiles,
                                      const GroupingInput& input) {
    std::vector<std::size_t> order(tiles.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    const bool albumGrid = input.viewKind == 1;
    if (!albumGrid) {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return tiles[a].tracks.size() > tiles[b].tracks.size();
        });
        return order;
    }
    if (input.sortMode == 2) {
        std::vector<double> dates(tiles.size(), 0.0);
        if (input.added)
            for (std::size_t i = 0; i < tiles.size(); ++i)
                dates[i] = input.added->value(tiles[i].tracks.front().path, 0.0);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return dates[a] > dates[b]; });
        return order;
    }
    QCollator collator(input.locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<QCollatorSortKey> titles;
    std::vector<QCollatorSortKey> artists;
    titles.reserve(tiles.size());
    for (const AlbumItem& tile : tiles)
        titles.push_back(collator.sortKey(tile.title));
    if (input.sortMode == 1) {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return titles[a].compare(titles[b]) < 0;
        });
        return order;
    }
    artists.reserve(tiles.size());
    for (const AlbumItem& tile : tiles)
        artists.push_back(collator.sortKey(tile.artist));
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int c = artists[a].compare(artists[b]);
        return c != 0 ? c < 0 : titles[a].compare(titles[b]) < 0;
    });
    return order;
}

} // namespace

QString albumKey(const Track& track) {
    return normalizedSearch(track.album) + QLatin1Char('|') + normalizedSearch(track.artist);
}

std::vector<AlbumItem> groupTracks(const GroupingInput& input) {
    std::vector<AlbumItem> tiles;
    if (!input.tracks || input.tracks->empty())
        return tiles;
    Normalizer norm;
    QHash<QString, std::size_t> index;
    for (const Track& t : *input.tracks) {
        QString key;
        QString name; // the title of an artist or genre tile
        const QString* kind = &kAlbumKind;
        if (input.viewKind == kArtistView) {
            kind = &kArtistKind;
            name = t.artist.isEmpty() ? QStringLiteral("(가수 없음)") : t.artist;
            key = QStringLiteral("artist:") + norm(name);
        } else if (input.viewKind == kGenreView) {
            kind = &kGenreKind;
            name = input.genres ? input.genres->value(t.path) : QString();
            if (name.isEmpty())
                name = QStringLiteral("장르 미지정");
            key = QStringLiteral("genre:") + norm(name);
        } else {
            key = norm.albumKey(t);
        }
        auto it = index.constFind(key);
        if (it == index.constEnd()) {
            QString title = name;
            if (kind == &kAlbumKind)
                title = t.album.isEmpty() ? lastPathComponent(folderOf(t.path)) : t.album;
            it = index.insert(key, tiles.size());
            tiles.push_back(AlbumItem{key, title, t.artist, {}, *kind, {}});
        }
        tiles[*it].tracks.push_back(t);
    }
    for (AlbumItem& tile : tiles)
        tile.sub = subtitle(tile, norm);

    const std::vector<std::size_t> order = displayOrder(tiles, input);
    std::vector<AlbumItem> sorted;
    sorted.reserve(tiles.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(tiles[i]));
    return sorted;
}

std::vector<AlbumItem> mosaicAlbums(const AlbumItem& tile) {
    constexpr std::size_t kCells = 4;
    std::vector<AlbumItem> albums;
    QSet<QString> seen;
    for (const Track& t : tile.tracks) {
        QString key = albumKey(t);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        albums.push_back(AlbumItem{std::move(key), t.album, t.artist, {t}, kAlbumKind, {}});
        if (albums.size() == kCells)
            break;
    }
    return albums;
}

QString coverFileName(const QString& key) {
    quint64 hash = 14695981039346656037ULL;
    for (const char byte : key.toUtf8()) {
        hash ^= quint64(quint8(byte));
        hash *= 1099511628211ULL;
    }
    return QString::number(hash) + QStringLiteral(".jpg");
}

} // namespace ql
