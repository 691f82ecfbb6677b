// Guards against: records decoded from bad JSON, or encoded so they do not read back.
#include "app/JsonCodec.h"
#include "app/Records.h"
#include "effects/FXState.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>
#include <limits>

using namespace ql;

namespace {
const QByteArray kTrack =
    "{\"id\":7,\"path\":\"/m/"
    "a.flac\",\"title\":\"T\",\"artist\":\"A\",\"album\":\"B\",\"duration\":12.5,\"art\":\"\"}";

// kTrack with one member replaced (or removed when `value` is empty).
QByteArray trackWith(const char* key, const QByteArray& value) {
    QJsonObject o = QJsonDocument::fromJson(kTrack).object();
    o.remove(QLatin1String(key));
    QByteArray json = QJsonDocument(o).toJson(QJsonDocument::Compact);
    if (!value.isEmpty())
        json.insert(1, "\"" + QByteArray(key) + "\":" + value + ",");
    return json;
}

template <class T> T roundTrip(const T& value) {
    const auto bytes = JsonCodec<T>::encode(value);
    if (!bytes)
        return T{};
    return JsonCodec<T>::decode(*bytes).value_or(T{});
}
} // namespace

class RecordsJsonTest : public QObject {
    Q_OBJECT
private slots:
    void trackDecode_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("complete") << kTrack << true;
        QTest::newRow("without art is rejected") << trackWith("art", {}) << false;
        QTest::newRow("art empty is accepted") << trackWith("art", "\"\"") << true;
        QTest::newRow("art null is rejected") << trackWith("art", "null") << false;
        QTest::newRow("id with a fraction") << trackWith("id", "1.5") << false;
        QTest::newRow("id whole but written 3.0") << trackWith("id", "3.0") << true;
        QTest::newRow("id as text") << trackWith("id", "\"7\"") << false;
        QTest::newRow("id above 64 bits") << trackWith("id", "9223372036854775808") << false;
        QTest::newRow("duration whole number") << trackWith("duration", "200") << true;
        QTest::newRow("title as number") << trackWith("title", "5") << false;
        QTest::newRow("unknown key ignored") << trackWith("rating", "[1,2]") << true;
        QTest::newRow("array instead of object") << QByteArray("[" + kTrack + "]") << false;
        QTest::newRow("a second document after it") << QByteArray(kTrack + " {}") << false;
        QTest::newRow("empty input") << QByteArray() << false;
        QTest::newRow("invalid UTF-8 in a text")
            << trackWith("title", QByteArray("\"\xC3\x28\"")) << false;
    }
    void trackDecode() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QCOMPARE(JsonCodec<Track>::decode(json).has_value(), decodes);
    }

    void trackDecodeReadsEveryField() {
        const auto t = JsonCodec<Track>::decode(trackWith("id", "3.0"));
        QVERIFY(t);
        QCOMPARE(*t, (Track{3, "/m/a.flac", "T", "A", "B", 12.5, ""}));
        const auto escaped =
            JsonCodec<Track>::decode(trackWith("title", "\"a\\\"b\\\\c\\n\\u00e9\\/\""));
        QVERIFY(escaped);
        QCOMPARE(escaped->title, QString("a\"b\\c\né/"));
    }

    void library_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<int>("tracks");    // -1: no tracks field
        QTest::addColumn<int>("scanning");  // -1 none, 0 false, 1 true
        QTest::addColumn<QString>("error"); // "-" none
        QTest::newRow("scanning only: no tracks, no error")
            << QByteArray("{\"scanning\": true}") << true << -1 << 1 << "-";
        QTest::newRow("tracks null: no tracks")
            << QByteArray("{\"tracks\": null}") << true << -1 << -1 << "-";
        QTest::newRow("one incomplete track fails the whole reply")
            << QByteArray("{\"tracks\": [{\"id\": 1}]}") << false << 0 << 0 << "";
        QTest::newRow("a bad track after a good one fails it too")
            << QByteArray("{\"tracks\": [" + kTrack + ", {\"id\": 2}]}") << false << 0 << 0 << "";
        QTest::newRow("an empty list is a list")
            << QByteArray("{\"tracks\": []}") << true << 0 << -1 << "-";
        QTest::newRow("error and scanning false")
            << QByteArray("{\"error\": \"못 찾음\", \"scanning\": false}") << true << -1 << 0
            << "못 찾음";
        QTest::newRow("every key null")
            << QByteArray("{\"tracks\":null,\"scanning\":null,\"error\":null}") << true << -1 << -1
            << "-";
        QTest::newRow("scanning as a number")
            << QByteArray("{\"scanning\": 1}") << false << 0 << 0 << "";
        QTest::newRow("tracks as an object")
            << QByteArray("{\"tracks\": {}}") << false << 0 << 0 << "";
        QTest::newRow("unknown keys ignored")
            << QByteArray("{\"progress\": 0.5, \"x\": null}") << true << -1 << -1 << "-";
        QTest::newRow("top level array") << QByteArray("[]") << false << 0 << 0 << "";
        QTest::newRow("not JSON") << QByteArray("scanning") << false << 0 << 0 << "";
    }
    void library() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(int, tracks);
        QFETCH(int, scanning);
        QFETCH(QString, error);
        const auto lib = JsonCodec<Library>::decode(json);
        QCOMPARE(lib.has_value(), decodes);
        if (!lib)
            return;
        QCOMPARE(lib->tracks ? int(lib->tracks->size()) : -1, tracks);
        QCOMPARE(lib->scanning ? int(*lib->scanning) : -1, scanning);
        QCOMPARE(lib->error.value_or("-"), error);
    }

    void openReply_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<bool>("opened");
        QTest::newRow("opened track") << QByteArray("{\"opened\": " + kTrack + "}") << true << true;
        QTest::newRow("incomplete track fails")
            << QByteArray("{\"opened\": {\"id\": 1}, \"error\": \"x\"}") << false << false;
        QTest::newRow("error alone")
            << QByteArray("{\"error\": \"지원하지 않는 형식\"}") << true << false;
        QTest::newRow("opened null") << QByteArray("{\"opened\": null}") << true << false;
        QTest::newRow("opened as a list") << QByteArray("{\"opened\": []}") << false << false;
    }
    void openReply() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(bool, opened);
        const auto r = JsonCodec<OpenReply>::decode(json);
        QCOMPARE(r.has_value(), decodes);
        if (r)
            QCOMPARE(r->opened.has_value(), opened);
    }

    void playStat_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("plays alone is not a record") << QByteArray("{\"plays\": 3}") << false;
        QTest::newRow("both keys") << QByteArray("{\"plays\": 3, \"last\": 0}") << true;
        QTest::newRow("plays with a fraction")
            << QByteArray("{\"plays\": 3.5, \"last\": 0}") << false;
        QTest::newRow("last null") << QByteArray("{\"plays\": 3, \"last\": null}") << false;
        QTest::newRow("last with a fraction")
            << QByteArray("{\"plays\":1,\"last\":1712345678.25}") << true;
    }
    void playStat() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QCOMPARE(JsonCodec<PlayStat>::decode(json).has_value(), decodes);
    }

    void aStoreIsADictionary() {
        QVERIFY((JsonCodec<QHash<QString, PlayStat>>::decode("{}")));
        QVERIFY(!(JsonCodec<QHash<QString, PlayStat>>::decode("[]")));
    }

    void sonicNeedsEverySixKeys() {
        QVERIFY(JsonCodec<Sonic>::decode(
            "{\"bpm\":120,\"db\":-14.5,\"dyn\":3,\"zcr\":0.1,\"year\":2001.0,\"ok\":true}"));
        QVERIFY(!JsonCodec<Sonic>::decode(
            "{\"bpm\":120,\"db\":-14.5,\"dyn\":3,\"year\":2001,\"ok\":true}"));
        QVERIFY(!JsonCodec<Sonic>::decode(
            "{\"bpm\":120,\"db\":-14.5,\"dyn\":3,\"zcr\":0.1,\"year\":2001,\"ok\":1}"));
        QVERIFY(!(JsonCodec<QHash<QString, Sonic>>::decode(
            "{\"/a\":{\"bpm\":1,\"db\":1,\"dyn\":1,\"zcr\":1,\"year\":1,\"ok\":true},\"/"
            "b\":{\"bpm\":1}}")));
    }

    void roundTripsKeepEveryField() {
        const Track t{
            -9007199254740993,  "/m/\"q\"\\back/슬래시/🎵.flac", "tab\there\x01", "가수", "",
            1234.5678901234567, "https://x.example/a.jpg"};
        QCOMPARE(roundTrip(t), t);
        const PlayStat s{123456789012, 1712345678.123456};
        QCOMPARE(roundTrip(s), s);
        const PlayStat tiny{0, std::numeric_limits<double>::denorm_min()};
        QCOMPARE(roundTrip(tiny), tiny);
        for (const double huge : {0x1p64, -1e19, 9.3e18}) // written as digits, read as too big
            QCOMPARE(roundTrip(PlayStat{1, huge}), (PlayStat{1, huge}));
        const Sonic sonic{128.25, -100, 6.5, 0.0312, 1999, true};
        QCOMPARE(roundTrip(sonic), sonic);

        QHash<QString, PlayStat> stats{{"/a.flac", {1, 2.5}}, {"/b/c.mp3", {40, 1e9}}};
        QCOMPARE(roundTrip(stats), stats);
        QHash<QString, double> loud{{"/a", -14.25}, {"/b", -0.0}};
        QCOMPARE(roundTrip(loud), loud);
        QHash<QString, QString> qual{{"/a", "★"}, {"/b", "확인 불가"}};
        QCOMPARE(roundTrip(qual), qual);
        QHash<QString, Sonic> sonics{{"/a", sonic}, {"/b", Sonic{}}};
        QCOMPARE(roundTrip(sonics), sonics);
        std::vector<Track> catalog{t, Track{1, "/x", "", "", "", 0, ""}};
        QCOMPARE(roundTrip(catalog), catalog);
    }

    // Text that is not valid UTF-16 still makes a readable store: a lone
    // surrogate is written as U+FFFD instead of failing the whole file.
    void loneSurrogateBecomesAReplacementCharacter() {
        const QString broken = QString("a") + QChar(0xD800) + "b" + QChar(0xDC00);
        const auto bytes = JsonCodec<QHash<QString, QString>>::encode({{broken, "x"}});
        QVERIFY(bytes);
        const auto back = JsonCodec<QHash<QString, QString>>::decode(*bytes);
        QVERIFY(back);
        QCOMPARE(back->keys(), QStringList{QString("a\uFFFDb\uFFFD")});
    }

    void aSetIsStoredAsAListOfItsMembers() {
        const QSet<QString> favorites{"/a", "/b", "/c/d"};
        const auto bytes = JsonCodec<QSet<QString>>::encode(favorites);
        QVERIFY(bytes);
        const QJsonArray arr = QJsonDocument::fromJson(*bytes).array();
        QCOMPARE(arr.size(), 3);
        QSet<QString> members;
        for (const auto& v : arr)
            members << v.toString();
        QCOMPARE(members, favorites);
        // Duplicates in a file collapse into one member.
        QCOMPARE(
            JsonCodec<QSet<QString>>::decode("[\"/a\",\"/a\",\"/b\"]").value_or(QSet<QString>{}),
            (QSet<QString>{"/a", "/b"}));
        QVERIFY(!JsonCodec<QSet<QString>>::decode("[\"/a\", 3]"));
    }

    void nonFiniteNumbersEncodeNothing_data() {
        QTest::addColumn<double>("value");
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("+inf") << std::numeric_limits<double>::infinity();
        QTest::newRow("-inf") << -std::numeric_limits<double>::infinity();
    }
    void nonFiniteNumbersEncodeNothing() {
        QFETCH(double, value);
        QVERIFY(!JsonCodec<Track>::encode(Track{1, "/a", "", "", "", value, ""}));
        QVERIFY(!JsonCodec<PlayStat>::encode(PlayStat{1, value}));
        QVERIFY(!(JsonCodec<QHash<QString, double>>::encode({{"/a", -14.0}, {"/b", value}})));
        QVERIFY(!JsonCodec<Sonic>::encode(Sonic{value, 0, 0, 0, 0, true}));
    }

    void fxStateDefaultForm() {
        const auto bytes = JsonCodec<FXState>::encode(FXState{});
        QVERIFY(bytes);
        const QJsonObject o = QJsonDocument::fromJson(*bytes).object();
        QCOMPARE(o.value("preset").toString(), QString("끔"));
        QCOMPARE(o.value("gains").toArray(), (QJsonArray{0, 0, 0, 0, 0}));
        QCOMPARE(o.value("enabled").toBool(true), false);
        const QJsonArray slotList = o.value("plugins").toArray();
        QCOMPARE(slotList.size(), 3);
        for (const auto& s : slotList) {
            QCOMPARE(s.toObject().value("name").toString("?"), QString());
            QCOMPARE(s.toObject().value("type").toInt(-1), 0);
            QVERIFY(!s.toObject().contains("state"));
        }
    }

    void fxStateDecode_data() {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<bool>("decodes");
        const QByteArray empty = "{\"name\":\"\",\"type\":0,\"sub\":0,\"man\":0}";
        QTest::newRow("defaults") << empty << QByteArray(",\"night\":false") << true;
        QTest::newRow("without night") << empty << QByteArray() << false;
        QTest::newRow("type -1") << QByteArray("{\"name\":\"\",\"type\":-1,\"sub\":0,\"man\":0}")
                                 << QByteArray(",\"night\":false") << false;
        QTest::newRow("type 2^32")
            << QByteArray("{\"name\":\"\",\"type\":4294967296,\"sub\":0,\"man\":0}")
            << QByteArray(",\"night\":false") << false;
        QTest::newRow("type 2^32-1")
            << QByteArray("{\"name\":\"\",\"type\":4294967295,\"sub\":0,\"man\":0}")
            << QByteArray(",\"night\":false") << true;
        QTest::newRow("slot without man") << QByteArray("{\"name\":\"\",\"type\":0,\"sub\":0}")
                                          << QByteArray(",\"night\":false") << false;
        QTest::newRow("state null")
            << QByteArray("{\"name\":\"\",\"type\":0,\"sub\":0,\"man\":0,\"state\":null}")
            << QByteArray(",\"night\":false") << true;
        QTest::newRow("state not Base64")
            << QByteArray("{\"name\":\"\",\"type\":0,\"sub\":0,\"man\":0,\"state\":\"@@@@\"}")
            << QByteArray(",\"night\":false") << false;
        QTest::newRow("state without padding")
            << QByteArray("{\"name\":\"\",\"type\":0,\"sub\":0,\"man\":0,\"state\":\"YWI\"}")
            << QByteArray(",\"night\":false") << false;
    }
    void fxStateDecode() {
        QFETCH(QByteArray, slot);
        QFETCH(QByteArray, extra);
        QFETCH(bool, decodes);
        const QByteArray json = "{\"plugins\":[" + slot +
                                "],\"enabled\":true,\"preset\":\"록\",\"gains\":[4,2,-2,3,4],"
                                "\"crossfeed\":false,\"wide\":true,\"room\":false" +
                                extra + "}";
        QCOMPARE(JsonCodec<FXState>::decode(json).has_value(), decodes);
    }

    void fxStateRoundTrip() {
        FXState s;
        s.enabled = true;
        s.preset = "어쿠스틱·클래식";
        s.gains = {2, 1, 0, 2, 3};
        s.room = true;
        s.plugins[1] = PluginSlot{"mda · Delay", 0x61756678, 0x12345678, 0xFFFFFFFF,
                                  QByteArray("\x00\x01state\xff", 9)};
        QCOMPARE(roundTrip(s), s);
    }
};

QL_TEST_UNIT(RecordsJsonTest)
#include "RecordsJsonTest.moc"
