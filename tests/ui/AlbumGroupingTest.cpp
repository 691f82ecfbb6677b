// Guards against: tiles that split or merge the wrong tracks, carry the wrong
// titles or subtitles, or come in the wrong order.
#include "ui/AlbumGrouping.h"
#include "ui/CoverCache.h"

#include "CaseRows.h"
#include "TestUnits.h"

#include <QTest>

using namespace ql;

namespace {

// Track `id` at "/m/<folder>/<id>.flac".
Track T(qint64 id, const QString& album, const QString& artist, const QString& folder = "A") {
    return Track{id, QString("/m/%1/%2.flac").arg(folder).arg(id), "t", artist, album, 1, {}};
}

// `n` tracks by one artist, spread over `albums` albums.
std::vector<Track> spread(int n, int albums, const QString& artist, int firstId = 1) {
    std::vector<Track> out;
    for (int i = 0; i < n; ++i)
        out.push_back(T(firstId + i, QString("Album %1").arg(i % albums), artist));
    return out;
}

struct Case {
    const char* name;
    std::vector<Track> tracks;
    int view;
    int sort;
    // Each tile as "key ; title ; artist ; sub ; ids", in display order.
    QStringList want;
    QHash<QString, double> added = {};
    QHash<QString, QString> genres = {};
};

const std::vector<Case> kCases = {
    {"no tracks, no tiles", {}, 1, 0, {}},
    {"case, accents and width fold into one album",
     {T(1, "Café Noir", "Lumen"), T(2, "CAFE NOIR", "lumen"), T(3, "Ｃａｆé noir", "Lumen")},
     1,
     0,
     {"cafe noir|lumen ; Café Noir ; Lumen ; Lumen ; 1 2 3"}},
    {"one title by two artists",
     {T(1, "Blue", "Bravo"), T(2, "Blue", "Alpha")},
     1,
     0,
     {"blue|alpha ; Blue ; Alpha ; Alpha ; 2", "blue|bravo ; Blue ; Bravo ; Bravo ; 1"}},
    {"a compilation, one tile per artist",
     {T(1, "Hits", "X"), T(2, "Hits", "Y"), T(3, "Hits", "X")},
     1,
     0,
     {"hits|x ; Hits ; X ; X ; 1 3", "hits|y ; Hits ; Y ; Y ; 2"}},
    {"no album tag: one tile per artist, first folder's name",
     {T(1, "", "Lumen", "Demos"), T(2, "", "LUMEN", "Live"), T(3, "", "", "Misc")},
     1,
     0,
     {"| ; Misc ;  ; — ; 3", "|lumen ; Demos ; Lumen ; Lumen ; 1 2"}},
    {"artist grid: no artist, counts of albums",
     {T(1, "A", ""), T(2, "B", ""), T(3, "A", "Lumen")},
     2,
     0,
     {"artist:(가수 없음) ; (가수 없음) ;  ; 2곡 · 2앨범 ; 1 2",
      "artist:lumen ; Lumen ; Lumen ; 1곡 · 1앨범 ; 3"}},
    {"artist subtitle 12 tracks, 3 albums",
     spread(12, 3, "Lumen"),
     2,
     0,
     {"artist:lumen ; Lumen ; Lumen ; 12곡 · 3앨범 ; 1 2 3 4 5 6 7 8 9 10 11 12"}},
    {"genre grid: unknown genre, counts of artists",
     {T(1, "A", "X"), T(2, "B", "x"), T(3, "C", "Y"), T(4, "D", "Z")},
     3,
     0,
     {"genre:jazz ; Jazz ; X ; 3곡 · 2아티스트 ; 1 2 3",
      "genre:장르 미지정 ; 장르 미지정 ; Z ; 1곡 · 1아티스트 ; 4"},
     {},
     {{"/m/A/1.flac", "Jazz"},
      {"/m/A/2.flac", "JAZZ"},
      {"/m/A/3.flac", "jazz"},
      {"/m/A/4.flac", ""}}},
    {"genre subtitle 7 tracks, 2 artists",
     [] {
         auto v = spread(4, 1, "X");
         auto w = spread(3, 2, "Y", 5);
         v.insert(v.end(), w.begin(), w.end());
         return v;
     }(),
     3,
     0,
     {"genre:장르 미지정 ; 장르 미지정 ; X ; 7곡 · 2아티스트 ; 1 2 3 4 5 6 7"}},
    {"album grid by artist, then title, ignoring case",
     {T(1, "Night", "bravo"), T(2, "Harbor", "Alpha"), T(3, "dawn", "alpha")},
     1,
     0,
     {"dawn|alpha ; dawn ; alpha ; alpha ; 3", "harbor|alpha ; Harbor ; Alpha ; Alpha ; 2",
      "night|bravo ; Night ; bravo ; bravo ; 1"}},
    {"sort mode 7 sorts like mode 0",
     {T(1, "Night", "bravo"), T(2, "Harbor", "Alpha")},
     1,
     7,
     {"harbor|alpha ; Harbor ; Alpha ; Alpha ; 2", "night|bravo ; Night ; bravo ; bravo ; 1"}},
    {"album grid by title",
     {T(1, "b", "X"), T(2, "A", "Z"), T(3, "c", "Y")},
     1,
     1,
     {"a|z ; A ; Z ; Z ; 2", "b|x ; b ; X ; X ; 1", "c|y ; c ; Y ; Y ; 3"}},
    {"album grid by date, newest first, undated last",
     {T(1, "X", "a"), T(2, "Z", "a"), T(3, "Y", "a"), T(4, "W", "a"), T(5, "X", "a")},
     1,
     2,
     {"y|a ; Y ; a ; a ; 3", "w|a ; W ; a ; a ; 4", "x|a ; X ; a ; a ; 1 5", "z|a ; Z ; a ; a ; 2"},
     {{"/m/A/1.flac", 100}, {"/m/A/3.flac", 300}, {"/m/A/4.flac", 200}, {"/m/A/5.flac", 900}}},
    {"artist grid by count, ties as they first appear",
     {T(1, "S", "B"), T(2, "S", "A"), T(3, "S", "C"), T(4, "S", "A")},
     2,
     1,
     {"artist:a ; A ; A ; 2곡 · 1앨범 ; 2 4", "artist:b ; B ; B ; 1곡 · 1앨범 ; 1",
      "artist:c ; C ; C ; 1곡 · 1앨범 ; 3"}},
    {"genre grid by count whatever the sort mode",
     {T(1, "S", "B"), T(2, "S", "A"), T(3, "S", "A")},
     3,
     2,
     {"genre:pop ; Pop ; A ; 2곡 · 1아티스트 ; 2 3", "genre:rock ; Rock ; B ; 1곡 · 1아티스트 ; 1"},
     {{"/m/A/1.flac", 1e9}},
     {{"/m/A/1.flac", "Rock"}, {"/m/A/2.flac", "Pop"}, {"/m/A/3.flac", "Pop"}}},
};

QString describe(const AlbumItem& tile) {
    QStringList ids;
    for (const Track& t : tile.tracks)
        ids << QString::number(t.id);
    return QStringList{tile.key, tile.title, tile.artist, tile.sub, ids.join(' ')}.join(" ; ");
}

} // namespace

