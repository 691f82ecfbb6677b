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
const QString kNoArtist = QStringLiteral("(가수 없음)");
const QString kNoGenre = QStringLiteral("장르 미지정");

// Names repeat from track to track (ten tracks an album, hundreds an artist),
// and normalising is the costly step of a pass: each distinct text is
// normalised once and stands for its normalised form by a number, so tiles
// are found and counted by numbers, and key strings are made once per tile.
class Normalizer {
public:
    quint32 id(const QString& text) {
        const auto it = m_byText.constFind(text);
        if (it != m_byText.constEnd())
            return *it;
        const QString folded = normalizedSearch(text);
        auto f = m_byFolded.constFind(folded);
        if (f == m_byFolded.constEnd()) {
            f = m_byFolded.insert(folded, quint32(m_folded.size()));
            m_folded.push_back(folded);
        }
        m_byText.insert(text, *f);
        return *f;
    }
    const QString& folded(quint32 id) const { return m_folded[id]; }

    // Neighbouring tracks mostly share their album, artist and genre: each
    // field remembers its last text, which spares the lookup.
    enum Field { Album, Artist, Genre, Fields };
    quint32 id(const QString& text, Field field) {
        Recent& r = m_recent[field];
        if (!r.known || r.text != text)
            r = {text, id(text), true};
        return r.id;
    }

private:
    struct Recent {
        QString text;
        quint32 id = 0;
        bool known = false;
    };
    Recent m_recent[Fields];
    QHash<QString, quint32> m_byText;
    QHash<QString, quint32> m_byFolded;
    std::vector<QString> m_folded;
};

quint64 pair(quint32 a, quint32 b) {
    return (quint64(a) << 32) | b;
}

QString countText(qsizetype tracks, qsizetype others, const char* unit) {
    return QString::number(tracks) + QStringLiteral("곡 · ") + QString::number(others) +
           QString::fromUtf8(unit);
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

QString coverKey(const Track& track) {
    QString key = albumKey(track);
    if (track.album.isEmpty())
        key += QLatin1Char('|') + normalizedSearch(folderOf(track.path));
    return key;
}

QString mosaicKey(const QString& tileKey, const std::vector<AlbumItem>& albums) {
    QString key = tileKey;
    for (const AlbumItem& album : albums)
        key += QLatin1Char('\n') + album.key;
    return key;
}

QString tileKey(const Track& track, const QString& kind, const QString& genre) {
    if (kind == kArtistKind)
        return QStringLiteral("artist:") +
               normalizedSearch(track.artist.isEmpty() ? kNoArtist : track.artist);
    if (kind == kGenreKind)
        return QStringLiteral("genre:") + normalizedSearch(genre.isEmpty() ? kNoGenre : genre);
    return albumKey(track);
}

std::vector<AlbumItem> groupTracks(const GroupingInput& input) {
    std::vector<AlbumItem> tiles;
    if (!input.tracks || input.tracks->empty())
        return tiles;
    const bool byArtist = input.viewKind == kArtistView;
    const bool byGenre = input.viewKind == kGenreView;
    Normalizer norm;
    QHash<quint64, std::size_t> index;
    // What an artist tile counts (albums) or a genre tile counts (artists).
    std::vector<QSet<quint64>> distinct;
    // The tile of each track of the list.
    std::vector<std::size_t> tileOf(input.tracks->size());
    quint64 lastId = 0;
    std::size_t lastTile = 0;
    const TrackList& list = *input.tracks;
    for (std::size_t k = 0; k < list.size(); ++k) {
        const Track& t = list[k];
        // A genre tile counts artists only: its tracks' albums are not looked up.
        const quint32 album = byGenre ? 0 : norm.id(t.album, Normalizer::Album);
        const quint32 artist = norm.id(t.artist, Normalizer::Artist);
        quint64 id = pair(album, artist);
        QString name; // the title of an artist or genre tile
        if (byArtist) {
            name = t.artist.isEmpty() ? kNoArtist : t.artist;
            id = t.artist.isEmpty() ? norm.id(kNoArtist) : artist;
        } else if (byGenre) {
            name = input.genres ? input.genres->value(t.path) : QString();
            if (name.isEmpty())
                name = kNoGenre;
            id = norm.id(name, Normalizer::Genre);
        }
        // The tile of the previous track, else the index's.
        if (tiles.empty() || id != lastId) {
            auto it = index.constFind(id);
            if (it == index.constEnd()) {
                it = index.insert(id, tiles.size());
                AlbumItem tile{{}, name, t.artist, {}, kAlbumKind, {}};
                if (byArtist || byGenre) {
                    tile.key = (byArtist ? QStringLiteral("artist:") : QStringLiteral("genre:")) +
                               norm.folded(quint32(id));
                    tile.kind = byArtist ? kArtistKind : kGenreKind;
                    distinct.emplace_back();
                } else {
                    tile.key = norm.folded(album) + QLatin1Char('|') + norm.folded(artist);
                    tile.title = t.album.isEmpty() ? lastPathComponent(folderOf(t.path)) : t.album;
                }
                tiles.push_back(std::move(tile));
            }
            lastId = id;
            lastTile = *it;
        }
        tileOf[k] = lastTile;
        if (byArtist)
            distinct[lastTile].insert(pair(album, artist));
        else if (byGenre)
            distinct[lastTile].insert(artist);
    }
    // Each tile's tracks as rows of the list's own rows, in list order.
    std::vector<std::vector<std::size_t>> members(tiles.size());
    {
        std::vector<std::size_t> counts(tiles.size(), 0);
        for (const std::size_t tile : tileOf)
            ++counts[tile];
        for (std::size_t i = 0; i < tiles.size(); ++i)
            members[i].reserve(counts[i]);
        for (std::size_t k = 0; k < tileOf.size(); ++k)
            members[tileOf[k]].push_back(list.rowOf(k));
    }
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        AlbumItem& tile = tiles[i];
        tile.tracks = TrackList(list.rows(), std::move(members[i]));
        const qsizetype n = qsizetype(tile.tracks.size());
        if (byArtist)
            tile.sub = countText(n, distinct[i].size(), "앨범");
        else if (byGenre)
            tile.sub = countText(n, distinct[i].size(), "아티스트");
        else
            tile.sub = tile.artist.isEmpty() ? QStringLiteral("—") : tile.artist;
    }

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
        QString key = coverKey(t);
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
