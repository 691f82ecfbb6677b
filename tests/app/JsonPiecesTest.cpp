// Guards against: a large reply or cache read in batches giving anything but what one strict parse
// gives.
#include "app/JsonPieces.h"
#include "app/JsonCodec.h"
#include "app/Records.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <cmath>

using namespace ql;

namespace {
QByteArray track(int id, const QByteArray& title = "T") {
    return "{\"id\":" + QByteArray::number(id) + ",\"path\":\"/m/" + QByteArray::number(id) +
           ".flac\",\"title\":\"" + title +
           "\",\"artist\":\"A\",\"album\":\"B\",\"duration\":1.5,\"art\":\"\"}";
}
const QByteArray kTwo = track(1) + "," + track(2);
} // namespace

class JsonPiecesTest : public QObject {
    Q_OBJECT
private slots:
    // Batches of one byte: every track is parsed on its own, and each
    // result must be the whole document's strict result.
    void readInBatches_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("list");  // a cache list, else a reply
        QTest::addColumn<int>("tracks"); // -1: does not decode
        QTest::newRow("reply of three")
            << "{\"tracks\":[" + kTwo + "," + track(3) + "]}" << false << 3;
        QTest::newRow("texts with brackets, commas, escaped quotes")
            << "{\"tracks\":[" + track(1, "a],[\\\"}{,\\\\") + "," + track(2, "\\\"") + "]}"
            << false << 2;
        QTest::newRow("white space everywhere") << " {\n \"tracks\" : [ " + track(1) + " ,\r\n " +
                                                       track(2) + " ] , \"error\" : \"x\" } "
                                                << false << 2;
        QTest::newRow("tracks after the other keys")
            << "{\"scanning\":true,\"x\":[1,{\"tracks\":[]}],\"tracks\":[" + kTwo + "]}" << false
            << 2;
        QTest::newRow("empty list")
            << QByteArray("{\"tracks\":[ ],\"scanning\":false}") << false << 0;
        QTest::newRow("key given twice: the last wins")
            << "{\"tracks\":[" + track(1) + "],\"tracks\":[" + kTwo + "]}" << false << 2;
        QTest::newRow("key spelt with an escape")
            << "{\"tr\\u0061cks\":[" + kTwo + "]}" << false << 2;
        QTest::newRow("trailing comma") << "{\"tracks\":[" + kTwo + ",]}" << false << -1;
        QTest::newRow("garbage between tracks")
            << "{\"tracks\":[" + track(1) + " x " + track(2) + "]}" << false << -1;
        QTest::newRow("bad track in a later batch")
            << "{\"tracks\":[" + kTwo + ",{\"id\":3}]}" << false << -1;
        QTest::newRow("bad value outside the list")
            << "{\"tracks\":[" + kTwo + "],\"scanning\":tru}" << false << -1;
        QTest::newRow("invalid UTF-8 in a track")
            << "{\"tracks\":[" + track(1, "\xff") + "," + track(2) + "]}" << false << -1;
        QTest::newRow("unclosed list") << "{\"tracks\":[" + kTwo + "}" << false << -1;
        QTest::newRow("bytes after the reply") << "{\"tracks\":[" + kTwo + "]} x" << false << -1;
        QTest::newRow("cache list") << " [" + kTwo + "]\n" << true << 2;
        QTest::newRow("cache list with a bad track") << "[" + kTwo + ",{\"id\":3}]" << true << -1;
        QTest::newRow("cache list, bytes after") << "[" + kTwo + "] 1" << true << -1;
        QTest::newRow("cache that is an object") << "{\"tracks\":[" + kTwo + "]}" << true << -1;
    }
    void readInBatches() {
        QFETCH(QByteArray, json);
        QFETCH(bool, list);
        QFETCH(int, tracks);
        int got = -1;
        if (list) {
            const auto pieces = jsonpieces::readTrackList(json, 1);
            QCOMPARE(pieces, JsonCodec<std::vector<Track>>::decode(json));
            got = pieces ? int(pieces->size()) : -1;
        } else {
            const auto pieces = jsonpieces::readLibrary(json, 1);
            QCOMPARE(pieces, JsonCodec<Library>::decode(json));
            got = pieces ? int(pieces->tracks.value_or(std::vector<Track>{}).size()) : -1;
        }
        QCOMPARE(got, tracks);
    }

    // The catalog cache written three tracks at a time: the pieces joined
    // are the text written at once, and a duration that cannot be written
    // abandons the write.
    void writtenInPieces_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("badRow"); // -1: every duration is finite
        QTest::addColumn<int>("pieces"); // handed out before the end or the abandon
        QTest::newRow("no tracks") << 0 << -1 << 1;
        QTest::newRow("one track") << 1 << -1 << 1;
        QTest::newRow("one batch exactly") << 3 << -1 << 1;
        QTest::newRow("a batch and one") << 4 << -1 << 2;
        QTest::newRow("three batches") << 9 << -1 << 3;
        QTest::newRow("not a number in the last batch") << 7 << 6 << 2;
    }
    void writtenInPieces() {
        QFETCH(int, count);
        QFETCH(int, badRow);
        QFETCH(int, pieces);
        std::vector<Track> rows;
        for (int i = 0; i < count; ++i)
            rows.push_back(Track{i + 1, "/음악/\"" + QString::number(i), "제목", "", "B", 1.5, ""});
        if (badRow >= 0)
            rows[std::size_t(badRow)].duration = std::nan("");
        const FilePieces next = jsonpieces::writeTrackList(rows, 3);
        QByteArray joined, piece;
        int given = 0;
        bool ok = true;
        for (;;) {
            piece.clear();
            ok = next(piece);
            if (!ok || piece.isEmpty())
                break;
            joined += piece;
            ++given;
        }
        QCOMPARE(given, pieces);
        QCOMPARE(ok, badRow < 0);
        if (ok)
            QCOMPARE(joined, *JsonCodec<std::vector<Track>>::encode(rows));
    }

    // Texts a reply repeats are held once: shared with the same row of the
    // catalog held (`like`) or, for artist, album and cover, with the track
    // before. The values read stay exactly the strict decode's.
    void sharedTexts_data() {
        QTest::addColumn<QStringList>("likeTitles"); // the rows held: a title each
        QTest::addColumn<int>("fromLike");  // texts of the reply held by the rows of `like`
        QTest::addColumn<int>("neighbour"); // artist and album texts of the track before
        QTest::addColumn<bool>("same");     // the reply is `like` itself, nothing kept
        // Each reply track: its path and title, and artist "A" and album "B"
        // (repeated by the second and third track).
        QTest::newRow("nothing held: neighbours only") << QStringList{} << 0 << 4 << false;
        QTest::newRow("the same catalog held") << QStringList{"T", "T", "T"} << 3 * 5 << 0 << true;
        QTest::newRow("one title changed")
            << QStringList{"T", "new", "T"} << 3 * 5 - 1 << 0 << false;
        QTest::newRow("the last title changed")
            << QStringList{"T", "T", "new"} << 3 * 5 - 1 << 0 << false;
        QTest::newRow("fewer rows held") << QStringList{"T"} << 5 << 4 << false;
        QTest::newRow("more rows held") << QStringList{"T", "T", "T", "T"} << 3 * 5 << 0 << false;
    }
    void sharedTexts() {
        QFETCH(QStringList, likeTitles);
        QFETCH(int, fromLike);
        QFETCH(int, neighbour);
        QFETCH(bool, same);
        const QByteArray json = "{\"tracks\":[" + kTwo + "," + track(3) + "]}";
        std::vector<Track> like;
        for (int i = 0; i < likeTitles.size(); ++i)
            like.push_back(JsonCodec<std::vector<Track>>::decode("[" + track(i + 1) + "]")->at(0));
        for (int i = 0; i < likeTitles.size(); ++i)
            like[std::size_t(i)].title = likeTitles[i];
        bool sameGot = !same;
        const auto got = jsonpieces::readLibrary(json, 1, &like, &sameGot);
        const auto strict = JsonCodec<Library>::decode(json);
        QVERIFY(got && got->tracks);
        QCOMPARE(sameGot, same);
        QVERIFY(got->tracks->empty() || !same);
        const std::vector<Track>& rows = same ? like : *got->tracks;
        QCOMPARE(rows, *strict->tracks);
        const auto shares = [](const QString& a, const QString& b) {
            return a.constData() == b.constData();
        };
        int held = 0, beside = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Track& t = rows[i];
            if (i < like.size()) {
                const Track& l = like[i];
                held += shares(t.path, l.path) + shares(t.title, l.title) +
                        shares(t.artist, l.artist) + shares(t.album, l.album) +
                        shares(t.art, l.art);
            }
            if (i > 0 && i >= like.size())
                beside += shares(t.artist, rows[i - 1].artist) + shares(t.album, rows[i - 1].album);
        }
        QCOMPARE(held, fromLike);
        QCOMPARE(beside, neighbour);
    }
};

QL_TEST_UNIT(JsonPiecesTest)
#include "JsonPiecesTest.moc"
