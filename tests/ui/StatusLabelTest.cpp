// Guards against: status messages replaced too early or kept too long.
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "TestHome.h"
#include "TestUnits.h"

using namespace ql;

namespace {
// A status line on a clock the test moves by hand.
struct Driven {
    qint64 now = 1'000'000;
    StatusLabel label{QStringLiteral("음원 불러오는 중…")};
    Driven() {
        label.setClock([this] { return now; });
    }
    void at(double seconds) { now = 1'000'000 + qint64(seconds * 1000.0 + 0.5); }
};

} // namespace

class StatusLabelTest : public QObject {
    Q_OBJECT
private slots:
    // Each row: a manual message at 0 s, maybe a second one (a new sentence,
    // or the same again), then an automatic message at `autoAt`; `shown` is
    // what the line reads afterwards.
    void holdRule_data() {
        QTest::addColumn<double>("secondManualAt");
        QTest::addColumn<bool>("sameSentence");
        QTest::addColumn<double>("autoAt");
        QTest::addColumn<QString>("shown");
        // clang-format off
        QTest::newRow("auto 4.9 s after manual is dropped") << -1.0 << false << 4.9 << "manual 1";
        QTest::newRow("auto exactly 5.0 s after is shown") << -1.0 << false << 5.0 << "auto";
        QTest::newRow("two manual 3 s apart: held at 7.9 s") << 3.0 << false << 7.9 << "manual 2";
        QTest::newRow("two manual 3 s apart: free at 8.0 s") << 3.0 << false << 8.0 << "auto";
        QTest::newRow("the same sentence restarts the hold") << 4.0 << true << 8.9 << "manual 1";
        // clang-format on
    }
    void holdRule() {
        QFETCH(double, secondManualAt);
        QFETCH(bool, sameSentence);
        QFETCH(double, autoAt);
        QFETCH(QString, shown);
        Driven d;
        d.at(0);
        d.label.setStringValue("manual 1");
        if (secondManualAt >= 0) {
            const QString second = sameSentence ? "manual 1" : "manual 2";
            d.at(secondManualAt);
            d.label.setStringValue(second);
            QCOMPARE(d.label.stringValue(), second); // shown at once despite the hold
        }
        d.at(autoAt);
        d.label.setAuto("auto");
        QCOMPARE(d.label.stringValue(), shown);
    }

    void newLabelShowsTheFirstAutomaticMessage() {
        Driven d;
        d.label.setAuto("3곡 / 전체 3곡");
        QCOMPARE(d.label.stringValue(), L10n::tr("3곡 / 전체 3곡")); // in the interface language
    }

    void automaticMessagesNeverHold() {
        Driven d;
        d.label.setAuto("a");
        d.at(0.1);
        d.label.setAuto("b");
        QCOMPARE(d.label.stringValue(), QString("b"));
        QVERIFY(!d.label.isHeld());
    }

    void droppedAutomaticMessageNeverReturns() {
        Driven d;
        d.label.setStringValue("manual");
        d.at(2);
        d.label.setAuto("dropped");
        d.at(6);
        QCOMPARE(d.label.stringValue(), QString("manual"));
        d.label.setAuto("next");
        QCOMPARE(d.label.stringValue(), QString("next"));
    }

    // What a notice held back (ui/NoticeQueue decides the turns) is shown in
    // the interface language when its turn comes, and holds the line for its
    // full time from then; the count waits for it too.
    void aMessageShownLateHoldsFromThen() {
        L10n::setLanguage("en");
        Driven d;
        d.at(0);
        d.label.setNotice("notice");
        QCOMPARE(d.label.stringValue(), QString("음원 불러오는 중…")); // at the tick
        d.label.showWaiting();
        QCOMPARE(d.label.stringValue(), QString("notice"));
        d.at(1);
        d.label.setStringValue("음원 여는 중…");
        d.at(5);
        d.label.setAuto("3곡 / 전체 3곡");
        QCOMPARE(d.label.stringValue(), QString("notice"));
        d.label.showWaiting();
        QCOMPARE(d.label.stringValue(), L10n::tr("음원 여는 중…"));
        QVERIFY(d.label.stringValue() != QString("음원 여는 중…"));
        d.at(9.9);
        d.label.setAuto("3곡 / 전체 3곡");
        QCOMPARE(d.label.stringValue(), L10n::tr("음원 여는 중…"));
        d.at(10);
        d.label.setAuto("3곡 / 전체 3곡");
        QCOMPARE(d.label.stringValue(), L10n::tr("3곡 / 전체 3곡"));
    }

    void silentRewriteOfAFreeLineStartsNoHold() {
        Driven d;
        d.label.setSilently("Loading music…");
        d.label.setAuto("auto");
        QCOMPARE(d.label.stringValue(), QString("auto"));
    }
};

QL_TEST_UNIT(StatusLabelTest)
#include "StatusLabelTest.moc"
