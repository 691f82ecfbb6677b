// Guards against: transport-bar parts missing, clipped, or clicks that fall through.
#include "analysis/WaveformView.h"
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/ClickImageView.h"
#include "ui/ClickableText.h"
#include "ui/IconButton.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/SymbolButton.h"
#include "ui/TruncatingLabel.h"
#include "ui/l10n/L10n.h"

#include "LaunchedApp.h"
#include "TestHome.h"

#include <QMainWindow>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <memory>

using namespace ql;

namespace {

// A controller launched with Korean texts and its window on screen.
struct Launched : test::LaunchedApp {
    Launched() : LaunchedApp("ko") {}
    QWidget* bar() const { return app->views.transportBar; }
    QWidget* group(const char* name) const { return bar()->findChild<QWidget*>(name); }
    // A widget's rectangle in the bar's coordinates.
    QRect inBar(const QWidget* w) const { return QRect(w->mapTo(bar(), QPoint(0, 0)), w->size()); }
};

// A widget that counts the presses that reach it.
class PressCounter : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

QPoint lineEnd(const ClickableText& text, int block, int dx) {
    const QTextBlock b = text.document()->findBlockByNumber(block);
    const QRectF line = b.layout()->lineAt(0).rect().translated(b.layout()->position());
    return QPoint(int(line.right()) + dx, int(line.center().y())) -
           QPoint(text.horizontalScrollBar()->value(), text.verticalScrollBar()->value());
}

} // namespace

class TransportBarTest : public QObject {
    Q_OBJECT
private slots:
    void init() { UserDefaults().clear(); }
    void cleanup() { L10n::setLanguage("en"); }

    // One row per part a user sees: the bar along the bottom at its height,
    // the left group's width, the cover's size; every tip in English after the pass.
    void barPartsAndTips() {
        Launched l;
        QWidget* bar = l.bar();
        QCOMPARE(bar->height(), 92);
        QCOMPARE(bar->mapTo(l.app->views.content, QPoint(0, 0)).y() + bar->height(),
                 l.app->views.content->height());
        QCOMPARE(l.inBar(l.group("transportLeft")).width(), 290);
        QCOMPARE(l.app->art->size(), QSize(66, 66));
        const WindowViews& v = l.app->views;
        const QList<QWidget*> tipped{v.barFav,         v.restartButton,    v.shuffleButton,
                                     l.app->repeatBtn, v.nowPlayingButton, v.analysisButton,
                                     v.lockBtn,        v.deviceButton,     v.toolsButton};
        for (QWidget* w : tipped) {
            QVERIFY2(w->isVisible() && L10n::hasHangul(w->toolTip()), qPrintable(w->toolTip()));
            QVERIFY(w->window() == l.app->window.get());
        }
        L10n::setLanguage("en");
        l.app->translateUI();
        for (QWidget* w : tipped)
            QVERIFY2(!L10n::hasHangul(w->toolTip()), qPrintable(w->toolTip()));
        QCOMPARE(v.shuffleButton->toolTip(),
                 L10n::tr(QStringLiteral("누를 때마다 현재 목록을 새로 섞습니다")));
    }

    // ---- long texts in the 290-pixel left group ----

