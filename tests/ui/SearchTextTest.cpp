// Guards against: searches that miss or find wrongly across case, accents, width and Hangul forms.
#include "ui/SearchText.h"
#include "ui/CatalogFilter.h"
#include "ui/SearchMemo.h"
#include "ui/TrackPath.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QRandomGenerator>

using namespace ql;

namespace {

Track track(const QString& title, const QString& artist, const QString& album, const QString& path,
            qint64 id = 1) {
    return Track{id, path, title, artist, album, 0, {}};
}

// The example track: title Intro, artist Lumen, album Harbor.
Track intro() {
    return track("Intro", "Lumen", "Harbor", "/Music/Lumen/01 Intro.flac");
}

QString nfd(const QString& s) {
    return s.normalized(QString::NormalizationForm_D);
}

QString fromCodePoint(char32_t c) {
    return QString::fromUcs4(&c, 1);
}

// The folding done the plain way, whole-string normalisations and all:
// width forms to their normal forms, canonical decomposition, marks dropped,
// case folded, and composed again.
QString referenceFold(const QString& text) {
    QString widened;
    for (const char32_t c : text.toUcs4()) {
        const auto tag = QChar::decompositionTag(c);
        widened += (tag == QChar::Wide || tag == QChar::Narrow) ? QChar::decomposition(c)
                                                                : fromCodePoint(c);
    }
    const auto dropMarksAndFold = [](const QString& s) {
        QString out;
        for (const char32_t c : s.normalized(QString::NormalizationForm_D).toUcs4()) {
            if (QChar::category(c) != QChar::Mark_NonSpacing)
                out += fromCodePoint(QChar::toCaseFolded(c));
        }
        return out;
    };
    return dropMarksAndFold(dropMarksAndFold(widened)).normalized(QString::NormalizationForm_C);
}

} // namespace

class SearchTextTest : public QObject {
    Q_OBJECT
private slots:
    // Random texts over an alphabet full of traps: accents composed and
    // decomposed, marks in odd orders, Hangul syllables and loose jamo, width
    // forms, letters whose case folding is special, text outside the BMP.
    void foldingAgreesWithThePlainWay() {
        const std::vector<char32_t> alphabet{
            'a',    'Z',    ' ',    '.',    0xC9,   0xE9,   0xDF,    0x130,   0x131,
            0x1E9E, 0x212B, 0x2126, 0x1E9B, 0x301,  0x308,  0x323,   0x345,   0x3099,
            0x309A, 0x0903, 0x20DD, 0x390,  0x3A3,  0x3C2,  0x401,   0x419,   0xAC00,
            0xAC01, 0xD7A3, 0x1100, 0x1161, 0x11A8, 0x3131, 0xFF21,  0xFF41,  0xFF10,
            0xFF76, 0xFF9E, 0xFFA1, 0x3000, 0xFB01, 0x2460, 0x1F600, 0x10400, 0x1D400,
            0x30AC, 0x3052, 0x1EA0, 0x01C4, 0x01C5, 0x0FB5};
        QRandomGenerator rng(17);
        for (int round = 0; round < 3000; ++round) {
            QString text;
            const int len = 1 + int(rng.bounded(8));
            for (int i = 0; i < len; ++i)
                text += fromCodePoint(alphabet[rng.bounded(quint32(alphabet.size()))]);
            QCOMPARE(normalizedSearch(text), referenceFold(text));
        }
    }

