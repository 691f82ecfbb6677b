// Guards against: a tile grid that shows the wrong size, badge or cover, a
// tile click that filters, records or plays the wrong tracks, a letter or a
// sort choice that moves the grid when it must not, and covers extracted for
// tiles or rows that are no longer on screen.
#include "app/App.h"
#include "app/JSONStore.h"
#include "app/UserDefaults.h"
#include "ui/AlbumGridModel.h"
#include "ui/AlbumGridView.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/TabBar.h"
#include "ui/TrackTableView.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSlider>
#include <QThreadPool>

using namespace ql;

namespace {

// Track n as "album/artist[/folder]", at "/m/<folder or A>/<n>.flac".
std::vector<Track> catalog(const QStringList& entries) {
    std::vector<Track> rows;
    for (const QString& s : entries) {
        const qint64 id = qint64(rows.size()) + 1;
        const QString folder = s.section('/', 2).isEmpty() ? "A" : s.section('/', 2);
        rows.push_back({id,
                        QString("/m/%1/%2.flac").arg(folder).arg(id),
                        QString("T%1").arg(id),
                        s.section('/', 1, 1),
                        s.section('/', 0, 0),
                        0,
                        {}});
    }
    return rows;
}

bool hasArt(const TrackList& tracks) {
    return std::any_of(tracks.begin(), tracks.end(),
                       [](const Track& t) { return !t.artist.isEmpty(); });
}

// The program's window showing `rows` in view kind `kind`; plays, quality
// probes, dates read and cover requests are recorded. Covers of keys in
// `red` answer at once with a red picture; the others wait in `waiting`.
struct Grid {
    std::vector<qint64> played;
    QHash<QString, int> probes;
    int datesRead = 0;
    QSet<QString> red;
    std::vector<std::function<void(const QImage&)>> waiting;
    test::LaunchedApp l;
    App& app;

