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

    void barAndGroupPlacement() {
        Launched l;
        QWidget* bar = l.bar();
        QVERIFY(bar);
        QCOMPARE(bar->height(), 92);
        // Along the bottom of the content view, its full width.
        QCOMPARE(bar->mapTo(l.app->views.content, QPoint(0, 0)).y() + bar->height(),
                 l.app->views.content->height());
        QCOMPARE(bar->width(), l.app->views.content->width());
        const QRect left = l.inBar(l.group("transportLeft"));
        const QRect centre = l.inBar(l.group("transportCentre"));
        const QRect right = l.inBar(l.group("transportRight"));
        QCOMPARE(left.left(), 16);
        QCOMPARE(left.width(), 290);
        QCOMPARE(right.right() + 1, bar->width() - 20);
        QCOMPARE(centre.left(), left.right() + 1 + 30);
        QCOMPARE(centre.right() + 1 + 30, right.left());
        for (const QRect& g : {left, centre, right})
            QVERIFY2(std::abs(g.center().y() - bar->height() / 2) <= 1, "centred vertically");
        QCOMPARE(l.app->art->size(), QSize(66, 66));
        // The waveform takes the centre's free width, 30 high.
        QCOMPARE(l.app->wave->height(), 30);
        QVERIFY(l.app->wave->width() > centre.width() / 2);
    }

    void toolTips_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("tip");
        // clang-format off
        QTest::newRow("heart") << "heart" << "즐겨찾기";
        QTest::newRow("restart") << "restart" << "처음부터";
        QTest::newRow("shuffle") << "shuffle" << "누를 때마다 현재 목록을 새로 섞습니다";
        QTest::newRow("repeat") << "repeat" << "현재 곡 반복";
        QTest::newRow("now playing") << "nowPlaying" << "큰 앨범 아트 재생 화면";
        QTest::newRow("analysis") << "analysis" << "음질 분석(AudioScan)";
        QTest::newRow("lock") << "lock" << "💎 비트퍼펙트 켜기/끄기";
        QTest::newRow("device") << "device" << "출력 장치 선택";
        QTest::newRow("tools") << "tools"
            << "가사·사운드·크로스페이드·수면 타이머·음질 분석 등 도구 열기/닫기";
        // clang-format on
    }
    void toolTips() {
        QFETCH(QString, control);
        QFETCH(QString, tip);
        Launched l;
        const WindowViews& v = l.app->views;
        const QHash<QString, QWidget*> named{{"heart", v.barFav},
                                             {"restart", v.restartButton},
                                             {"shuffle", v.shuffleButton},
                                             {"repeat", l.app->repeatBtn},
                                             {"nowPlaying", v.nowPlayingButton},
                                             {"analysis", v.analysisButton},
                                             {"lock", v.lockBtn},
                                             {"device", v.deviceButton},
                                             {"tools", v.toolsButton}};
        QWidget* w = named.value(control);
        QCOMPARE(w->toolTip(), tip);
        QVERIFY2(w->window() == l.app->window.get(), "placed in the window");
        // The English pass gives every tip its English text.
        L10n::setLanguage("en");
        l.app->translateUI();
        QCOMPARE(w->toolTip(), L10n::tr(tip));
        QVERIFY(!L10n::hasHangul(w->toolTip()));
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
