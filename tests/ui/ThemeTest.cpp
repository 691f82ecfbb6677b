// Guards what the palette and the symbol drawings put on screen: a wrong
// colour, a symbol that draws nothing, an unsafe symbol request.
#include "ui/Theme.h"
#include "ui/Symbol.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QImage>
#include <QPixmap>

#include <cmath>

using namespace ql;

namespace {

// Every symbol name the interface asks for.
const QStringList kInterfaceSymbols{"play.fill",
                                    "pause.fill",
                                    "slider.horizontal.3",
                                    "lock.fill",
                                    "lock.open",
                                    "minus",
                                    "plus",
                                    "speaker.fill",
                                    "chevron.left",
                                    "chevron.right",
                                    "magnifyingglass",
                                    "gearshape",
                                    "rectangle.stack",
                                    "heart.fill",
                                    "heart",
                                    "clock",
                                    "waveform",
                                    "flame",
                                    "leaf",
                                    "calendar",
                                    "shuffle",
                                    "die.face.5",
                                    "sparkles",
                                    "line.3.horizontal.decrease",
                                    "arrow.counterclockwise",
                                    "backward.end.fill",
                                    "forward.end.fill",
                                    "repeat",
                                    "list.bullet",
                                    "waveform.path.ecg",
                                    "hifispeaker"};

int coveredPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) > 0;
    return n;
}

} // namespace

class ThemeTest : public QObject {
    Q_OBJECT
private slots:
    void paletteColours_data() {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QString>("hex");
        QTest::newRow("window") << Theme::window() << "#0c0c0c";
        QTest::newRow("panel") << Theme::panel() << "#181919";
        QTest::newRow("side") << Theme::side() << "#151617";
        QTest::newRow("bar") << Theme::bar() << "#202020";
        QTest::newRow("pill") << Theme::pill() << "#171818";
        QTest::newRow("accent") << Theme::accent() << "#7278ef";
        QTest::newRow("sub") << Theme::sub() << "#8f8f8f";
        QTest::newRow("dim") << Theme::dim() << "#5c5c5c";
    }
    void paletteColours() {
        QFETCH(QColor, colour);
        QFETCH(QString, hex);
        QCOMPARE(colour.name(), hex);
        QCOMPARE(colour.alpha(), 255);
    }

    void everyInterfaceSymbolIsDrawn_data() {
        QTest::addColumn<QString>("name");
        for (const QString& n : kInterfaceSymbols)
            QTest::newRow(qPrintable(n)) << n;
    }
    void everyInterfaceSymbolIsDrawn() {
        QFETCH(QString, name);
        const auto s = sym(name);
        QVERIFY(s.has_value());
        const QImage image = s->pixmap(Qt::red).toImage();
        QCOMPARE(image.size(), QSize(14, 14));
        const int covered = coveredPixels(image);
        QVERIFY2(covered > 10, "the drawing shows something");
        QVERIFY2(covered < 14 * 14, "the drawing is not a filled square");
    }

    void unusableRequestsGiveNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("size");
        QTest::newRow("unknown name") << "no.such.symbol" << 14.0;
        QTest::newRow("empty name") << "" << 14.0;
        QTest::newRow("path out of the icons") << "../l10n/pairs" << 14.0;
        QTest::newRow("absolute path") << "/etc/passwd" << 14.0;
        QTest::newRow("zero size") << "play.fill" << 0.0;
        QTest::newRow("not a number") << "play.fill" << std::nan("");
        QTest::newRow("larger than any screen needs") << "play.fill" << 100000.0;
    }
    void unusableRequestsGiveNothing() {
        QFETCH(QString, name);
        QFETCH(double, size);
        QVERIFY(!sym(name, size).has_value());
    }

    void heavierWeightsWidenStrokes() {
        const auto cover = [](SymbolWeight w) {
            return coveredPixels(sym(QStringLiteral("minus"), 48, w)->pixmap(Qt::white).toImage());
        };
        QVERIFY(cover(SymbolWeight::Regular) < cover(SymbolWeight::Semibold));
        QVERIFY(cover(SymbolWeight::Semibold) < cover(SymbolWeight::Bold));
    }

    void tintColoursEveryDrawnPixel() {
        const QColor tint = Theme::accent();
        const QImage image = sym(QStringLiteral("pause.fill"), 32)->pixmap(tint).toImage();
        int solid = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb px = image.pixel(x, y);
                if (qAlpha(px) != 255)
                    continue;
                ++solid;
                QCOMPARE(px, tint.rgba());
            }
        QVERIFY(solid > 0);
    }
};

QL_TEST_UNIT(ThemeTest)
#include "ThemeTest.moc"