    void longTextsAreCut_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<int>("titleLines");
        QTest::addColumn<int>("artistLines");
        QTest::addColumn<bool>("cut");
        QTest::newRow("short texts as they are") << "봄날"
                                                 << "방탄소년단" << 1 << 1 << false;
        QTest::newRow("long title and artist")
            << "Goldberg Variations, BWV 988: Aria da capo (a very long title that must be cut)"
            << "Glenn Gould, Leipzig Gewandhaus Orchestra, Berliner Philharmoniker, and the "
               "Choir of King's College, Cambridge, with friends"
            << 1 << 2 << true;
        QTest::newRow("one long word")
            << QString(60, QChar(u'가')) << QString(120, QChar(u'나')) << 1 << 2 << true;
    }
    void longTextsAreCut() {
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(int, titleLines);
        QFETCH(int, artistLines);
        QFETCH(bool, cut);
        Launched l;
        auto* t = static_cast<TruncatingLabel*>(l.app->views.titleLabel);
        auto* a = static_cast<TruncatingLabel*>(l.app->views.artistLabel);
        t->setText(title);
        a->setText(artist);
        QApplication::processEvents();
        const QRect left = l.inBar(l.group("transportLeft"));
        for (auto [label, lines, full] :
             {std::tuple{t, titleLines, title}, std::tuple{a, artistLines, artist}}) {
            QVERIFY(l.inBar(label).right() <= left.right());
            const QStringList shown = label->shownLines();
            QCOMPARE(int(shown.size()), lines);
            const QFontMetrics fm(label->font());
            for (const QString& line : shown)
                QVERIFY2(fm.horizontalAdvance(line) <= label->width(), qPrintable(line));
            QCOMPARE(shown.last().endsWith(QStringLiteral("…")), cut);
            if (!cut)
                QCOMPARE(shown.join(' '), full);
            QVERIFY(label->height() >= lines * fm.lineSpacing());
        }
    }

    // ---- the clickable cover ----

    void coverPresses_data() {
        QTest::addColumn<bool>("withCallback");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<int>("calls");
        QTest::newRow("a press calls once") << true << false << 1;
        QTest::newRow("a double click calls twice") << true << true << 2;
        QTest::newRow("without a callback nothing") << false << true << 0;
    }
    void coverPresses() {
        QFETCH(bool, withCallback);
        QFETCH(bool, doubleClick);
        QFETCH(int, calls);
        PressCounter behind;
        auto* cover = new ClickImageView(&behind);
        cover->setFixedSize(66, 66);
        int called = 0;
        if (withCallback)
            cover->onClick = [&] { ++called; };
        behind.show();
        // A double click arrives as a press, a release, then the second
        // press as a double-click event.
        QTest::mouseClick(cover, Qt::LeftButton);
        if (doubleClick)
            QTest::mouseDClick(cover, Qt::LeftButton);
        QCOMPARE(called, calls);
        QCOMPARE(behind.presses, 0); // the press never falls through
        QCOMPARE(cover->cursor().shape(), Qt::PointingHandCursor);
    }

    // ---- the clickable text ----

    void textPresses_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("index");
        // "첫 줄" is 0…3, "second line" 4…15, "끝" 16…17 (the end).
        QTest::newRow("first character") << "first" << 0;
        QTest::newRow("right of the first line") << "firstEnd" << 3;
        QTest::newRow("right of the last line") << "lastEnd" << 17;
        QTest::newRow("below the last line") << "below" << 17;
    }
    void textPresses() {
        QFETCH(QString, where);
        QFETCH(int, index);
        ClickableText text;
        text.resize(400, 300);
        text.setPlainText("첫 줄\nsecond line\n끝");
        text.show();
        QVERIFY(QTest::qWaitForWindowExposed(&text));
        QList<int> got;
        int caretInCallback = -1;
        text.onClick = [&](int i) {
            got << i;
            caretInCallback = text.textCursor().position();
        };
        QPoint at;
        if (where == "first")
            at = text.cursorRect(QTextCursor(text.document())).center() + QPoint(2, 0);
        else if (where == "firstEnd")
            at = lineEnd(text, 0, 100);
        else if (where == "lastEnd")
            at = lineEnd(text, 2, 100);
        else
            at = QPoint(5, text.viewport()->height() - 5);
        QTest::mouseClick(text.viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(got, QList<int>{index});
        // The callback ran before the view moved its caret there.
        QCOMPARE(caretInCallback, 0);
        QCOMPARE(text.textCursor().position(), index);
    }

    void textWithoutCallbackStillPlacesTheCaret() {
        ClickableText text;
        text.resize(400, 300);
        text.setPlainText("첫 줄\nsecond line");
        text.show();
        QVERIFY(QTest::qWaitForWindowExposed(&text));
        QTest::mouseClick(text.viewport(), Qt::LeftButton, {}, lineEnd(text, 1, 100));
        QCOMPARE(text.textCursor().position(), 15);
    }
};

QL_TEST_MAIN(TransportBarTest)
#include "TransportBarTest.moc"
