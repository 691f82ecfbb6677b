#include "library/GenreMap.h"

#include "app/JsonCodecImpl.h"
#include "library/TagBound.h"

#include <algorithm>
#include <bit>

namespace ql {

namespace {

// Only ever taken of the path as asked for: a kept slot holds its hash, so
// a path stored as Latin-1 is never hashed again. A fixed seed keeps the
// saved file's order the same from run to run.
quint32 hashOf(QStringView path) {
    return quint32(qHash(path, 0));
}

bool fitsLatin1(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x100; });
}

// Below this share of slots in use the table keeps its size: with linear
// probing a miss reads a few cells at that load, at 16 bytes a slot.
constexpr std::size_t kLoadNumerator = 4, kLoadDenominator = 5;

} // namespace

GenreMap::GenreMap() : d(new Data) {}

GenreMap::GenreMap(std::initializer_list<std::pair<QString, QString>> entries) : GenreMap() {
    for (const auto& [path, genre] : entries)
        insert(path, genre);
}

GenreMap::GenreMap(const GenreMap&) = default;
GenreMap::GenreMap(GenreMap&&) noexcept = default;
GenreMap& GenreMap::operator=(const GenreMap&) = default;
GenreMap& GenreMap::operator=(GenreMap&&) noexcept = default;
GenreMap::~GenreMap() = default;

qsizetype GenreMap::textUnits() const {
    qsizetype units = 0;
    for (const Slot& s : d->table)
        if (s.genre != 0)
            units += qsizetype(s.size & ~kWide) + d->names[s.genre - 1].size();
    return units;
}

qsizetype GenreMap::size() const {
    return d->count;
}

QString GenreMap::keyOf(const Slot& s) const {
    const qsizetype n = qsizetype(s.size & ~kWide);
    if (s.size & kWide)
        return QString(d->wide.constData() + s.at, n);
    return QString::fromLatin1(d->narrow.constData() + s.at, n);
}

bool GenreMap::sameKey(const Slot& s, QStringView path) const {
    const qsizetype n = qsizetype(s.size & ~kWide);
    if (n != path.size())
        return false;
    if (s.size & kWide)
        return QStringView(d->wide.constData() + s.at, n) == path;
    return path.compare(QLatin1StringView(d->narrow.constData() + s.at, n)) == 0;
}

std::size_t GenreMap::probe(QStringView path, quint32 hash) const {
    const std::vector<Slot>& cells = d->table;
    const std::size_t mask = cells.size() - 1;
    std::size_t i = hash & mask;
    while (cells[i].genre != 0 && !(cells[i].hash == hash && sameKey(cells[i], path)))
        i = (i + 1) & mask;
    return i;
}

bool GenreMap::contains(const QString& path) const {
    if (d->count == 0)
        return false;
    return d->table[probe(path, hashOf(path))].genre != 0;
}

QString GenreMap::value(const QString& path, const QString& otherwise) const {
    if (d->count == 0)
        return otherwise;
    const Slot& s = d->table[probe(path, hashOf(path))];
    return s.genre != 0 ? d->names[s.genre - 1] : otherwise;
}

quint32 GenreMap::numberOf(const QString& genre) {
    // Entries come mostly in runs of one genre.
    if (d->last < d->names.size() && d->names[d->last] == genre)
        return d->last;
    const auto it = d->numbers.constFind(genre);
    if (it != d->numbers.constEnd())
        return d->last = *it;
    const quint32 number = quint32(d->names.size());
    d->names.push_back(genre);
    d->numbers.insert(genre, number);
    return d->last = number;
}

void GenreMap::grow(std::size_t cells) {
    std::vector<Slot> old = std::move(d->table);
    d->table.assign(cells, Slot{});
    const std::size_t mask = cells - 1;
    for (const Slot& s : old) {
        if (s.genre == 0)
            continue;
        std::size_t i = s.hash & mask;
        while (d->table[i].genre != 0)
            i = (i + 1) & mask;
        d->table[i] = s;
    }
}

void GenreMap::reserve(qsizetype entries, qsizetype units) {
    const auto want = std::size_t(std::max<qsizetype>(entries, 0));
    const std::size_t cells = std::bit_ceil(
        std::max<std::size_t>(16, (want * kLoadDenominator + kLoadNumerator - 1) / kLoadNumerator));
    if (cells > d->table.size())
        grow(cells);
    d->narrow.reserve(d->narrow.size() + std::max<qsizetype>(units, 0));
}

