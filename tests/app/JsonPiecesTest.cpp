// Guards against: a large reply or cache read in batches giving anything but what one strict parse
// gives.
#include "app/JsonPieces.h"
#include "app/JsonCodec.h"
#include "app/Records.h"

#include "TestHome.h"
#include "TestUnits.h"

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
};

QL_TEST_UNIT(JsonPiecesTest)
#include "JsonPiecesTest.moc"
