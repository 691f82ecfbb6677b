// Guards against: Korean shown in English mode between two translation passes,
// controls cut at the default or the minimum window size, a tools panel drawn
// over the track table, a page header that stretches its cover or shows
// another page's.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "downloader/FlacFetcher.h"
#include "ui/AlbumGrouping.h"
#include "ui/RoundedImage.h"
#include "ui/StatusLabel.h"
#include "ui/TabBar.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/TruncatingLabel.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextEdit>

using namespace ql;
using test::addRows;
using test::currentCase;

namespace {

// The test's own catalog: Korean names are data and may show as they are.
const QStringList kNames{"봄날의 노래", "김민수", "가을 아침", "이서연", "겨울 바다", "새 노래"};

std::vector<Track> catalog() {
    std::vector<Track> rows;
    for (int i = 0; i < 6; ++i)
        rows.push_back(Track{i + 1,
                             QString("/Music/%1/%2.flac").arg(i % 2 ? "재즈" : "Rock").arg(i),
                             i % 3 ? kNames[0] : kNames[4],
                             i % 2 ? kNames[1] : kNames[3],
                             i % 2 ? kNames[2] : QString("Harbor"),
                             200,
                             {}});
    return rows;
}

// A view inside which the pass translates nothing.
bool skipped(const QWidget* w) {
    for (; w; w = w->isWindow() ? nullptr : w->parentWidget())
        if (Translator::isExempt(w) || qobject_cast<const QTextEdit*>(w) ||
            qobject_cast<const QPlainTextEdit*>(w) || qobject_cast<const QAbstractItemView*>(w))
            return true;
    return false;
}

// What is left of a shown text once the catalog's names and folders are taken
// out, when it still holds Hangul.
void check(QStringList& out, const QString& where, QString text) {
    for (const QString& name : kNames)
        text.remove(name);
    text.remove("재즈");
    if (L10n::hasHangul(text))
        out << where + ": " + text;
}

// Every text the translation pass covers in the windows on screen, drawn
// first (a paint is what a user sees), that still holds Korean.
QStringList koreanOnScreen() {
    QStringList out;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || window->windowType() == Qt::Popup ||
            window->windowType() == Qt::ToolTip || skipped(window))
            continue;
        // A window opened by the step is drawn first when it is exposed (the
        // tick is stopped: no pass runs meanwhile).
        if (!QTest::qWaitForWindowExposed(window))
            out << "not exposed: " + window->windowTitle();
        window->repaint();
        check(out, "window title", window->windowTitle());
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!w->isVisible() || skipped(w))
                continue;
            const QString where = QString(w->metaObject()->className()) + ' ' + w->objectName();
            check(out, where + " tip", w->toolTip());
            if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w))
                check(out, where, w->property("text").toString());
            if (auto* edit = qobject_cast<QLineEdit*>(w))
                check(out, where + " placeholder", edit->placeholderText());
            if (auto* combo = qobject_cast<QComboBox*>(w))
                for (int i = 0; i < combo->count(); ++i)
                    check(out, where + " item", combo->itemText(i));
            if (auto* bar = qobject_cast<QMenuBar*>(w))
                for (QAction* menu : bar->actions()) {
                    check(out, "menu", menu->text());
                    if (menu->menu())
                        for (QAction* item : menu->menu()->actions())
                            check(out, "menu item", item->text());
                }
            if (auto* table = qobject_cast<QTableView*>(w))
                for (int c = 0; c < table->model()->columnCount(); ++c)
                    check(out, "column", table->model()->headerData(c, Qt::Horizontal).toString());
        }
    }
    return out;
}

struct Step {
    const char* name;
    std::function<void(App&)> act;
};

void tab(App& app, int segment) {
    app.viewModeControl->setSelectedSegment(segment);
    app.viewModeChanged();
}