    // With `coverProgram`, covers come from the program's own cover service
    // running it in place of ffmpeg.
    Grid(const QStringList& entries, int kind, const QString& lang = "ko",
         const QString& coverProgram = {})
        : l(lang,
            [this, coverProgram](App& a) {
                test::fakes(a).observer.playRequest = [this](const Track& t) {
                    played.push_back(t.id);
                };
                test::fakes(a).observer.qualityProbe = [this](const Track& t) { ++probes[t.path]; };
                test::fakes(a).tools.addedDate = [this](const QString& path) {
                    ++datesRead;
                    return 100.0 * QFileInfo(path).baseName().toInt();
                };
                if (!coverProgram.isEmpty()) {
                    test::fakes(a).tools.coverProgram = [coverProgram] { return coverProgram; };
                    return;
                }
                test::fakes(a).analysers.groupCover = [this](const AlbumItem& item, auto done) {
                    QImage picture(300, 300, QImage::Format_RGB32);
                    picture.fill(Qt::red);
                    // A page header: a group's "hdr:" key, or an album page's
                    // album (a tile always has a subtitle).
                    if (item.key.startsWith("hdr:") || item.sub.isEmpty())
                        return done(hasArt(item.tracks) ? picture : QImage());
                    if (red.contains(item.key) || red.contains("*"))
                        done(picture);
                    else
                        waiting.push_back(done);
                };
            }),
          app(*l.app) {
        app.library.rows = catalog(entries);
        // Every genre known (none): the genre grid starts no scan.
        for (const Track& t : app.library.rows)
            app.library.genres.insert(t.path, "");
        app.browser.viewKind = kind;
        app.filter(true);
        app.applyViewMode();
    }
    AlbumGridView* view() const { return app.views.albumView; }
    AlbumGridModel* model() const { return app.views.albumModel; }
    QStringList titles() const {
        QStringList out;
        for (int r = 0; r < model()->rowCount(); ++r)
            out << model()->index(r).data().toString();
        return out;
    }
    // The colour on screen at a point of tile `row` (from its top left).
    QColor pixel(int row, QPoint at) const {
        const QImage shot = view()->viewport()->grab().toImage();
        return shot.pixelColor(view()->visualRect(model()->index(row)).topLeft() + at);
    }
    bool coverRed(int row) const {
        const int half = view()->tileSize().width() / 2;
        return pixel(row, {half, half}) == QColor(Qt::red);
    }
};

struct SizeCase {
    const char* name;
    int steps; // the slider's value, in tenths of a pixel
    double gridSize;
    QSize tile;
};
const std::vector<SizeCase> kSizes = {
    {"smallest", 1100, 110, {110, 152}},
    {"default", 1500, 150, {150, 192}},
    {"largest", 2400, 240, {240, 282}},
    {"a half rounds up", 1505, 151, {151, 193}},
};

// Album tiles Hi (first track labelled ★), Lo (labelled, no ★), New (first
// track unlabelled, its second ★) and Unk (unlabelled).
const QStringList kLabelled = {"Hi/X", "Lo/X", "New/Y", "New/Y", "Unk/Z"};
struct BadgeCase {
    const char* name;
    int kind;
    QString want; // tiles before the label for track 3 | after | probes
};
const std::vector<BadgeCase> kBadges = {
    {"album grid", 1, "Hi:HD Lo New Unk | Hi:HD Lo New:HD Unk | 3:1 5:1"},
    {"artist tiles neither show nor ask", 2, "X Y Z | X Y Z | "},
    {"genre tiles neither show nor ask", 3, "장르 미지정 | 장르 미지정 | "},
};

// Two artists' "Best", two tracks without artist, one without album in the
// folder "Loose"; tracks 1 and 2 are rock, the rest have no genre.
const QStringList kClickCatalog = {"Best/A", "Best/A", "Best/B",  "Best/B",
                                   "Solo/",  "Solo/",  "/C/Loose"};
const QString kCleared = "곡 (검색창에 입력하거나 폴더를 바꾸면 해제)";
struct ClickCase {
    const char* name;
    QString lang;
    int kind;
    QString tile, artist; // the tile as shown (an empty title: index 99)
    QString want;         // "filter | played | status"
};
const std::vector<ClickCase> kClicks = {
    {"no artist", "ko", 2, "(가수 없음)", "", "artist= | 5 | ▶ 가수 '(가수 없음)' · 2" + kCleared},
    {"no artist in English", "en", 2, "(no artist)", "",
     "artist= | 5 | ▶ Artist '(no artist)' · 2 tracks (cleared when you type in the search field "
     "or change the folder)"},
    {"album titled by its folder", "ko", 1, "Loose", "",
     "album= | 7 | ▶ 앨범 'Loose' · 1" + kCleared},
    {"no genre", "ko", 3, "장르 미지정", "", "genre= | 3 | ▶ 장르 '장르 미지정' · 5" + kCleared},
    {"B's Best lists A's too, plays B's", "ko", 1, "Best", "B",
     "album=Best | 3 | ▶ 앨범 'Best' · 4" + kCleared},
    {"outside the tiles: nothing", "ko", 1, "", "", "- |  | "},
};

struct LetterCase {
    const char* name;
    int kind;
    QString search;
    bool toList; // the track list shown after scrolling the grid
    int top;     // the tile whose line the jump brings to the top; -1: no move
};
const std::vector<LetterCase> kLetters = {
    {"album grid jumps", 1, "", false, 30},
    {"track list: nothing", 1, "", true, -1},
    {"empty grid: nothing", 1, "nothing matches", false, -1},
};

// Moon by Bravo, Apple by Charlie, Zoo by Alpha; dates added 100, 200, 300.
struct SortCase {
    const char* name;
    bool toList;
    int item;
    QString want; // "sort mode | dates read | tiles"
};
const std::vector<SortCase> kSorts = {
    {"list: album title only stored", true, 1, "1 | 0 | Zoo Moon Apple"},
    {"grid: album title regroups at once", false, 1, "1 | 0 | Apple Moon Zoo"},
    {"grid: recently added, each time", false, 2, "2 | 4 | Kiwi Zoo Apple Moon"},
    {"list: recently added, each time", true, 2, "2 | 4 | Zoo Moon Apple"},
};

struct CoverCase {
    const char* name;
    bool regroup; // the sort changes before the answer comes
    bool picture; // the answer holds a picture
    bool wantRed;
};
const std::vector<CoverCase> kCovers = {
    {"the row's own cover lands", false, true, true},
    {"a cover for a tile no longer in the row is dropped", true, true, false},
    {"no picture: the default stays", false, false, false},
};

// 80 albums, one track each, in folders F1 … F80. The stand-in for ffmpeg
// logs "begin <folder>" as it starts, waits while "<stub>.hold" exists, then
// logs "<folder>" and writes a picture; the first request is held while the
// window changes, then the queue runs down.
QStringList manyAlbums() {
    QStringList entries;
    for (int i = 1; i <= 80; ++i)
        entries << QString("Al%1/Ar/F%1").arg(i);
    return entries;
}
const QByteArray kCoverStub = "in=$5; for a; do out=$a; done; f=${in##*/m/}; f=${f%%/*}\n"
                              "echo \"begin $f\" >> \"$0.log\"\n"
                              "while [ -e \"$0.hold\" ]; do sleep 0.01; done\n"
                              "echo \"$f\" >> \"$0.log\"\n"
                              "cp \"$0.jpg\" \"$out\"\n";
struct InViewCase {
    const char* name;
    int kind;           // the view at the start
    const char* while_; // while the first request is held: "", "end" (scroll to the
                        // end), "search" (type "Al7"), "list" (the track list's tab)
};
const std::vector<InViewCase> kInView = {
    {"the grid as it is", 1, ""},
    {"the grid scrolled to its end", 1, "end"},
    {"the grid regrouped by a search", 1, "search"},
    {"the track list chosen over the grid", 1, "list"},
    {"the track list scrolled to its end", 0, "end"},
};

} // namespace

class AlbumGridTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }
    void cleanup() { L10n::setLanguage("en"); }

    void tileSizes_data() { test::addRows(kSizes); }
    void tileSizes() {
        const SizeCase& c = test::currentCase(kSizes);
        QStringList twelve;
        for (int i = 1; i <= 12; ++i)
            twelve << QString("Album %1/Artist").arg(i);
        Grid g(twelve, 1);
        g.app.views.gridSlider->setValue(c.steps);
        QCOMPARE(g.app.browser.gridSize, c.gridSize);
        QCOMPARE(g.model()->rowCount(), 12);
        QCOMPARE(g.view()->visualRect(g.model()->index(0)), QRect(QPoint(2, 8), c.tile));
        QVERIFY(g.view()->visualRect(g.model()->index(1)).left() >= 2 + c.tile.width() + 14);
        // An arrow key moves the tiles by a whole pixel, not a tenth.
        const double before = g.app.browser.gridSize;
        QTest::keyClick(g.app.views.gridSlider, c.gridSize < 240 ? Qt::Key_Right : Qt::Key_Left);
        QCOMPARE(std::abs(g.app.browser.gridSize - before), 1.0);
    }

    void letterBar() {
        Grid g({"Album/Artist"}, 1);
        QWidget* host = g.app.views.gridHost;
        QString letters;
        for (SymbolButton* b : g.app.views.letterBar->findChildren<SymbolButton*>()) {
            letters += b->title();
            const QRect r(b->mapTo(host, QPoint()), b->size());
            QCOMPARE(r.right() + 1, host->width() - 2);
            QCOMPARE(r.height(), 14);
        }
        QCOMPARE(letters, QString("ABCDEFGHIJKLMNOPQRSTUVWXYZ#"));
        const QRect bar(g.app.views.letterBar->mapTo(host, QPoint()),
                        g.app.views.letterBar->size());
        QVERIFY(qAbs(bar.center().y() - host->height() / 2) <= 1);
    }

    void badges_data() { test::addRows(kBadges); }
    void badges() {
        const BadgeCase& c = test::currentCase(kBadges);
        Grid g(kLabelled, c.kind);
        g.red << "*";
        g.app.library.qual.insert("/m/A/1.flac", "FLAC 96kHz/24bit ★");
        g.app.library.qual.insert("/m/A/2.flac", "MP3 320kbps");
        g.app.library.qual.insert("/m/A/4.flac", "FLAC 96kHz/24bit ★");
        g.app.reloadAlbumGrid();
        auto tiles = [&] {
            QStringList out;
            for (int r = 0; r < g.model()->rowCount(); ++r)
                out << g.model()->index(r).data().toString() +
                           (g.pixel(r, {8, 13}).red() < 128 ? ":HD" : "");
            return out.join(' ');
        };
        const QString before = tiles();
        // As the quality store reports a new label.
        g.app.library.qual.insert("/m/A/3.flac", "FLAC 192kHz/24bit ★");
        g.app.qualityChanged("/m/A/3.flac");
        QVERIFY(g.model()->cell(0)); // no reload: configured cells stay
        const QString after = tiles();
        g.app.sortChanged(); // a regroup: every tile configured again
        tiles();
        QStringList probes;
        for (auto it = g.probes.cbegin(); it != g.probes.cend(); ++it)
            probes << QFileInfo(it.key()).baseName() + ":" + QString::number(it.value());
        probes.sort();
        QCOMPARE(before + " | " + after + " | " + probes.join(' '), c.want);
    }

    void clicks_data() { test::addRows(kClicks); }
    void clicks() {
        const ClickCase& c = test::currentCase(kClicks);
        Grid g(kClickCatalog, c.kind, c.lang);
        g.app.library.genres.insert("/m/A/1.flac", "Rock");
        g.app.library.genres.insert("/m/A/2.flac", "Rock");
        g.app.filter(true);
        const std::size_t history = g.app.browser.navStack.size();
        int index = 99;
        for (int r = 0; r < g.model()->rowCount(); ++r)
            if (g.model()->index(r).data().toString() == c.tile &&
                (c.artist.isEmpty() || g.app.browser.albums[std::size_t(r)].artist == c.artist))
                index = r;
        if (index == 99)
            g.app.tileClicked(index);
        else
            QTest::mouseClick(g.view()->viewport(), Qt::LeftButton, {},
                              g.view()->visualRect(g.model()->index(index)).center());
        const auto& f = g.app.browser.cellFilter;
        QStringList played;
        for (qint64 id : g.played)
            played << QString::number(id);
        const bool clicked = index != 99;
        QCOMPARE(QStringList({f ? f->key + "=" + f->value : "-", played.join(' '),
                              clicked ? g.app.status->stringValue() : ""})
                     .join(" | "),
                 c.want);
        QCOMPARE(g.app.browser.navStack.size(), history + (clicked ? 1 : 0));
        QCOMPARE(g.app.browser.viewKind, clicked ? 0 : c.kind);
        QCOMPARE(UserDefaults().intIfPresent(keys::kViewKind).value_or(-1), clicked ? 0 : -1);
        QCOMPARE(g.app.views.table->isVisible(), clicked);
        const QImage header = g.app.views.pageCover->pixmap().toImage();
        QCOMPARE(clicked && header.pixelColor(50, 50) == QColor(Qt::red),
                 clicked && hasArt(g.app.browser.filtered.tracks()));
    }

    void letters_data() { test::addRows(kLetters); }
    void letters() {
        const LetterCase& c = test::currentCase(kLetters);
        QStringList entries;
        for (int i = 0; i < 60; ++i)
            entries
                << QString("Album %1/%2 %1").arg(i, 2, 10, QChar('0')).arg(i < 30 ? "Aa" : "Mm");
        Grid g(entries, c.kind);
        g.app.search->setText(c.search);
        g.app.filter(true);
        g.view()->verticalScrollBar()->setValue(40);
        if (c.toList)
            g.app.showListView();
        g.app.letterTapped("M");
        if (c.top < 0)
            QCOMPARE(g.view()->verticalScrollBar()->value(), g.app.browser.albums.empty() ? 0 : 40);
        else
            QCOMPARE(g.view()->visualRect(g.model()->index(c.top)).top(), 0);
    }

    void sorts_data() { test::addRows(kSorts); }
    void sorts() {
        const SortCase& c = test::currentCase(kSorts);
        Grid g({"Moon/Bravo", "Apple/Charlie", "Zoo/Alpha"}, 1);
        g.titles();
        if (c.toList)
            g.app.showListView();
        auto choose = [&] {
            g.app.views.sortPopup->setCurrentIndex(c.item);
            emit g.app.views.sortPopup->activated(c.item);
        };
        choose();
        if (c.item == 2) {
            QTRY_COMPARE_WITH_TIMEOUT(g.app.library.added.size(), 3, ql::test::kOutcomeMs);
            // Track 4, its date not read yet.
            g.app.library.rows.push_back(catalog({"", "", "", "Kiwi/Delta"}).back());
            choose();
            QTRY_COMPARE_WITH_TIMEOUT(g.app.library.added.size(), 4, ql::test::kOutcomeMs);
        }
        QCOMPARE(QString("%1 | %2 | ").arg(g.app.browser.sortMode).arg(g.datesRead) +
                     g.titles().join(' '),
                 c.want);
    }

    // Covers are extracted for the tiles and title cells on screen: what left
    // the screen while its request waited is never extracted.
    void coversInView_data() { test::addRows(kInView); }
    void coversInView() {
        const InViewCase& c = test::currentCase(kInView);
        // A stub of the row's own: nothing a row before left running writes
        // into its log.
        static int rowNumber = 0;
        const QString stub = test::tempFile(QStringLiteral("cover-stub-%1").arg(++rowNumber));
        QVERIFY(test::writeExecutable(stub, kCoverStub));
        QImage picture(300, 300, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(stub + ".jpg", "JPEG"));
        QFile::remove(stub + ".log");
        QVERIFY(test::writeFile(stub + ".hold", "held"));
        // A failed check must not leave the queue waiting.
        const std::shared_ptr<void> release(nullptr, [&](void*) { QFile::remove(stub + ".hold"); });
        // No cover extracted by a row before.
        QDir(JSONStore().dir() + QStringLiteral("/covers")).removeRecursively();
        Grid g(manyAlbums(), c.kind, "ko", stub);
        App& app = g.app;
        const auto log = [&] {
            return QString::fromUtf8(test::readFile(stub + ".log")).split('\n', Qt::SkipEmptyParts);
        };
        const auto paint = [&] {
            QCoreApplication::processEvents();
            g.view()->viewport()->repaint();
            app.views.table->viewport()->repaint();
        };
        paint();
        // A whole first line: the stub may be writing it as it is read.
        QVERIFY(
            QTest::qWaitFor([&] { return test::readFile(stub + ".log").contains('\n'); }, 10000));
        const QString held = log().first().section(' ', 1);
        const QString step = c.while_;
        QAbstractScrollArea* shown =
            c.kind == 0 ? static_cast<QAbstractScrollArea*>(app.views.table) : g.view();
        if (step == "end") {
            shown->verticalScrollBar()->setValue(shown->verticalScrollBar()->maximum());
        } else if (step == "search") {
            QTest::keyClicks(app.search, "Al7");
        } else if (step == "list") {
            for (SymbolButton* b : app.viewModeControl->findChildren<SymbolButton*>())
                if (b->tag() == 2)
                    QTest::mouseClick(b, Qt::LeftButton);
        }
        paint();
        QFile::remove(stub + ".hold");
        QVERIFY(QTest::qWaitFor(
            [&] {
                paint();
                return app.coverQueue->waitForDone(10);
            },
            30000));
        paint();
        QVERIFY(app.coverQueue->waitForDone(10000));

        // The folders on screen now: the grid's tiles, else the table's rows.
        QSet<QString> want{held};
        const auto folder = [](const Track& t) { return t.path.section('/', 2, 2); };
        if (app.browser.viewKind > 0) {
            for (int r = 0; r < g.model()->rowCount(); ++r)
                if (g.view()
                        ->visualRect(g.model()->index(r))
                        .intersects(g.view()->viewport()->rect()))
                    want << folder(app.browser.albums[std::size_t(r)].tracks.front());
        } else {
            const TrackTableView& table = *app.views.table;
            const int last = table.rowAt(table.viewport()->height() - 1);
            for (int r = table.rowAt(0); r >= 0 && r <= (last < 0 ? 79 : last); ++r)
                want << folder(app.browser.filtered[std::size_t(r)]);
        }
        QVERIFY2(want.size() < 80, "everything is on screen: the row proves nothing");
        QStringList extracted = log().filter(QRegularExpression("^F"));
        QStringList wanted(want.begin(), want.end());
        extracted.removeDuplicates();
        extracted.sort();
        wanted.sort();
        QCOMPARE(extracted.join(' '), wanted.join(' '));
    }

    void covers_data() { test::addRows(kCovers); }
    void covers() {
        const CoverCase& c = test::currentCase(kCovers);
        Grid g({"Moon/Bravo", "Apple/Charlie", "Zoo/Alpha"}, 1);
        g.coverRed(0); // painted: the tiles ask for their covers
        QCOMPARE(g.waiting.size(), std::size_t(3));
        const auto first = g.waiting.front();
        if (c.regroup) {
            g.app.views.sortPopup->setCurrentIndex(1);
            g.app.sortChanged();
            g.coverRed(0);
        }
        QImage picture(300, 300, QImage::Format_RGB32);
        picture.fill(Qt::red);
        first(c.picture ? picture : QImage());
        QCOMPARE(g.coverRed(0), c.wantRed);
    }
};

QL_TEST_MAIN(AlbumGridTest)
#include "AlbumGridTest.moc"
