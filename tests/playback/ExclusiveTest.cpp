// Guards against: a device claimed, kept or given back wrongly; a signal-path panel that
// shows stale or piled-up rows, or probes while nobody looks or once a file is known.
#include "app/App.h"
#include "playback/SignalPathPanel.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QLabel>

#include <atomic>

#include <functional>

using namespace ql;
using namespace ql::platform;
using test::deviceIn;

namespace {

const QString kTaken =
    QStringLiteral("🔒 독점 모드: 재생 중 이 앱만 출력 장치를 씁니다 (일시정지하면 풀려요)");
const QString kRefused =
    QStringLiteral("다른 앱이 출력 장치를 독점 중이라 독점 모드를 쓸 수 없습니다.");
const int kMe = int(QCoreApplication::applicationPid());

struct HogCase {
    const char* name;
    std::function<void(SimRig&)> rig;
    std::function<void(test::RiggedApp&)> before; // after the app is made
    QList<bool> calls;                            // setHog(on), the status cleared before each
    QString message;                              // what the last call shows
    QString held;                                 // UID of hogDevice after, "" none
    int writes;                                   // owner writes
};

void holdA(test::RiggedApp& r) {
    r.app.playback.hogDevice = r.hw().deviceForUid(test::kDacA);
}

// clang-format off
const std::vector<HogCase>& hogCases() {
    using R = SimRig&;
    using A = test::RiggedApp&;
    const QString& a = test::kDacA;
    const QString& b = test::kAnalogB;
    static const std::vector<HogCase> all{
        {"a free device is taken", {}, {}, {true}, kTaken, b, 1},
        {"taking twice is silent the second time", {}, {}, {true, true}, "", b, 1},
        {"held by another app", [=](R r) { deviceIn(r, b).exclusiveOwner = 777; }, {}, {true}, kRefused, "", 0},
        {"a refused write says nothing", [=](R r) { deviceIn(r, b).failing.insert(SimOp::SetExclusiveOwner); }, {}, {true}, "", "", 1},
        {"an unreadable owner changes nothing", [](R r) { r.failing.insert(SimOp::ExclusiveOwner); }, {}, {true}, "", "", 0},
        {"no output device changes nothing", [](R r) { r.defaultOutputUid.reset(); }, {}, {true}, "", "", 0},
        {"the chosen device is the one taken", {}, [=](A r) { r.app.playback.outputUID = a; }, {true}, kTaken, a, 1},
        {"giving back another app's device writes nothing", [=](R r) { deviceIn(r, a).exclusiveOwner = 777; }, holdA, {false}, "", "", 0},
        {"giving back with nothing held frees the bound device we hold", [=](R r) { deviceIn(r, b).exclusiveOwner = kMe; }, {}, {false}, "", "", 1},
        {"giving back with nothing held leaves a free device alone", {}, {}, {false}, "", "", 0},
        {"a held device unplugged is forgotten", [=](R r) { deviceIn(r, a).exclusiveOwner = kMe; },
         [=](A r) { holdA(r); r.hw().unplug(a); }, {false}, "", "", 0},
    };
    return all;
}
// clang-format on

} // namespace

class ExclusiveTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { L10n::setLanguage(QStringLiteral("ko")); }

    void setHog_data() { test::addRows(hogCases()); }
    void setHog() {
        const HogCase& c = test::currentCase(hogCases());
        SimRig rig = test::twoOutputs();
        rig.selfPid = 0; // this process
        if (c.rig)
            c.rig(rig);
        test::RiggedApp r(rig);
        if (c.before)
            c.before(r);
        const int before = r.hw().writeCalls().exclusiveOwner;
        for (const bool on : c.calls) {
            r.app.status->setStringValue({});
            r.app.setHog(on, std::nullopt);
        }
        QCOMPARE(r.app.status->stringValue(), c.message);
        const auto held = r.app.playback.hogDevice;
        QCOMPARE(held ? r.hw().uid(*held).value_or("?") : QString(), c.held);
        QCOMPARE(r.hw().writeCalls().exclusiveOwner - before, c.writes);
    }

    // The source is probed off the window's thread: the panel shows its rows
    // at once and the source's facts when they come. A failed probe is not
    // asked again at every refresh, only when the panel is opened again.
    void panelShowsFreshRowsOnlyWhileOpen() {
        test::RiggedApp r(test::twoOutputs());
        std::atomic<int> probes = 0;
        test::fakes(r.app).analysers.probeAudio = [&](const QString&) {
            // The first probe fails, the second finds the facts.
            return ++probes == 1 ? StreamFacts{} : StreamFacts{"flac", 44100, 16, 2, 1};
        };
        r.app.playback.current = Track{1, "/m/a.flac", "A", {}, {}, 1, {}};
        SignalPathPanel& panel = *r.app.signalPathPanel;
        const auto markers = [&] {
            int n = 0;
            for (const QLabel* l : panel.window()->findChildren<QLabel*>())
                n += l->text() == u"●" || l->text() == u"○";
            return n;
        };
        const auto shows = [&](const QString& text) {
            for (const QLabel* l : panel.window()->findChildren<QLabel*>())
                if (l->text() == text)
                    return true;
            return false;
        };
        const QString facts = "FLAC · 16bit / 44.1kHz · 스테레오";
        const auto landed = [&] { return !r.app.playback.signalProbing.has_value(); };
        r.app.refreshSignalPanel(); // hidden: no probe
        QCOMPARE(probes, 0);
        r.app.showSignalPath();
        QVERIFY(panel.visible());
        QCOMPARE(panel.window()->size(), QSize(560, 470));
        QVERIFY(panel.window()->windowFlags() & Qt::WindowStaysOnTopHint);
        QTRY_VERIFY_WITH_TIMEOUT(landed(), ql::test::kOutcomeMs);
        r.app.refreshSignalPanel();
        r.app.refreshSignalPanel();
        QCOMPARE(markers(), 9); // refreshed, one set of rows
        QCOMPARE(probes, 1);    // the failure is kept while the panel stays open
        QVERIFY(!shows(facts));
        r.app.showSignalPath(); // closed, and opened again: asked again
        r.app.showSignalPath();
        QTRY_VERIFY_WITH_TIMEOUT(shows(facts), ql::test::kOutcomeMs);
        r.app.refreshSignalPanel();
        QTRY_VERIFY_WITH_TIMEOUT(landed(), ql::test::kOutcomeMs);
        QCOMPARE(probes, 2); // the file's facts are known

        panel.refresh({{{"소스", QString(600, u'가'), true}}, QString(300, u'나'), false});
        QCOMPARE(markers(), 1);
        for (const QLabel* l : panel.window()->findChildren<QLabel*>())
            QVERIFY2(l->width() <= 520 && (l->text().size() < 600 || l->width() <= 390),
                     qPrintable(QString::number(l->width())));
        panel.refresh({{}, "✓", true});
        QCOMPARE(markers(), 0);

        panel.window()->close(); // hidden, not deleted; the next toggle shows fresh rows
        QVERIFY(!panel.visible());
        r.app.showSignalPath();
        QVERIFY(panel.visible());
        QCOMPARE(markers(), 9);
        r.app.showSignalPath();
        QVERIFY(!panel.visible());
    }
};

QL_TEST_MAIN(ExclusiveTest)
#include "ExclusiveTest.moc"
