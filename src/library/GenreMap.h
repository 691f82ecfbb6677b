// The genre of each file by its path: what "genres.json" holds and what the
// genre scan adds to it.
//
// A library keeps a genre for each of up to a hundred thousand files, but
// has only a handful of distinct genres, and its paths are long. So each
// distinct genre is kept once and an entry holds its number; the paths lie
// end to end in one block, a byte a character for every path Latin-1 can
// spell (nearly all), else UTF-16 in a second block; and an open-addressed
// table of 16-byte slots finds them. A hash of strings (a header, a heap
// block and a table node per path and per genre) costs about three times as
// much for the same entries.
//
// Offsets into the blocks are 32-bit: the paths of all entries together stay
// under 4 GiB of characters per block (a library of millions of files holds
// a few hundred MB).
//
// Copies share their data until one of them changes, like Qt's containers,
// so handing a snapshot to the save writer or a pool thread costs nothing.
// Const use from several threads at once is safe.
//
// Pure unit.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QSharedData>
#include <QString>
#include <QStringView>

#include <initializer_list>
#include <utility>
#include <vector>

namespace ql {

class GenreMap {
public:
    GenreMap();
    GenreMap(std::initializer_list<std::pair<QString, QString>> entries);
    GenreMap(const GenreMap&);
    GenreMap(GenreMap&&) noexcept;
    GenreMap& operator=(const GenreMap&);
    GenreMap& operator=(GenreMap&&) noexcept;
    ~GenreMap();

    qsizetype size() const;
    bool contains(const QString& path) const;
    // The genre of `path` ("" for a file probed without one), or
    // `otherwise` when the path has no entry.
    QString value(const QString& path, const QString& otherwise = QString()) const;

    // Sets or replaces the genre of `path`.
    void insert(const QString& path, const QString& genre);
    // Removes the entry of `path`; whether there was one.
    bool remove(const QString& path);
    void clear();

    // Calls f(path, genre) for every entry, in no particular order.
    template <class F> void forEach(F&& f) const {
        for (const Slot& s : d->table) {
            if (s.genre != 0)
                f(keyOf(s), d->names[s.genre - 1]);
        }
    }
    QHash<QString, QString> toHash() const;

    // The same entries, whatever the order they were made in.
    friend bool operator==(const GenreMap& a, const GenreMap& b);

    // The characters (UTF-16 units) of every entry's path and genre
    // together: what a writer of the whole map has to write.
    qsizetype textUnits() const;
    // Reserves room for `entries` entries whose paths hold `units` characters
    // in all (a hint; a loader knows both before it inserts).
    void reserve(qsizetype entries, qsizetype units);

private:
    // genre: 0 for an empty slot, else the genre's number + 1. size: the
    // path's length, with kWide set when it lies in the UTF-16 block.
    struct Slot {
        quint32 hash = 0;
        quint32 at = 0;
        quint32 size = 0;
        quint32 genre = 0;
    };
    static constexpr quint32 kWide = 0x80000000u;
    struct Data : QSharedData {
        std::vector<Slot> table; // a power of two long, or empty
        qsizetype count = 0;
        QByteArray narrow; // Latin-1 paths, end to end
        QString wide;      // the others
        std::vector<QString> names;
        QHash<QString, quint32> numbers; // number of each name
        quint32 last = 0;                // the number given last
    };

    QString keyOf(const Slot& s) const;
    bool sameKey(const Slot& s, QStringView path) const;
    // The slot holding `path`, or the empty slot where it would go.
    std::size_t probe(QStringView path, quint32 hash) const;
    quint32 numberOf(const QString& genre);
    void grow(std::size_t cells);

    QSharedDataPointer<Data> d;
};

} // namespace ql
