#include "ui/SearchText.h"
#include "ui/CatalogFilter.h"
#include "ui/SearchMemo.h"

#include "TestHome.h"

using namespace ql;

namespace {

Track track(const QString& title, const QString& artist, const QString& album, const QString& path,
            qint64 id = 1) {
    Track t;
    t.id = id;
    t.title = title;
    t.artist = artist;
    t.album = album;
    t.path = path;
    return t;
}

// The example track: title Intro, artist Lumen, album Harbor.
Track intro() {
    return track("Intro", "Lumen", "Harbor", "/Music/Lumen/01 Intro.flac");
}

QString nfd(const QString& s) {
    return s.normalized(QString::NormalizationForm_D);
}

} // namespace

class SearchTextTest : public QObject {
    Q_OBJECT
private slots:
    void haystackOfTheExampleTrack() {
        QCOMPARE(searchHaystack(intro()), QString("Intro Lumen Harbor 01 Intro.flac Lumen .flac"));
        QCOMPARE(searchHaystack(track("T", "", "", "/m/README")), QString("T   README m ."));
    }

    void sameAfterNormalising_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("letter case") << "LUMEN Harbor"
                                     << "lumen harbor";
        QTest::newRow("accent composed") << "Café"
                                         << "cafe";
        QTest::newRow("accent decomposed") << nfd("Café Crème") << "cafe creme";
        QTest::newRow("full-width Latin") << "ＬＵＭＥＮ１２"
                                          << "lumen12";
        QTest::newRow("ideographic space") << "a\u3000b"
                                           << "a b";
        QTest::newRow("Hangul composed vs decomposed") << "한국어 노래" << nfd("한국어 노래");
        QTest::newRow("half-width katakana with voiced mark") << "ｶﾞｸ"
                                                              << "カク";
        QTest::newRow("capital I with dot") << "İstanbul"
                                            << "istanbul";
        QTest::newRow("ASCII next to non-ASCII") << "ABC É"
                                                 << "abc e";
    }
    void sameAfterNormalising() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QCOMPARE(normalizedSearch(a), normalizedSearch(b));
        // Normalising twice changes nothing more.
        QCOMPARE(normalizedSearch(normalizedSearch(a)), normalizedSearch(a));
    }

    void differentAfterNormalising_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::newRow("other Hangul syllable") << "가"
                                               << "각";
        QTest::newRow("other letter") << "cafe"
                                      << "cafa";
        QTest::newRow("a digit is no letter") << "l1"
                                              << "li";
    }
    void differentAfterNormalising() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QVERIFY(normalizedSearch(a) != normalizedSearch(b));
    }

    void decomposedHangulComposesAgain() {
        // The normal form is composed: a decomposed tag does not stay as jamo.
        QCOMPARE(normalizedSearch(nfd("노래")), QString("노래"));
    }

    void matching_data() {
        QTest::addColumn<Track>("t");
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("matches");
        const Track ex = intro();
        QTest::newRow("empty query") << ex << "" << true;
        QTest::newRow("white space only") << ex << " \t\n\u3000" << true;
        QTest::newRow("two words") << ex << "lumen harbor" << true;
        QTest::newRow("two words reversed") << ex << "harbor lumen" << true;
        QTest::newRow("upper case") << ex << "LUMEN" << true;
        QTest::newRow("runs of blanks separate like one") << ex << "  lumen   harbor " << true;
        QTest::newRow("tokens may overlap") << ex << "lum lumen umen" << true;
        QTest::newRow("across a blank: title and artist") << ex << "introlumen" << true;
        QTest::newRow("across a blank: the file name") << ex << "01intro" << true;
        QTest::newRow("every token must match") << ex << "lumen zzz" << false;
        QTest::newRow("not in the track") << ex << "zzz" << false;
        QTest::newRow("extension with dot") << ex << ".flac" << true;
        QTest::newRow("own folder name")
            << track("x", "y", "z", "/Music/Secret/Vault/01.flac") << "vault" << true;
        QTest::newRow("folders above are not searched")
            << track("x", "y", "z", "/Music/Secret/Vault/01.flac") << "secret" << false;
        QTest::newRow("extension in upper case")
            << track("x", "y", "z", "/m/Song.FLAC") << ".flac" << true;
        QTest::newRow("other extension") << track("x", "y", "z", "/m/song.mp3") << ".flac" << false;
        QTest::newRow("flac without dot in a title")
            << track("Flacon", "y", "z", "/m/a.mp3") << "flac" << true;
        QTest::newRow("cafe finds Café") << track("x", "y", "Café", "/m/a.mp3") << "cafe" << true;
        QTest::newRow("Café finds decomposed cafe")
            << track("x", "y", nfd("Café"), "/m/a.mp3") << "CAFÉ" << true;
        QTest::newRow("full-width query") << ex << "ｌｕｍｅｎ　ＨＡＲＢＯＲ" << true;
        QTest::newRow("decomposed jamo query, composed tag")
            << track("사랑의 노래", "가수", "앨범", "/m/a.flac") << nfd("노래") << true;
        QTest::newRow("composed query, decomposed tag")
            << track(nfd("사랑의 노래"), "가수", "앨범", "/m/a.flac") << "사랑" << true;
        QTest::newRow("Hangul across a blank")
            << track("사랑의 노래", "가수", "앨범", "/m/a.flac") << "사랑의노래" << true;
        QTest::newRow("Hangul not there")
            << track("사랑의 노래", "가수", "앨범", "/m/a.flac") << "이별" << false;
        QTest::newRow("no-break space in a tag")
            << track("Blue\u00A0Train", "y", "z", "/m/a.flac") << "bluetrain" << true;
    }
    void matching() {
        QFETCH(Track, t);
        QFETCH(QString, query);
        QFETCH(bool, matches);
        QCOMPARE(trackMatches(t, query), matches);
    }

    // A memo that outlives a change of the catalog must not answer from the
    // old texts.
    void memoFollowsChangedRows_data() {
        QTest::addColumn<int>("change");
        QTest::newRow("title changed in place") << 0;
        QTest::newRow("row replaced by another track") << 1;
        QTest::newRow("catalog shrank and grew back") << 2;
        QTest::newRow("same texts from a fresh copy") << 3;
    }
    void memoFollowsChangedRows() {
        QFETCH(int, change);
        // Only the title holds the word searched for.
        const Track first = track("Intro", "Lumen", "Harbor", "/Music/Lumen/01.flac");
        std::vector<Track> rows{first, track("Other", "Band", "Album", "/Music/Band/02.flac", 2)};
        SearchMemo memo;
        MatchInput in;
        in.searchText = "intro";
        QCOMPARE(matchedRows(rows, in, memo), (std::vector<std::size_t>{0}));

        std::vector<std::size_t> expected;
        switch (change) {
        case 0:
            rows[0].title = "Outro";
            rows[1].title = "Intro";
            expected = {1};
            break;
        case 1:
            rows[0] = track("Finale", "Z", "Y", "/Music/Z/09.flac", 3);
            expected = {};
            break;
        case 2:
            rows.resize(1);
            QCOMPARE(matchedRows(rows, in, memo), (std::vector<std::size_t>{0}));
            rows.push_back(track("Intro 2", "Band", "Album", "/Music/Band/03.flac", 4));
            expected = {0, 1};
            break;
        case 3: {
            // Equal texts without shared data (a catalog decoded again).
            Track copy = first;
            copy.title = QString::fromUtf16(u"Intro");
            rows[0] = copy;
            expected = {0};
            break;
        }
        }
        QCOMPARE(matchedRows(rows, in, memo), expected);
        // And the same as a memo that never saw the old rows.
        SearchMemo fresh;
        QCOMPARE(matchedRows(rows, in, fresh), expected);
    }

    void warmMemoBuildsNothing() {
        std::vector<Track> rows{intro(), track("Other", "Band", "Album", "/Music/Band/02.flac", 2)};
        SearchMemo memo;
        MatchInput in;
        in.searchText = "l";
        matchedRows(rows, in, memo);
        const std::size_t built = memo.rebuilt();
        in.searchText = "lumen";
        matchedRows(rows, in, memo);
        QCOMPARE(memo.rebuilt(), built);
    }
};

QL_TEST_MAIN_CORE(SearchTextTest)
#include "SearchTextTest.moc"
