// Guards against: a letter of the letter bar that jumps to the wrong tile.
#include "ui/GridRules.h"

#include "CaseRows.h"
#include "TestUnits.h"

#include <QTest>

using namespace ql;

namespace {

// Tiles in display order as "artist/title"; the tile jumped to, -1 for none.
struct Case {
    const char* name;
    QStringList tiles;
    int sort;
    QString letter;
    int want;
};

// clang-format off
const QStringList kByArtist = {"!Bang/Zero", "9 Crimes/Nine", "Alpha/Omega", "beta/Mu", "Mono/Alpha", "Zed/Yes", "마마무/Moon"};
const std::vector<Case> kCases = {
    {"# takes punctuation first", kByArtist, 0, "#", 0},
    {"# takes a digit", {"Alpha/A", "9 Crimes/Nine"}, 0, "#", 1},
    {"# takes Hangul", {"Alpha/A", "마마무/Moon"}, 0, "#", 1},
    {"# finds nothing among Latin letters", {"Alpha/A", "Mono/B"}, 0, "#", -1},
    {"letter skips digits and punctuation", kByArtist, 0, "A", 2},
    {"lower case counts as upper", kByArtist, 0, "B", 3},
    {"no artist starts at M: the next later one", kByArtist, 0, "N", 5},
    {"Z: the last Latin artist, Hangul after it skipped", kByArtist, 0, "Z", 5},
    {"nothing at or after the letter", {"Alpha/A", "마마무/Moon"}, 0, "M", -1},
    {"sorted by title, the title decides", {"Zed/Alpha", "Alpha/Omega"}, 1, "B", 1},
    {"date order goes by artist", kByArtist, 2, "M", 4},
    {"no artist: the title stands in", {"/Mango", "Zed/Yes"}, 0, "M", 0},
    {"accented capital is not ASCII", {"Élan/A", "Zed/B"}, 0, "E", 1},
    {"no tiles", {}, 0, "A", -1},
};
// clang-format on

} // namespace

class GridRulesTest : public QObject {
    Q_OBJECT
private slots:
    void letterTarget_data() { test::addRows(kCases); }
    void letterTarget() {
        const Case& c = test::currentCase(kCases);
        std::vector<AlbumItem> tiles;
        for (const QString& t : c.tiles)
            tiles.push_back({t, t.section('/', 1), t.section('/', 0, 0), {}, "album", {}});
        const std::optional<std::size_t> got = ql::letterTarget(tiles, c.sort, c.letter);
        QCOMPARE(got ? int(*got) : -1, c.want);
    }
};

QL_TEST_UNIT(GridRulesTest)
#include "GridRulesTest.moc"