class AlbumGroupingTest : public QObject {
    Q_OBJECT
private slots:
    void tiles_data() { test::addRows(kCases); }
    void tiles() {
        const Case& c = test::currentCase(kCases);
        GroupingInput input;
        input.tracks = &c.tracks;
        input.viewKind = c.view;
        input.sortMode = c.sort;
        input.added = &c.added;
        input.genres = &c.genres;
        input.locale = QLocale(QLocale::English);
        QStringList got;
        for (const AlbumItem& tile : groupTracks(input)) {
            QCOMPARE(tile.kind, c.view == 2 ? "artist" : c.view == 3 ? "genre" : "album");
            got << describe(tile);
        }
        QCOMPARE(got, c.want);
    }

    // 2,000 decoded 300 × 300 covers: the cache keeps the newest within its
    // cap and lets the oldest go.
    void memoryCacheStaysWithinItsCap() {
        CoverCache cache;
        QImage cover(300, 300, QImage::Format_RGB32);
        for (int i = 0; i < 2000; ++i) {
            cover.fill(QColor::fromHsv(i % 360, 200, 200));
            cache.insert(QString::number(i), cover.copy());
            QVERIFY(cache.bytes() <= CoverCache::kMaxBytes);
        }
        QCOMPARE(cache.count(), CoverCache::kMaxBytes / cover.sizeInBytes());
        QVERIFY(!cache.contains("0"));
        QCOMPARE(cache.find("1999").pixel(0, 0), QColor::fromHsv(1999 % 360, 200, 200).rgb());
    }
};

QL_TEST_UNIT(AlbumGroupingTest)
#include "AlbumGroupingTest.moc"
