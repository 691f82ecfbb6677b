#include "library/CatalogChange.h"

#include "TestHome.h"

using namespace ql;

Q_DECLARE_METATYPE(std::vector<ql::Track>)

namespace {

Track track(qint64 id, const QString& title, const QString& artist = "가수",
            const QString& album = "앨범", const QString& art = "", double duration = 200) {
    return Track{id, "/음악/" + QString::number(id) + ".flac", title, artist, album, duration, art};
}

const std::vector<Track> kTwo{track(1, "하나"), track(2, "둘")};

} // namespace

class CatalogChangeTest : public QObject {
    Q_OBJECT
private slots:
    void compare_data() {
        QTest::addColumn<std::vector<Track>>("before");
        QTest::addColumn<std::vector<Track>>("after");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<bool>("identical");
        QTest::newRow("the same catalog") << kTwo << kTwo << false << true;
        QTest::newRow("two empty catalogs")
            << std::vector<Track>{} << std::vector<Track>{} << false << true;
        QTest::newRow("only a duration differs")
            << kTwo << std::vector<Track>{track(1, "하나", "가수", "앨범", "", 201), kTwo[1]}
            << false << false;
        QTest::newRow("two tracks swap places")
            << kTwo << std::vector<Track>{kTwo[1], kTwo[0]} << true << false;
        QTest::newRow("a track added")
            << kTwo << std::vector<Track>{kTwo[0], kTwo[1], track(3, "셋")} << true << false;
        QTest::newRow("the last track removed")
            << kTwo << std::vector<Track>{kTwo[0]} << true << false;
        QTest::newRow("a cover address appears")
            << kTwo
            << std::vector<Track>{track(1, "하나", "가수", "앨범", "https://a/1.jpg"), kTwo[1]}
            << true << false;
        QTest::newRow("an album renamed")
            << kTwo << std::vector<Track>{track(1, "하나", "가수", "새 앨범"), kTwo[1]} << true
            << false;
        // Joined without a separator both read "1/a.flacabcalbum".
        QTest::newRow("text moved from the title to the artist")
            << std::vector<Track>{Track{1, "/a.flac", "ab", "c", "album", 1, ""}}
            << std::vector<Track>{Track{1, "/a.flac", "a", "bc", "album", 1, ""}} << true << false;
        QTest::newRow("a digit moved from the id to the path")
            << std::vector<Track>{Track{12, "3/a.flac", "t", "", "", 1, ""}}
            << std::vector<Track>{Track{1, "23/a.flac", "t", "", "", 1, ""}} << true << false;
    }
    void compare() {
        QFETCH(std::vector<Track>, before);
        QFETCH(std::vector<Track>, after);
        QFETCH(bool, changed);
        QFETCH(bool, identical);
        const CatalogComparison c = compareCatalogs(before, after);
        QCOMPARE(c.changed, changed);
        QCOMPARE(c.identical, identical);
        QCOMPARE(compareCatalogs(after, before).changed, changed); // either way round
    }

    void current_data() {
        QTest::addColumn<std::vector<Track>>("rows");
        QTest::addColumn<QString>("shown"); // the refreshed entry's title, "" for none
        const Track current = track(1, "하나");
        QTest::newRow("unchanged: nothing") << kTwo << "";
        QTest::newRow("title renamed")
            << std::vector<Track>{track(1, "하나 (리마스터)"), kTwo[1]} << "하나 (리마스터)";
        QTest::newRow("cover address set")
            << std::vector<Track>{track(1, "하나", "가수", "앨범", "https://c/1.jpg")} << "하나";
        QTest::newRow("artist alone renamed: nothing")
            << std::vector<Track>{track(1, "하나", "다른 가수")} << "";
        QTest::newRow("album, path and duration changed: nothing")
            << std::vector<Track>{Track{1, "/new/1.flac", "하나", "가수", "다른 앨범", 9, ""}}
            << "";
        QTest::newRow("id gone: nothing") << std::vector<Track>{track(2, "하나 (리마스터)")} << "";
        QTest::newRow("the first entry with the id decides")
            << std::vector<Track>{track(1, "하나"), track(1, "다른 제목")} << "";
    }
    void current() {
        QFETCH(std::vector<Track>, rows);
        QFETCH(QString, shown);
        const Track* entry = refreshedCurrent(rows, track(1, "하나"));
        QCOMPARE(entry ? entry->title : QString(), shown);
    }
};

QL_TEST_MAIN_CORE(CatalogChangeTest)
#include "CatalogChangeTest.moc"