// clang-format off
const std::vector<Step>& walk() {
    static const std::vector<Step> steps{
        {"the launch", [](App&) {}},
        {"albums tab", [](App& a) { tab(a, 0); }},
        {"artists tab", [](App& a) { tab(a, 1); }},
        {"tracks tab", [](App& a) { tab(a, 2); }},
        {"genres tab", [](App& a) { tab(a, 3); }},
        {"recently added tab", [](App& a) { tab(a, 4); }},
        {"hi-res tab", [](App& a) { tab(a, 5); }},
        {"sort by album title", [](App& a) { tab(a, 0); a.views.sortPopup->setCurrentIndex(1); a.sortChanged(); }},
        {"favourites", [](App& a) { a.sidebarClicked(1); }},
        {"recently downloaded", [](App& a) { a.sidebarClicked(5); }},
        {"hi-res list", [](App& a) { a.sidebarClicked(6); }},
        {"most played", [](App& a) { a.sidebarClicked(2); }},
        {"never played", [](App& a) { a.sidebarClicked(3); }},
        {"new this week", [](App& a) { a.sidebarClicked(4); }},
        {"local", [](App& a) { a.sidebarClicked(0); }},
        {"an artist page", [](App& a) { a.applyCellFilter("artist", kNames[1]); }},
        {"an album page", [](App& a) { a.applyCellFilter("album", kNames[2]); }},
        {"back", [](App& a) { a.navBack(); }},
        {"a search", [](App& a) { a.search->setText("노래"); a.filter(); }},
        {"a catalog update", [](App& a) {
             a.search->setText({});
             a.library.rows.push_back(Track{40, "/Music/Rock/40.flac", kNames[5], kNames[1], {}, 90, {}});
             a.filter();
         }},
        {"tools panel", [](App& a) { a.toggleTools(); }},
        {"sound effects", [](App& a) { a.toggleFXPanel(); }},
        {"now playing", [](App& a) { a.showNowPlaying(); }},
        {"lyrics", [](App& a) { a.toggleLyrics(); }},
        {"quality analysis", [](App& a) { a.showAudioScan(); }},
        {"signal path", [](App& a) { a.showSignalPath(); }},
        {"FLAC download", [](App& a) { a.showFetch(); }},
        {"play all", [](App& a) { a.sidebarClicked(10); }},
    };
    return steps;
}
// clang-format on

struct LayoutCase {
    const char* name;
    const char* lang;
    QSize size;
};
const std::vector<LayoutCase> kSizes{
    {"English, default size", "en", {1280, 820}},
    {"English, minimum size", "en", {1180, 700}},
    {"Korean, default size", "ko", {1280, 820}},
    {"Korean, minimum size", "ko", {1180, 700}},
};

// A launched window over the test's catalog, its tools panel open.
struct Shown : test::LaunchedApp {
    explicit Shown(const char* lang)
        : LaunchedApp(lang, [](App& a) {
              UserDefaults().set(keys::kToolsOpen, true);
              test::fakes(a).desktop.alert = [](const QString&, const QString&,
                                                const QStringList&) { return 1; };
              test::fakes(a).tools.coverProgram = [] { return QStringLiteral("false"); };
              a.library.rows = catalog();
          }) {
        app->rebuildFolders();
        app->filter();
    }
};

// The part of `shot` (a grab of `window`) where `w` lies, `area` in w's own
// coordinates.
QImage cut(const QImage& shot, const QWidget& window, const QWidget* w, const QRect& area) {
    const qreal ratio = shot.devicePixelRatio();
    const QRect at(w->mapTo(&window, area.topLeft()), area.size());
    return shot.copy(QRect((QPointF(at.topLeft()) * ratio).toPoint(), at.size() * ratio));
}

// Pixels of `image` unlike its top-left one.
int inked(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) != image.pixel(0, 0);
    return n;
}

QImage coloured(QSize size, QColor colour) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

QImage headerCover(App& app) {
    return app.views.pageCover->pixmap().toImage();
}

} // namespace

class WindowLanguageTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }
    void cleanup() { L10n::setLanguage("en"); }

    // Right after each change, with no tick in between: nothing the pass
    // covers reaches the screen in Korean.
    void englishWalk() {
        Shown s("en");
        for (const Step& step : walk()) {
            step.act(*s.app);
            const QStringList left = koreanOnScreen();
            QVERIFY2(left.isEmpty(), qPrintable(QString(step.name) + " → " + left.join(" | ")));
        }
    }

    // Every control keeps the width it asks for, inside the window; the
    // table fits without a horizontal scroll bar. Catalog texts may be cut.
    void nothingClipped_data() { addRows(kSizes); }
    void nothingClipped() {
        const LayoutCase& c = currentCase(kSizes);
        Shown s(c.lang);
        QMainWindow& window = *s.app->window;
        window.resize(c.size);
        QTRY_COMPARE_WITH_TIMEOUT(window.size(), c.size, ql::test::kOutcomeMs);
        QCoreApplication::processEvents();
        QStringList cut;
        const QRect inside = window.rect();
        for (QWidget* w : window.findChildren<QWidget*>()) {
            const bool control = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                                 qobject_cast<QComboBox*>(w);
            if (!control || !w->isVisible() || skipped(w) || dynamic_cast<StatusLabel*>(w) ||
                qobject_cast<TruncatingLabel*>(w) || w->parentWidget() == s.app->views.letterBar)
                continue;
            QString name = w->property("text").toString() + ' ' + w->objectName();
            int wanted = w->sizeHint().width();
            if (auto* combo = qobject_cast<QComboBox*>(w)) {
                // A pop-up keeps the width it measured when first shown: a
                // fresh one with the same items says what they need now.
                QComboBox fresh;
                fresh.setFont(combo->font());
                fresh.setFrame(combo->hasFrame());
                for (int i = 0; i < combo->count(); ++i)
                    fresh.addItem(combo->itemIcon(i), combo->itemText(i));
                wanted = fresh.sizeHint().width();
                name = combo->currentText();
            }
            if (w->width() < wanted)
                cut << QString("%1 %2 < %3").arg(name).arg(w->width()).arg(wanted);
            if (!inside.contains(QRect(w->mapTo(&window, QPoint()), w->size())))
                cut << name + " outside the window";
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(" | ")));

        tab(*s.app, 2);
        QCoreApplication::processEvents();
        TrackTableView* table = s.app->views.table;
        QHeaderView* header = table->horizontalHeader();
        QVERIFY(!table->horizontalScrollBar()->isVisible());
        QVERIFY(header->length() <= table->viewport()->width());
        for (int column = 0; column < header->count(); ++column)
            if (s.app->views.tableModel->identifier(column) != "title")
                QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column),
                         qPrintable(s.app->views.tableModel->identifier(column)));
    }

    // With the tools panel open (its FLAC button too) on a page with a header,
    // the track table scrolled to its end shows its last row whole, with the
    // scroll bar's lower end: what the window draws there is what it draws
    // with the panel made invisible in place, and the row holds its text.
    void toolsPanelLeavesTheTableVisible_data() { addRows(kSizes); }
    void toolsPanelLeavesTheTableVisible() {
        const LayoutCase& c = currentCase(kSizes);
        QTemporaryDir resources;
        QVERIFY(test::writeFile(resources.filePath("flac_fetch.py"), "#!/usr/bin/env python3\n"));
        test::LaunchedApp l(c.lang, [&](App& a) {
            UserDefaults().set(keys::kToolsOpen, true);
            a.fetcher->setFolders({resources.path(), {}});
            a.library.rows = catalog();
            for (int i = 0; i < 30; ++i)
                a.library.rows.push_back(Track{100 + i,
                                               QString("/Music/Rock/%1.flac").arg(100 + i),
                                               QString("Row %1").arg(i),
                                               kNames[1],
                                               {},
                                               60,
                                               {}});
        });
        App& app = *l.app;
        QVERIFY(app.hasFetcher());
        QMainWindow& window = *app.window;
        window.resize(c.size);
        QTRY_COMPARE_WITH_TIMEOUT(window.size(), c.size, ql::test::kOutcomeMs);
        app.rebuildFolders();
        app.filter();
        tab(app, 2);
        app.applyCellFilter("artist", kNames[1]);
        QVERIFY(app.views.pageHeader->isVisible() && app.views.extrasView->isVisible());
        TrackTableView* table = app.views.table;
        QScrollBar* bar = table->verticalScrollBar();
        // Scrolled to the end of the list as laid out once the header is in.
        QTRY_VERIFY(
            (table->scrollToBottom(), bar->maximum() > 0 && bar->value() == bar->maximum()));

        const QModelIndex last = table->model()->index(table->model()->rowCount() - 1, 0);
        QCOMPARE(table->model()->data(last).toString(), QString("Row 29"));
        QRect row = table->visualRect(last);
        row.setWidth(table->viewport()->width());
        QVERIFY2(
            table->viewport()->rect().contains(row),
            qPrintable(
                QString("row at %1, view %2 high").arg(row.y()).arg(table->viewport()->height())));
        QVERIFY(bar->isVisible());
        const QRect barEnd(0, bar->height() - bar->width(), bar->width(), bar->width());

        const QImage shown = window.grab().toImage();
        auto* hidden = new QGraphicsOpacityEffect;
        hidden->setOpacity(0);
        app.views.extrasView->setGraphicsEffect(hidden);
        const QImage bare = window.grab().toImage();
        app.views.extrasView->setGraphicsEffect(nullptr);

        const QImage rowShown = cut(shown, window, table->viewport(), row);
        QCOMPARE(rowShown, cut(bare, window, table->viewport(), row));
        QCOMPARE(cut(shown, window, bar, barEnd), cut(bare, window, bar, barEnd));
        // The row's texts are drawn there, not an empty band.
        QVERIFY(inked(rowShown) > 50);
    }

    // The window draws its own title area: no system title bar, our three
    // buttons left of the arrows. A double-click on the bar's background
    // maximises and restores; a press alone does not start a move. Where the
    // platform cannot move a frameless window (the offscreen one cannot), a
    // drag from the bar's background gives the window its system frame back
    // and hides the buttons.
    void ownTitleArea() {
        Shown s("en");
        QMainWindow& window = *s.app->window;
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        auto* buttons = window.findChild<QWidget*>("windowButtons");
        auto* bar = window.findChild<QWidget*>("topBar");
        QVERIFY(buttons && buttons->isVisible() && bar);
        QCOMPARE(buttons->findChildren<QAbstractButton*>().size(), 3);
        QVERIFY(buttons->mapTo(bar, QPoint(buttons->width(), 0)).x() <= 88);
        for (QAbstractButton* b : buttons->findChildren<QAbstractButton*>())
            QVERIFY2(!L10n::hasHangul(b->toolTip()), qPrintable(b->toolTip()));

        auto* maximize = window.findChild<QAbstractButton*>("maximizeWindow");
        maximize->click();
        QTRY_VERIFY_WITH_TIMEOUT(window.isMaximized(), ql::test::kOutcomeMs);
        maximize->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isMaximized(), ql::test::kOutcomeMs);

        // The free room between the view tabs and the gear.
        const QPoint free(bar->width() - 120, bar->height() / 2);
        QTest::mouseDClick(bar, Qt::LeftButton, {}, free);
        QTRY_VERIFY_WITH_TIMEOUT(window.isMaximized(), ql::test::kOutcomeMs);
        QTest::mouseDClick(bar, Qt::LeftButton, {}, free);
        QTRY_VERIFY_WITH_TIMEOUT(!window.isMaximized(), ql::test::kOutcomeMs);
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);

        QTest::mousePress(bar, Qt::LeftButton, {}, free);
        QTest::mouseMove(bar, free + QPoint(1, 0)); // within the drag distance
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        QTest::mouseMove(bar, free + QPoint(QApplication::startDragDistance() + 1, 0));
        QVERIFY(!(window.windowFlags() & Qt::FramelessWindowHint));
        QVERIFY(window.isVisible());
        QVERIFY(!buttons->isVisible());
    }

    // "모두 보기" gives back what "Quavelark 숨기기" minimised.
    void showAllRestoresHiddenWindows() {
        Shown s("ko");
        QMainWindow& window = *s.app->window;
        QMenu* app = window.menuBar()->actions().value(0)->menu();
        QVERIFY(app);
        const QList<QAction*> items = app->actions();
        QCOMPARE(items[0]->text(), QString("Quavelark 숨기기"));
        QCOMPARE(items[2]->text(), QString("모두 보기"));
        emit app->aboutToShow();
        QVERIFY(!items[2]->isEnabled()); // nothing to restore
        items[0]->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(window.isMinimized(), ql::test::kOutcomeMs);
        emit app->aboutToShow();
        QVERIFY(items[2]->isEnabled());
        items[2]->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isMinimized(), ql::test::kOutcomeMs);
    }

    // A 300 x 200 cover keeps its aspect inside the 112-point square, with
    // rounded corners.
    void headerCoverKeepsItsAspect() {
        Shown s("en");
        App& app = *s.app;
        app.browser.coverCache.insert(coverKey(app.library.rows[1]), coloured({300, 200}, Qt::red));
        app.applyCellFilter("album", kNames[2]);
        const QImage shown = headerCover(app);
        const qreal ratio = app.views.pageCover->devicePixelRatioF();
        QCOMPARE(shown.size(), QSize(112, 112) * ratio);
        const int mid = shown.width() / 2;
        QCOMPARE(QColor(shown.pixel(mid, mid)), QColor(Qt::red));
        // 300 x 200 fitted: 112 wide, about 75 high, centred.
        QCOMPARE(qAlpha(shown.pixel(mid, int(10 * ratio))), 0);
        QCOMPARE(qAlpha(shown.pixel(mid, int(102 * ratio))), 0);
        QCOMPARE(QColor(shown.pixel(mid, int(25 * ratio))), QColor(Qt::red));
        // The corner of the band is inside the square: the square's own
        // corners are rounded away.
        QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
    }

    // Each header shows its own tracks' cover or the default one.
    void headerCoverIsThePagesOwn() {
        Shown s("en");
        App& app = *s.app;
        const QImage fallback = roundedImage(App::defaultCover(),
                                             int(112 * app.views.pageCover->devicePixelRatioF()), 6)
                                    .toImage();
        // Favourites with one track that has a cover …
        const Track first = app.library.rows[0];
        app.browser.coverCache.insert(coverKey(first), coloured({50, 50}, Qt::red));
        app.toggleFav(first);
        app.sidebarClicked(1);
        QTRY_COMPARE_WITH_TIMEOUT(QColor(headerCover(app).pixel(56, 56)), QColor(Qt::red),
                                  ql::test::kOutcomeMs);
        // … then with another single track (same title, same count) without one.
        app.toggleFav(first);
        app.toggleFav(app.library.rows[1]);
        app.filter();
        QCOMPARE(app.browser.filtered.size(), std::size_t(1));
        QTRY_COMPARE_WITH_TIMEOUT(headerCover(app), fallback, ql::test::kOutcomeMs);

        // An album page shows the cover its rows show.
        const Track& inAlbum = app.library.rows[1];
        app.browser.coverCache.insert(coverKey(inAlbum), coloured({50, 50}, Qt::blue));
        app.applyCellFilter("album", inAlbum.album);
        QCOMPARE(QColor(headerCover(app).pixel(56, 56)), QColor(Qt::blue));
    }

    // A group tile's mosaic follows its tracks: the "no genre" tile drawn
    // while every track lacked a genre is not shown once only one does.
    void mosaicFollowsItsTracks() {
        Shown s("en");
        App& app = *s.app;
        const std::vector<Track> rows = app.library.rows;
        for (const Track& t : rows)
            app.browser.coverCache.insert(coverKey(t), coloured({20, 20}, Qt::green));
        AlbumItem all{"genre:no", "No genre", {}, rows, "genre", {}};
        QImage before;
        app.groupCover(all, [&](const QImage& image) { before = image; });
        QVERIFY(!before.isNull());
        // Now only the untagged track of a folder without a cover is left.
        const Track alone{50, "/Music/Other/50.flac", "x", kNames[1], {}, 10, {}};
        AlbumItem fewer{"genre:no", "No genre", {}, {alone}, "genre", {}};
        bool answered = false;
        QImage after;
        app.groupCover(fewer, [&](const QImage& image) {
            answered = true;
            after = image;
        });
        QTRY_VERIFY_WITH_TIMEOUT(answered, ql::test::kOutcomeMs);
        QVERIFY(after.isNull()); // no picture of its own: the tile shows the default
    }
};

QL_TEST_MAIN(WindowLanguageTest)
#include "WindowLanguageTest.moc"
