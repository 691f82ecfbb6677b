// Guards against: tiles that split or merge the wrong tracks, carry the wrong
// titles or subtitles, or come in the wrong order.
#include "ui/AlbumGrouping.h"

#include "CaseRows.h"
#include "TestUnits.h"

#include <QTest>

using namespace ql;

namespace {

// Track n (from 1) as "album/artist[/folder]" at "/m/<folder or A>/<n>.flac", with
// its date added (0: none) and genre; each tile as "key ; title ; artist ; sub ; tracks".
struct Case {
    const char* name;
    QStringList tracks;
    int view, sort;
    QStringList want;
    QList<double> added = {};
    QStringList genres = {};
};

// clang-format off
const std::vector<Case> kCases = {
    {"no tracks, no tiles", {}, 1, 0, {}},
    {"case, accents and width fold into one album", {"Café Noir/Lumen", "CAFE NOIR/lumen", "Ｃａｆé noir/Lumen"}, 1, 0,
     {"cafe noir|lumen ; Café Noir ; Lumen ; Lumen ; 1 2 3"}},
    {"one title by two artists; a compilation, a tile per artist", {"Blue/Bravo", "Blue/Alpha", "Hits/X", "Hits/Y", "Hits/X"}, 1, 0,
     {"blue|alpha ; Blue ; Alpha ; Alpha ; 2", "blue|bravo ; Blue ; Bravo ; Bravo ; 1", "hits|x ; Hits ; X ; X ; 3 5", "hits|y ; Hits ; Y ; Y ; 4"}},
    {"no album tag: a tile per artist, first folder's name", {"/Lumen/Demos", "/LUMEN/Live", "//Misc"}, 1, 0,
     {"| ; Misc ;  ; — ; 3", "|lumen ; Demos ; Lumen ; Lumen ; 1 2"}},
    {"artist grid: 12 tracks on 3 albums, then no artist", ("A/ B/ " + QString("A/L B/L C/L ").repeated(4)).split(' ', Qt::SkipEmptyParts), 2, 0,
     {"artist:l ; L ; L ; 12곡 · 3앨범 ; 3 4 5 6 7 8 9 10 11 12 13 14", "artist:(가수 없음) ; (가수 없음) ;  ; 2곡 · 2앨범 ; 1 2"}},
    {"genre grid: unknown genre, counts of artists", {"A/X", "B/x", "A/X", "B/x", "A/X", "B/x", "C/Y", "D/Z"}, 3, 2,
     {"genre:jazz ; Jazz ; X ; 7곡 · 2아티스트 ; 1 2 3 4 5 6 7", "genre:장르 미지정 ; 장르 미지정 ; Z ; 1곡 · 1아티스트 ; 8"},
     {}, {"Jazz", "JAZZ", "jazz", "Jazz", "Jazz", "Jazz", "Jazz", ""}},
    {"sort mode 7: by artist, then title, ignoring case", {"Night/bravo", "Harbor/Alpha", "dawn/alpha"}, 1, 7,
     {"dawn|alpha ; dawn ; alpha ; alpha ; 3", "harbor|alpha ; Harbor ; Alpha ; Alpha ; 2", "night|bravo ; Night ; bravo ; bravo ; 1"}},
    {"by title", {"b/X", "A/Z", "c/Y"}, 1, 1,
     {"a|z ; A ; Z ; Z ; 2", "b|x ; b ; X ; X ; 1", "c|y ; c ; Y ; Y ; 3"}},
    {"by date of the first track, newest first, undated last", {"X/a", "Z/a", "Y/a", "W/a", "X/a"}, 1, 2,
     {"y|a ; Y ; a ; a ; 3", "w|a ; W ; a ; a ; 4", "x|a ; X ; a ; a ; 1 5", "z|a ; Z ; a ; a ; 2"}, {100, 0, 300, 200, 900}},
    {"artist grid by count, ties as they first appear", {"S/B", "S/A", "S/C", "S/A"}, 2, 1,
     {"artist:a ; A ; A ; 2곡 · 1앨범 ; 2 4", "artist:b ; B ; B ; 1곡 · 1앨범 ; 1", "artist:c ; C ; C ; 1곡 · 1앨범 ; 3"}},
};
// clang-format on

} // namespace

class AlbumGroupingTest : public QObject {
    Q_OBJECT
private slots:
    void tiles_data() { test::addRows(kCases); }
    void tiles() {
        const Case& c = test::currentCase(kCases);
        std::vector<Track> tracks;
        QHash<QString, double> added;
        GenreMap genres;
        for (int i = 0; i < c.tracks.size(); ++i) {
            const QStringList f = c.tracks[i].split('/');
            const QString path = QString("/m/%1/%2.flac").arg(f.value(2, "A")).arg(i + 1);
            tracks.push_back(Track{i + 1, path, "t", f[1], f[0], 1, {}});
            if (c.added.value(i) > 0)
                added.insert(path, c.added[i]);
            genres.insert(path, c.genres.value(i));
        }
        // The same tracks as some rows of a larger catalog, in another order
        // there, among tracks not shown: the tiles point into those rows.
        auto catalog = std::make_shared<std::vector<Track>>();
        std::vector<std::size_t> shown;
        for (auto t = tracks.rbegin(); t != tracks.rend(); ++t) {
            catalog->push_back(Track{-1, "/hidden.flac", "t", "Hidden", "Hidden", 1, {}});
            catalog->push_back(*t);
        }
        for (std::size_t i = 0; i < tracks.size(); ++i)
            shown.push_back(2 * (tracks.size() - 1 - i) + 1);
        for (const TrackList& visible : {TrackList(tracks), TrackList(catalog, shown)}) {
            GroupingInput input{&visible, c.view,  c.sort,
                                &added,   &genres, QLocale(QLocale::English)};
            QStringList got;
            for (const AlbumItem& tile : groupTracks(input)) {
                QCOMPARE(tile.kind, c.view == 2 ? "artist" : c.view == 3 ? "genre" : "album");
                QVERIFY(tile.tracks.rows() == visible.rows());
                QStringList ids;
                for (const Track& t : tile.tracks)
                    ids << QString::number(t.id);
                got << QStringList{tile.key, tile.title, tile.artist, tile.sub, ids.join(' ')}.join(
                    " ; ");
            }
            QCOMPARE(got, c.want);
        }
    }
};

QL_TEST_UNIT(AlbumGroupingTest)
#include "AlbumGroupingTest.moc"
