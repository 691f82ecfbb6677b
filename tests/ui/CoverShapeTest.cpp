// Guards against: a cover squashed or stretched out of its shape in a page header or a group tile.
// The launched window with covers of known shape and colour in the cover
// cache; what the window shows is read back: the run of the cover's colour
// through a point of the shown cover, across and down, gives the shape drawn.
#include "app/App.h"
#include "ui/AlbumGridModel.h"
#include "ui/AlbumGridView.h"
#include "ui/AlbumGrouping.h"
#include "ui/TabBar.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestHome.h"

#include <QLabel>

using namespace ql;

namespace {

const QString kHiRes = "FLAC 96kHz/24bit ★";

// Album i is "A<i>" by "Lumen", one Hi-Res track tagged "발라드"; its cover
// is covers[i] in colour kColours[i]. `where`: the Hi-Res tab's page header,
// or the genre or artist tile. The run is read through the middle of the
// cover's square, or of its top-left quarter for a mosaic of several.
struct Case {
    const char* name;
    const char* where;
    QList<QSize> covers;
    QSize shape; // the drawn run of album 0's colour, across and down
};
// clang-format off
const std::vector<Case> kCases = {
    {"a 2:1 cover keeps 2:1 in the Hi-Res page header", "header", {{900, 450}}, {112, 56}},
    {"a 1:2 cover keeps 1:2 in the Hi-Res page header", "header", {{450, 900}}, {56, 112}},
    {"a square cover fills the page header", "header", {{600, 600}}, {112, 112}},
    {"a 2:1 cover keeps 2:1 in a genre tile", "genre", {{900, 450}}, {150, 75}},
    {"a 2:1 cover keeps 2:1 in an artist tile", "artist", {{900, 450}}, {150, 75}},
    {"a small 2:1 cover is scaled up in shape", "genre", {{40, 20}}, {150, 75}},
    {"in a mosaic of two, each cover keeps its shape in its cell", "genre", {{900, 450}, {300, 300}}, {75, 37}},
};
// clang-format on
const QColor kColours[] = {Qt::red, Qt::blue};

bool near(QColor seen, QColor want) {
    return std::abs(seen.red() - want.red()) < 40 && std::abs(seen.green() - want.green()) < 40 &&
           std::abs(seen.blue() - want.blue()) < 40;
}

// The run of `colour` through `at`, across and down, in device pixels.
QSize runThrough(const QImage& shot, QPoint at, QColor colour) {
    const auto run = [&](QPoint step) {
        int n = 0;
        for (QPoint p = at; shot.rect().contains(p) && near(shot.pixelColor(p), colour); p += step)
            ++n;
        for (QPoint p = at - step; shot.rect().contains(p) && near(shot.pixelColor(p), colour);
             p -= step)
            ++n;
        return n;
    };
    return {run({1, 0}), run({0, 1})};
}

} // namespace

class CoverShapeTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }

    void keepsItsShape_data() { test::addRows(kCases); }
    void keepsItsShape() {
        const Case& c = test::currentCase(kCases);
        test::LaunchedApp l("en", [](App& a) {
            test::fakes(a).tools.coverProgram = [] { return QStringLiteral("false"); };
        });
        App& app = *l;
        for (int i = 0; i < c.covers.size(); ++i) {
            const Track t{i + 1,   QString("/m/A%1/1.flac").arg(i), "t",
                          "Lumen", QString("A%1").arg(i),           100,
                          {}};
            app.library.rows.push_back(t);
            app.library.qual.insert(t.path, kHiRes);
            app.library.genres.insert(t.path, "발라드");
            QImage cover(c.covers[i], QImage::Format_RGB32);
            cover.fill(kColours[i]);
            app.browser.coverCache.insert(coverKey(t), cover);
        }
        const QString where(c.where);
        QImage shot;
        QPoint middle;
        if (where == "header") {
            app.sidebarClicked(6); // the Hi-Res tab
            QVERIFY(app.views.pageHeader->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(!app.views.pageCover->pixmap().isNull() &&
                                         near(app.views.pageCover->pixmap().toImage().pixelColor(
                                                  app.views.pageCover->pixmap().rect().center()),
                                              kColours[0]),
                                     ql::test::kOutcomeMs);
            shot = app.views.pageCover->pixmap().toImage();
            middle = shot.rect().center();
        } else {
            app.viewModeControl->setSelectedSegment(where == "genre" ? 3 : 1);
            app.viewModeChanged();
            QCOMPARE(app.browser.viewKind, where == "genre" ? 3 : 2);
            AlbumGridView* view = app.views.albumView;
            QTRY_COMPARE_WITH_TIMEOUT(app.views.albumModel->rowCount(), 1, ql::test::kOutcomeMs);
            const QRect tile = view->visualRect(app.views.albumModel->index(0));
            const int edge = tile.width();
            QCOMPARE(edge, 150);
            const int quarter = c.covers.size() > 1 ? edge / 4 : edge / 2;
            middle = tile.topLeft() + QPoint(quarter, quarter);
            QTRY_VERIFY_WITH_TIMEOUT(
                near(view->viewport()->grab().toImage().pixelColor(middle), kColours[0]),
                ql::test::kOutcomeMs);
            shot = view->viewport()->grab().toImage();
            QCOMPARE(shot.devicePixelRatio(), 1.0);
        }
        const qreal ratio = shot.devicePixelRatio();
        const QSize run = runThrough(shot, middle, kColours[0]);
        // Smooth scaling blends a pixel at each edge.
        QVERIFY2(std::abs(run.width() - int(c.shape.width() * ratio)) <= 2 &&
                     std::abs(run.height() - int(c.shape.height() * ratio)) <= 2,
                 qPrintable(QString("drawn %1 x %2").arg(run.width()).arg(run.height())));
    }
};

QL_TEST_MAIN(CoverShapeTest)
#include "CoverShapeTest.moc"