void GenreMap::insert(const QString& path, const QString& genre) {
    const quint32 hash = hashOf(path);
    if ((std::size_t(d->count) + 1) * kLoadDenominator > d->table.size() * kLoadNumerator)
        grow(std::max<std::size_t>(16, d->table.size() * 2));
    const quint32 number = numberOf(genre) + 1;
    Slot& s = d->table[probe(path, hash)];
    if (s.genre != 0) {
        s.genre = number;
        return;
    }
    s.hash = hash;
    s.genre = number;
    if (fitsLatin1(path)) {
        const qsizetype at = d->narrow.size();
        s.at = quint32(at);
        s.size = quint32(path.size());
        d->narrow.resize(at + path.size());
        std::transform(path.begin(), path.end(), d->narrow.data() + at,
                       [](QChar c) { return char(c.unicode()); });
    } else {
        s.at = quint32(d->wide.size());
        s.size = quint32(path.size()) | kWide;
        d->wide += path;
    }
    ++d->count;
}

bool GenreMap::remove(const QString& path) {
    if (d->count == 0)
        return false;
    const quint32 hash = hashOf(path);
    std::size_t hole = probe(path, hash);
    if (d->table[hole].genre == 0)
        return false;
    // The path's characters stay in their block until the map is rebuilt;
    // removing is rare (a save leaving out unfinished probes, on a copy).
    std::vector<Slot>& cells = d->table;
    const std::size_t mask = cells.size() - 1;
    cells[hole] = Slot{};
    // Entries after the hole that would no longer be reached move back
    // into it, so no probe stops short of its entry.
    for (std::size_t j = (hole + 1) & mask; cells[j].genre != 0; j = (j + 1) & mask) {
        const std::size_t home = cells[j].hash & mask;
        const bool reachable = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
        if (reachable)
            continue;
        cells[hole] = cells[j];
        cells[j] = Slot{};
        hole = j;
    }
    --d->count;
    return true;
}

void GenreMap::clear() {
    d = new Data;
}

QHash<QString, QString> GenreMap::toHash() const {
    QHash<QString, QString> out;
    out.reserve(d->count);
    forEach([&](const QString& path, const QString& genre) { out.insert(path, genre); });
    return out;
}

bool operator==(const GenreMap& a, const GenreMap& b) {
    if (a.size() != b.size())
        return false;
    bool same = true;
    a.forEach([&](const QString& path, const QString& genre) {
        same = same && b.contains(path) && b.value(path) == genre;
    });
    return same;
}

// ---- "genres.json": an object of path -> genre ---------------------------------

bool readJson(JsonElement e, GenreMap& out) {
    simdjson::dom::object obj;
    if (e.get_object().get(obj) != simdjson::SUCCESS)
        return false;
    qsizetype units = 0;
    for (const simdjson::dom::key_value_pair kv : obj)
        units += qsizetype(kv.key.size());
    out.clear();
    out.reserve(qsizetype(obj.size()), units);
    // Neighbouring entries mostly share their genre: its text is decoded
    // once for the run of them.
    std::string_view lastText;
    QString genre;
    bool any = false;
    for (const simdjson::dom::key_value_pair kv : obj) {
        std::string_view text;
        if (kv.value.get_string().get(text) != simdjson::SUCCESS)
            return false;
        if (!any || text != lastText) {
            // Cut as a genre read now is: one stored whole by an older
            // reader would otherwise stay whole.
            genre = boundedTag(QString::fromUtf8(text.data(), qsizetype(text.size())));
            lastText = text;
            any = true;
        }
        out.insert(QString::fromUtf8(kv.key.data(), qsizetype(kv.key.size())), genre);
    }
    return true;
}

void writeJson(JsonWriter& w, const GenreMap& v) {
    // Room for the whole text at once: a buffer doubled a dozen times on the
    // way to ten megabytes copies most of them, each copy under the lock of
    // the heap it lives in, which the window shares (app/MainThreadRelease.h).
    // At most 3 bytes of UTF-8 a character, 6 for the quotes, colon and comma
    // of an entry, and the room a writer keeps for escaping one long path.
    constexpr qsizetype kEscapeRoom = 6 * 4096;
    w.reserve(3 * v.textUnits() + 6 * v.size() + kEscapeRoom);
    w.beginObject();
    v.forEach([&](const QString& path, const QString& genre) {
        w.key(path);
        w.string(genre);
    });
    w.endObject();
}

template struct JsonCodec<GenreMap>;

} // namespace ql
