// Guards against: genres lost, mixed up or changed on their way between
// "genres.json", the genre scan and the grids, now that paths are kept end
// to end and genres by number.
#include "library/GenreMap.h"

#include "app/JsonCodec.h"
#include "library/TagBound.h"

#include "TestUnits.h"

#include <QRandomGenerator>
#include <QTest>

using namespace ql;

namespace {
using Plain = QHash<QString, QString>;
} // namespace

class GenreMapTest : public QObject {
    Q_OBJECT
private slots:
    // What a plain hash reads from a file the map reads too, and what the
    // map writes reads back as the same hash: the file stays as it was.
    void storedFileReadsAndWritesTheSame_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("plain paths, one genre")
            << QByteArray(
                   "{\"/m/A/01.flac\":\"Pop\",\"/m/A/02.flac\":\"Pop\",\"/m/B/03.flac\":\"Rock\"}")
            << true;
        QTest::newRow("Latin-1 and Hangul paths, a genre of its own")
            << QByteArray("{\"/m/Café/01.flac\":\"Jazz\",\"/m/사랑/02.flac\":\"가요\",\"/m/x/"
                          "😀.flac\":\"\"}")
            << true;
        QTest::newRow("a path given twice: the last wins")
            << QByteArray("{\"/m/a.flac\":\"Pop\",\"/m/a.flac\":\"Rock\"}") << true;
        QTest::newRow("an empty path and an escaped one")
            << QByteArray("{\"\":\"Pop\",\"/m/\\\"q\\\"\\\\n.flac\":\"Folk\"}") << true;
        QTest::newRow("empty file object") << QByteArray("{}") << true;
        QTest::newRow("a genre that is not text fails the file")
            << QByteArray("{\"/m/a.flac\":\"Pop\",\"/m/b.flac\":3}") << false;
        QTest::newRow("null genre fails the file") << QByteArray("{\"/m/a.flac\":null}") << false;
        QTest::newRow("a list is no store") << QByteArray("[\"/m/a.flac\"]") << false;
    }
    void storedFileReadsAndWritesTheSame() {
        QFETCH(QByteArray, file);
        QFETCH(bool, decodes);
        const std::optional<Plain> plain = JsonCodec<Plain>::decode(file);
        const std::optional<GenreMap> map = JsonCodec<GenreMap>::decode(file);
        QCOMPARE(plain.has_value(), decodes);
        QCOMPARE(map.has_value(), decodes);
        if (!decodes)
            return;
        QCOMPARE(map->toHash(), *plain);
        QCOMPARE(map->size(), plain->size());
        for (auto it = plain->cbegin(); it != plain->cend(); ++it)
            QCOMPARE(map->value(it.key(), "absent"), it.value());
        const std::optional<QByteArray> written = JsonCodec<GenreMap>::encode(*map);
        QVERIFY(written);
        QCOMPARE(JsonCodec<Plain>::decode(*written), plain);
    }

    // A genre stored whole by an older reader is cut as a genre read now.
    void storedGenreIsBounded_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("kept");
        QTest::newRow("at the bound: whole") << int(kTagLimit) << int(kTagLimit);
        QTest::newRow("megabytes: cut") << (4 << 20) << int(kTagLimit);
    }
    void storedGenreIsBounded() {
        QFETCH(int, stored);
        QFETCH(int, kept);
        const QByteArray genre(stored, 'o');
        const std::optional<GenreMap> map = JsonCodec<GenreMap>::decode(
            "{\"/m/a.flac\":\"" + genre + "\",\"/m/b.flac\":\"" + genre + "\"}");
        QVERIFY(map);
        for (const char* path : {"/m/a.flac", "/m/b.flac"}) {
            const QString value = map->value(path);
            QCOMPARE(value.size(), kept);
            QCOMPARE(value.endsWith(u'…'), stored > kept);
        }
    }

    // Random inserts, replacements and removals, checked against a plain
    // hash after every step: growing the table and moving entries back after
    // a removal must never lose or mix up an entry.
    void followsAPlainHash_data() {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<QStringList>("folders");
        QTest::newRow("Latin-1 paths") << 1u << QStringList{"/m/A", "/m/Café", "/music/b"};
        QTest::newRow("paths beyond Latin-1") << 2u << QStringList{"/m/사랑", "/m/😀", "/m/Ω"};
        QTest::newRow("both kinds") << 3u << QStringList{"/m/A", "/m/사랑", "/m/é", ""};
    }
    void followsAPlainHash() {
        QFETCH(quint32, seed);
        QFETCH(QStringList, folders);
        QRandomGenerator rng(seed);
        const QStringList genres{"Pop", "Rock", "", "가요", "Jazz"};
        const auto path = [&] {
            return folders[int(rng.bounded(folders.size()))] +
                   QString("/%1.flac").arg(rng.bounded(600));
        };
        Plain plain;
        GenreMap map;
        for (int step = 0; step < 4000; ++step) {
            const QString p = path();
            if (rng.bounded(4) == 0) {
                QCOMPARE(map.remove(p), plain.remove(p));
            } else {
                const QString g = genres[int(rng.bounded(genres.size()))];
                map.insert(p, g);
                plain.insert(p, g);
            }
            const QString probe = path();
            QCOMPARE(map.contains(probe), plain.contains(probe));
            QCOMPARE(map.value(probe, "absent"), plain.value(probe, "absent"));
            QCOMPARE(map.size(), plain.size());
        }
        QCOMPARE(map.toHash(), plain);
        // What a writer sizes its buffer by: removed paths left in the blocks
        // do not count.
        qsizetype units = 0;
        for (auto it = plain.cbegin(); it != plain.cend(); ++it)
            units += it.key().size() + it.value().size();
        QCOMPARE(map.textUnits(), units);
    }

    // A snapshot handed to the save writer keeps what it held while the
    // scan goes on changing the map.
    void copiesKeepTheirEntries() {
        GenreMap map{{"/m/a.flac", "Pop"}, {"/m/b.flac", "Rock"}};
        const GenreMap snapshot = map;
        map.insert("/m/a.flac", "Jazz");
        map.insert("/m/c.flac", "Folk");
        map.remove("/m/b.flac");
        QCOMPARE(snapshot.toHash(), (Plain{{"/m/a.flac", "Pop"}, {"/m/b.flac", "Rock"}}));
        QCOMPARE(map.toHash(), (Plain{{"/m/a.flac", "Jazz"}, {"/m/c.flac", "Folk"}}));
        QVERIFY(!(map == snapshot));
    }
};

QL_TEST_UNIT(GenreMapTest)
#include "GenreMapTest.moc"