    void matching_data() {
        QTest::addColumn<Track>("t");
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("matches");
        const Track ex = intro();
        QTest::newRow("white space only") << ex << " \t\n\u3000" << true;
        QTest::newRow("two words reversed") << ex << "harbor lumen" << true;
        QTest::newRow("across a blank: title and artist") << ex << "introlumen" << true;
        QTest::newRow("across a blank: the file name") << ex << "01intro" << true;
        QTest::newRow("every token must match") << ex << "lumen zzz" << false;
        QTest::newRow("own folder name")
            << track("x", "y", "z", "/Music/Secret/Vault/01.flac") << "vault" << true;
        QTest::newRow("folders above are not searched")
            << track("x", "y", "z", "/Music/Secret/Vault/01.flac") << "secret" << false;
        QTest::newRow("extension in upper case")
            << track("x", "y", "z", "/m/Song.FLAC") << ".flac" << true;
        QTest::newRow("cafe finds Café") << track("x", "y", "Café", "/m/a.mp3") << "cafe" << true;
        QTest::newRow("full-width query") << ex << "ｌｕｍｅｎ　ＨＡＲＢＯＲ" << true;
        QTest::newRow("decomposed jamo query, composed tag")
            << track("사랑의 노래", "가수", "앨범", "/m/a.flac") << nfd("노래") << true;
        QTest::newRow("composed query, decomposed tag")
            << track(nfd("사랑의 노래"), "가수", "앨범", "/m/a.flac") << "사랑" << true;
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

    // The memo the worker shares with the window is never changed under the
    // holder that did not ask for the change.
    void sharedMemoIsCopiedBeforeAChange_data() {
        QTest::addColumn<bool>("heldElsewhere");
        QTest::addColumn<bool>("current");
        QTest::addColumn<bool>("sameMemo"); // the pass got the memo it was given
        QTest::newRow("sole holder changes it in place") << false << false << true;
        QTest::newRow("held elsewhere: a copy is changed") << true << false << false;
        QTest::newRow("held elsewhere but current: only read") << true << true << true;
    }
    void sharedMemoIsCopiedBeforeAChange() {
        QFETCH(bool, heldElsewhere);
        QFETCH(bool, current);
        QFETCH(bool, sameMemo);
        const std::vector<Track> rows{intro(), track("Other", "Nobody", "None", "/m/x.mp3")};
        auto memo = std::make_shared<SearchMemo>();
        memo->fit(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            memo->at(i, rows[i]);
        memo->arena();
        const std::shared_ptr<SearchMemo> other = heldElsewhere ? memo : nullptr;
        SearchMemo* given = memo.get();
        SearchMemo& got = memoForPass(memo, current, rows.size());
        QCOMPARE(&got == given, sameMemo);
        // A pass over a changed catalog rebuilds a row of the memo it got.
        const std::vector<Track> changed{rows[0], track("New", "Nobody", "None", "/m/x.mp3")};
        if (!current)
            got.at(1, changed[1]);
        if (other)
            QCOMPARE(other->entry(1).title, QString("Other"));
    }

    // A whole pass scans all rows' texts at once; it must find exactly the
    // tracks the one-track test finds, wherever in a row the token lies.
    void wholePassAgreesWithOneTrackAtATime_data() {
        QTest::addColumn<QString>("query");
        for (const QString q : {"ab", "harbor lumen lumen", "사랑노래", ".flac", ".", "01", "zz",
                                "e\u0301", "ｌｕｍｅｎ", "flaclumen", "  x  "})
            QTest::newRow(qPrintable(q)) << q;
        QTest::newRow("decomposed query") << nfd("사랑");
        // The rows' pair-and-triple signatures pass over rows only when a
        // token of two or more letters rules them out.
        QTest::newRow("one letter beside a longer token") << "a harbor";
        QTest::newRow("a pair across two fields") << "bl";
    }
    void wholePassAgreesWithOneTrackAtATime() {
        QFETCH(QString, query);
        const QStringList words{"",          "a",    "ab",   "Lumen", "Harbor", "사랑",
                                nfd("노래"), "Café", "flac", "x",     "AB C"};
        QRandomGenerator rng(9);
        const auto pick = [&] { return words[int(rng.bounded(words.size()))]; };
        std::vector<Track> rows;
        for (int i = 0; i < 400; ++i) {
            const QString dir = "/m/" + pick() + "x";
            const QString file =
                QString("%1 %2").arg(i % 3 ? "01" : "").arg(pick()) + (i % 4 ? ".flac" : "");
            rows.push_back(track(pick(), pick(), pick(), dir + "/" + file, i));
        }
        SearchMemo memo;
        MatchInput in;
        in.searchText = query;
        std::vector<std::size_t> expected;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (trackMatches(rows[i], query.trimmed()))
                expected.push_back(i);
        }
        QCOMPARE(matchedRows(rows, in, memo), expected);
    }

    // The rows' letter signatures may only pass over a row that cannot
    // match: random rows over Hangul (syllables and loose jamo), accents
    // composed and decomposed, width forms and surrogate pairs, searched for
    // pieces of other rows' texts in 1-3 tokens of 1-4 letters, must find
    // exactly the rows the one-track test finds.
    void signaturesNeverMissARow_data() {
        QTest::addColumn<quint32>("seed");
        for (const quint32 seed : {1u, 2u, 3u, 4u})
            QTest::newRow(qPrintable(QString("seed %1").arg(seed))) << seed;
    }
    void signaturesNeverMissARow() {
        QFETCH(quint32, seed);
        const std::vector<char32_t> alphabet{
            'a',    'B',    'c',    'e',    'l',     '1',    '.',    ' ',    0xE9,
            0xC9,   0x301,  0x308,  0xDF,   0xAC00,  0xAC01, 0xB178, 0xB798, 0xC0AC,
            0xB791, 0x1100, 0x1161, 0x11A8, 0x3131,  0xFF21, 0xFF41, 0xFF4C, 0xFF76,
            0xFF9E, 0x3000, 0xFB01, 0x212B, 0x1F600, 0x10400};
        QRandomGenerator rng(seed);
        const auto word = [&](int most) {
            QString w;
            const int len = 1 + int(rng.bounded(most));
            for (int i = 0; i < len; ++i)
                w += fromCodePoint(alphabet[rng.bounded(quint32(alphabet.size()))]);
            return w;
        };
        std::vector<Track> rows;
        for (int i = 0; i < 300; ++i)
            rows.push_back(
                track(word(6), word(6), word(6), "/m/" + word(4) + "/" + word(5) + ".flac", i));
        SearchMemo memo; // kept over all queries, as the window keeps it
        for (int q = 0; q < 150; ++q) {
            QStringList tokens;
            const int count = 1 + int(rng.bounded(3));
            for (int t = 0; t < count; ++t) {
                // Mostly a piece of some row's text, else random letters.
                const QString from = searchHaystack(rows[rng.bounded(quint32(rows.size()))]);
                const int len = 1 + int(rng.bounded(4));
                const int at = int(rng.bounded(qMax(1, int(from.size()) - len + 1)));
                QString token = rng.bounded(4) ? from.mid(at, len) : word(3);
                if (rng.bounded(2))
                    token = token.toUpper();
                tokens << token;
            }
            MatchInput in;
            in.searchText = tokens.join(' ');
            std::vector<std::size_t> expected;
            for (std::size_t i = 0; i < rows.size(); ++i) {
                if (trackMatches(rows[i], in.searchText.trimmed()))
                    expected.push_back(i);
            }
            QCOMPARE(matchedRows(rows, in, memo), expected);
            QCOMPARE(memo.signatures().size(), rows.size()); // they were there to use
        }
    }

    // The memo keeps each text once, in its arena or in the block of texts
    // rebuilt since, and each folder as a length of the path: through any
    // run of changes every row must read back what building it afresh gives,
    // and a pass must find what a memo that never saw the old rows finds.
    void memoReadsBackFreshTextsThroughChanges_data() {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<bool>("search"); // else only a folder, so no arena is asked for
        QTest::addColumn<int>("hotRows"); // changes fall on this many rows (0: any row)
        QTest::newRow("search after each change") << 11u << true << 0;
        QTest::newRow("folder alone after each change") << 12u << false << 0;
        QTest::newRow("a few rows rebuilt over and over, search") << 13u << true << 3;
        QTest::newRow("a few rows rebuilt over and over, folder alone") << 14u << false << 3;
    }
    void memoReadsBackFreshTextsThroughChanges() {
        QFETCH(quint32, seed);
        QFETCH(bool, search);
        QFETCH(int, hotRows);
        QRandomGenerator rng(seed);
        // Paths that need cleaning keep their folder apart from the path.
        const QStringList folders{"/m/A", "/m//A", "/m/./B", "/m/B/../A", "/", "", "/m/사랑"};
        const auto path = [&](int i) {
            const QString folder = folders[int(rng.bounded(folders.size()))];
            return (folder.isEmpty() ? QString() : folder + "/") + QString("%1 x.flac").arg(i);
        };
        const auto row = [&](int i) {
            // Long texts, so that texts rebuilt over and over soon waste
            // more than the memo lets its block of new texts hold.
            return track(QString("T%1 %2").arg(i).arg(rng.bounded(5)), "Lumen",
                         "Harbor " + QString(80, 'h'), path(i), i);
        };
        std::vector<Track> rows;
        for (int i = 0; i < 300; ++i)
            rows.push_back(row(i));
        SearchMemo memo;
        MatchInput in;
        if (search)
            in.searchText = "t1 x";
        in.selectedFolder = "/m/A";
        for (int step = 0; step < 200; ++step) {
            const int changes = 1 + int(rng.bounded(20));
            for (int c = 0; c < changes; ++c) {
                const int at = hotRows ? int(rng.bounded(hotRows)) : int(rng.bounded(300));
                if (std::size_t(at) < rows.size())
                    rows[std::size_t(at)] = row(at);
            }
            if (step % 50 == 25)
                rows.resize(200);
            while (rows.size() < 300)
                rows.push_back(row(int(rows.size())));
            const std::vector<std::size_t> got = matchedRows(rows, in, memo);
            SearchMemo fresh;
            QCOMPARE(got, matchedRows(rows, in, fresh));
            for (std::size_t r = 0; r < rows.size(); ++r) {
                QCOMPARE(memo.text(r).toString(), compactHaystack(rows[r]));
                QCOMPARE(memo.folder(r).toString(), folderOf(rows[r].path));
            }
        }
    }
};

QL_TEST_UNIT(SearchTextTest)
#include "SearchTextTest.moc"
