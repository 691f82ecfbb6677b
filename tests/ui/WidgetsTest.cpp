// Guards against: widgets that show the wrong state, icon or text.
#include "ui/ButtonFactory.h"
#include "ui/IconButton.h"
#include "ui/PlayButton.h"
#include "ui/SidebarButton.h"
#include "ui/Surface.h"
#include "ui/TabBar.h"
#include "ui/Theme.h"
#include "ui/TruncatingLabel.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QHBoxLayout>

#include <memory>

using namespace ql;

namespace {

const QStringList kViewTabs{"앨범", "가수", "곡", "장르", "최근 추가", "하이레즈"};

// A tab bar shown on the offscreen screen, counting its actions.
struct ShownTabs {
    QWidget host;
    TabBar bar{kViewTabs, &host};
    int actions = 0;
    int selectedAtAction = -2;
    ShownTabs() {
        bar.action = [this] {
            ++actions;
            selectedAtAction = bar.selectedSegment();
        };
        host.show();
    }
    QList<bool> semibold() const {
        QList<bool> out;
        for (SymbolButton* b : bar.buttons())
            out << (b->titleFont().weight() == QFont::DemiBold);
        return out;
    }
};

QList<bool> onlyAt(int index, int count) {
    QList<bool> out;
    for (int i = 0; i < count; ++i)
        out << (i == index);
    return out;
}

QString symbolOf(const SymbolButton& b) {
    return b.image() ? b.image()->name() : QString();
}

} // namespace

class WidgetsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { L10n::setLanguage("en"); }

    // ---- tab bar ----

    void newTabBarHasNoSelection() {
        ShownTabs t;
        QCOMPARE(t.bar.selectedSegment(), -1);
        QCOMPARE(t.semibold(), onlyAt(-1, 6));
        QVERIFY(!t.bar.indicator()->isVisible());
    }

    void selectingFromCode_data() {
        QTest::addColumn<int>("index");
        QTest::newRow("the third") << 2;
        QTest::newRow("none (-1)") << -1;
        QTest::newRow("one past the last") << 6;
    }
    void selectingFromCode() {
        QFETCH(int, index);
        ShownTabs t;
        t.bar.setSelectedSegment(index);
        QCOMPARE(t.actions, 0);
        QCOMPARE(t.semibold(), onlyAt(index, 6));
        const bool valid = index >= 0 && index < 6;
        QCOMPARE(t.bar.indicator()->isVisible(), valid);
        if (valid)
            QCOMPARE(t.bar.indicator()->geometry(), t.bar.buttons()[size_t(index)]->geometry());
    }

    void aClickSelectsThenActsOnce() {
        ShownTabs t;
        QTest::mouseClick(t.bar.buttons()[4], Qt::LeftButton);
        QCOMPARE(t.bar.selectedSegment(), 4);
        QCOMPARE(t.actions, 1);
        QCOMPARE(t.selectedAtAction, 4);
        QCOMPARE(t.semibold(), onlyAt(4, 6));
    }

    // ---- play button ----

    void playButtonIconFollowsItsTitle_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("symbol");
        // clang-format off
        QTest::newRow("Korean pause") << "en" << "⏸ 일시정지" << "pause.fill";
        QTest::newRow("English pause written by the pass") << "en" << "⏸ Pause" << "pause.fill";
        QTest::newRow("Korean play") << "en" << "▶ 재생" << "play.fill";
        QTest::newRow("new button, no title yet") << "en" << "" << "play.fill";
        QTest::newRow("Korean mode: an English title is not its pause")
            << "ko" << "⏸ Pause" << "play.fill";
        // clang-format on
    }
    void playButtonIconFollowsItsTitle() {
        QFETCH(QString, lang);
        QFETCH(QString, title);
        QFETCH(QString, symbol);
        L10n::setLanguage(lang);
        PlayButton b;
        if (!title.isEmpty())
            b.setTitle(title);
        QCOMPARE(symbolOf(b), symbol);
        QCOMPARE(b.title(), title);
    }

    // The pass rewrites "⏸ 일시정지" to "⏸ Pause" through the title's property;
    // the button must keep showing pause while music plays.
    void translationPassKeepsThePauseIcon() {
        QWidget host;
        auto* b = new PlayButton(&host);
        b->setTitle("⏸ 일시정지");
        QCOMPARE(Translator::translateView(&host), 1);
        QCOMPARE(b->title(), QString("⏸ Pause"));
        QCOMPARE(symbolOf(*b), QString("pause.fill"));
        b->setTitle("▶ 재생");
        Translator::translateView(&host);
        QCOMPARE(b->title(), QString("▶ Play"));
        QCOMPARE(symbolOf(*b), QString("play.fill"));
    }

    // ---- icon button ----

    void iconButtonNeverHoldsText_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("title setter") << "setter";
        QTest::newRow("text property") << "property";
        QTest::newRow("translation pass") << "pass";
    }
    void iconButtonNeverHoldsText() {
        QFETCH(QString, how);
        QWidget host;
        auto* b = new IconButton(&host);
        if (how == "setter")
            b->setTitle("도구");
        else if (how == "property")
            b->setProperty("text", "도구");
        else
            QCOMPARE(Translator::translateView(&host), 0);
        QCOMPARE(b->title(), QString());
        QCOMPARE(b->text(), QString());
        QCOMPARE(b->imagePosition(), SymbolButton::ImagePosition::ImageOnly);
    }

    // ---- sidebar button ----

    // Album and artist arrive joined by a line break: each keeps its own
    // line, and only the last line allowed is cut.
    void twoLineLabel_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<QStringList>("shown");
        const QString longAlbum = QString(80, QChar(u'가'));
        QTest::newRow("album over artist")
            << "봄날의 노래\n김민수" << 2 << QStringList{"봄날의 노래", "김민수"};
        QTest::newRow("artist alone") << "김민수" << 2 << QStringList{"김민수"};
        QTest::newRow("one line joins them with a blank")
            << "봄날의 노래\n김민수" << 1 << QStringList{"봄날의 노래 김민수"};
        QTest::newRow("a long album leaves the artist to the cut line")
            << longAlbum + "\n김민수" << 2 << QStringList{"<wrapped>", "<cut>"};
    }
    void twoLineLabel() {
        QFETCH(QString, text);
        QFETCH(int, maxLines);
        QFETCH(QStringList, shown);
        TruncatingLabel label(maxLines);
        label.setText(text);
        const int width = 300;
        const QStringList lines = label.shownLines(width);
        QCOMPARE(lines.size(), shown.size());
        const QFontMetrics fm(label.font());
        for (int i = 0; i < lines.size(); ++i) {
            QVERIFY2(fm.horizontalAdvance(lines[i]) <= width, qPrintable(lines[i]));
            if (shown[i] == "<cut>")
                QVERIFY2(lines[i].endsWith(u'…'), qPrintable(lines[i]));
            else if (shown[i] == "<wrapped>")
                QVERIFY2(!lines[i].isEmpty() && text.startsWith(lines[i]), qPrintable(lines[i]));
            else
                QCOMPARE(lines[i], shown[i]);
        }
    }

    void sidebarEntryIdleAndActive() {
        SidebarButton b;
        b.setup("flame", "자주 들은 곡");
        QCOMPARE(b.label(), L10n::tr("자주 들은 곡"));
        QCOMPARE(symbolOf(b), QString("flame"));
        for (const bool active : {false, true, false}) {
            const QColor colour = active ? Theme::accent() : QColor(Qt::white);
            b.setActive(active);
            QCOMPARE(b.contentTint(), colour);
            QCOMPARE(b.titleColor(), colour);
            QCOMPARE(b.stripeVisible(), active);
            QCOMPARE(b.title(), "  " + b.label());
        }
    }

    void sidebarStripeIsCentred_data() {
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("y");
        QTest::newRow("36 high (the sidebar's)") << 36 << 8.0;
    }
    void sidebarStripeIsCentred() {
        QFETCH(int, height);
        QFETCH(double, y);
        SidebarButton b;
        b.setup("clock", "최근 받은 곡");
        b.setActive(true);
        b.resize(184, height);
        QCOMPARE(b.stripeFrame(), QRectF(0, y, 3, 20));
    }

    // ---- factories ----

    void roundButtons_data() {
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<double>("diameter");
        QTest::addColumn<bool>("hasImage");
        QTest::newRow("44 across") << "play.fill" << 44.0 << true;
        QTest::newRow("unknown symbol keeps its circle") << "nope" << 30.0 << false;
    }
    void roundButtons() {
        QFETCH(QString, symbol);
        QFETCH(double, diameter);
        QFETCH(bool, hasImage);
        int clicks = 0;
        std::unique_ptr<SymbolButton> b(roundButton(
            symbol, {diameter, 10, Theme::panel(), Qt::white, "tip"}, [&] { ++clicks; }));
        QCOMPARE(b->image().has_value(), hasImage);
        b->show();
        QCOMPARE(b->size(), QSize(int(diameter), int(diameter)));
        QCOMPARE(b->cornerRadius(), diameter / 2);
        QTest::mouseClick(b.get(), Qt::LeftButton);
        QCOMPARE(clicks, 1);
    }

    void flatButtons_data() {
        QTest::addColumn<bool>("withSymbol");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("position");
        QTest::newRow("text only") << false << "A" << int(SymbolButton::ImagePosition::NoImage);
        QTest::newRow("icon only") << true << "" << int(SymbolButton::ImagePosition::ImageOnly);
        QTest::newRow("icon before text")
            << true << "뒤로" << int(SymbolButton::ImagePosition::ImageLeading);
    }
    void flatButtons() {
        QFETCH(bool, withSymbol);
        QFETCH(QString, title);
        QFETCH(int, position);
        const QColor tint = Theme::sub();
        std::unique_ptr<SymbolButton> b(
            flatButton(withSymbol ? std::optional<QString>("gearshape") : std::nullopt, title,
                       {15, tint, {}}));
        QCOMPARE(int(b->imagePosition()), position);
        QCOMPARE(b->image().has_value(), withSymbol);
        QCOMPARE(b->title(), title); // as given: the factory does not translate
        if (!title.isEmpty())
            QCOMPARE(b->titleColor(), tint);
    }
};

QL_TEST_UNIT(WidgetsTest)
#include "WidgetsTest.moc"
