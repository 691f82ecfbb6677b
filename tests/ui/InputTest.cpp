// Guards the window's navigation and transport input (gestures, side buttons
// and keys acted on once, text fields and other windows left alone) and the
// A-B loop and Play Next on the controller.
#include "app/App.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/InputMonitor.h"
#include "ui/StatusLabel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "OpenSettled.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <sndfile.h>

using namespace ql;
using test::addRows;
using test::currentCase;

namespace {

// One input event, sent to the main window or to another of ours.
struct Input {
    QEvent::Type type = QEvent::Wheel;
    Qt::ScrollPhase phase = Qt::NoScrollPhase;
    QPointF delta{};
    Qt::MouseButton button = Qt::NoButton;
    int key = 0;
    Qt::KeyboardModifiers mods{};
    bool repeat = false;
    bool otherWindow = false;
};
Input wheel(Qt::ScrollPhase ph, double dx, double dy) {
    return {.phase = ph, .delta = {dx, dy}};
}
Input button(Qt::MouseButton b) {
    return {.type = QEvent::MouseButtonPress, .button = b};
}
Input swipe(double dx) {
    return {.type = QEvent::NativeGesture, .delta = {dx, 0}};
}
Input key(int k, Qt::KeyboardModifiers m = {}, bool rep = false) {
    return {.type = QEvent::KeyPress, .key = k, .mods = m, .repeat = rep};
}
Input elsewhere(Input in) {
    in.otherWindow = true;
    return in;
}

struct InputCase {
    const char* name;
    std::vector<Input> events;
    QString actions;         // what the monitor called, in order
    int reached;             // events that reached the widget under the pointer or with the focus
    bool inSearch = false;   // the search field has the focus
    bool leftSearch = false; // a press elsewhere took the focus from it
};

// clang-format off
const std::vector<InputCase>& inputCases() {
    using Q = Qt::ScrollPhase;
    static const std::vector<InputCase> cases{
        {"150 across, 50 down goes back; only the end is consumed",
         {wheel(Q::ScrollBegin, 100, 30), wheel(Q::ScrollUpdate, 50, 20), wheel(Q::ScrollEnd, 0, 0)}, "back", 2},
        {"150 across, 70 down does nothing",
         {wheel(Q::ScrollBegin, 150, 70), wheel(Q::ScrollEnd, 0, 0)}, "", 2},
        {"exactly 140 does nothing", {wheel(Q::ScrollBegin, 140, 0), wheel(Q::ScrollEnd, 0, 0)}, "", 2},
        {"-200 goes forward", {wheel(Q::ScrollBegin, -200, 10), wheel(Q::ScrollEnd, 0, 0)}, "forward", 1},
        {"wheel and momentum neither add nor end",
         {wheel(Q::ScrollBegin, 100, 0), wheel(Q::NoScrollPhase, 100, 0), wheel(Q::ScrollMomentum, 100, 0),
          wheel(Q::ScrollEnd, 0, 0)}, "", 4},
        {"back and forward buttons", {button(Qt::BackButton), button(Qt::ForwardButton)}, "back,forward", 0},
        {"the middle button passes", {button(Qt::MiddleButton)}, "", 1},
        {"a swipe back; one without travel passes", {swipe(1), swipe(0)}, "back", 0},
        {"another window's events pass",
         {elsewhere(button(Qt::BackButton)), elsewhere(key(Qt::Key_Space))}, "", 0},
        {"Space toggles, also on auto-repeat",
         {key(Qt::Key_Space), key(Qt::Key_Space, {}, true)}, "toggle,toggle", 0},
        {"Space with a modifier does nothing",
         {key(Qt::Key_Space, Qt::ShiftModifier), key(Qt::Key_Space, Qt::ControlModifier),
          key(Qt::Key_Space, Qt::AltModifier), key(Qt::Key_Space, Qt::MetaModifier)}, "", 4},
        {"Ctrl+Shift+[, Ctrl+], Ctrl+Right, Ctrl+Left",
         {key(Qt::Key_BracketLeft, Qt::ControlModifier | Qt::ShiftModifier),
          key(Qt::Key_BracketRight, Qt::ControlModifier), key(Qt::Key_Right, Qt::ControlModifier),
          key(Qt::Key_Left, Qt::ControlModifier)}, "back,forward,next,previous", 0},
        {"Space in the search field types a space", {key(Qt::Key_Space)}, "", 1, true},
        {"a press on a control without focus leaves the search field, then Space toggles",
         {button(Qt::LeftButton), key(Qt::Key_Space)}, "toggle", 1, true, true},
    };
    return cases;
}
// clang-format on

// Where X11 and Wayland put the keys (XKB key codes).
const QHash<int, quint32> kXkb{{Qt::Key_Space, 65},
                               {Qt::Key_BracketLeft, 34},
                               {Qt::Key_BracketRight, 35},
                               {Qt::Key_Right, 114},
                               {Qt::Key_Left, 113}};

// Counts the input events a widget receives.
struct Reached : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        const auto t = e->type();
        count += t == QEvent::Wheel || t == QEvent::MouseButtonPress || t == QEvent::KeyPress;
        return false;
    }
};

// Five 90 s mono tracks at 8 kHz on the simulated rig, tracks 1 … 3 visible.
struct PlayRig {
    test::RiggedApp rig{test::twoOutputs(), platform::SimOutputs{platform::SimClock::Manual, {}}};
    App& app = rig.app;
    PlayRig() {
        L10n::setLanguage("ko");
        test::storeMaxQualityOff();
        test::fakes(app).tools.missingTools = [] { return QStringList{}; };
        test::fakes(app).tools.backendWrite = [](const QByteArray&) {};
        const QString path = test::writeTemp(
            "input-90s.wav", {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, 90 * 8000});
        for (qint64 id = 1; id <= 5; ++id)
            app.library.rows.push_back(
                Track{id, path, QStringLiteral("T%1").arg(id), {}, {}, 90, {}});
        app.applicationDidFinishLaunching();
        app.timer->stop();
        app.browser.filtered =
            std::vector<Track>(app.library.rows.begin(), app.library.rows.begin() + 3);
        app.reloadTable();
    }
    platform::AudioPlayer* audio() { return app.playback.audio.get(); }
    void at(double t) { app.setAudioTime(t); }
    QString title() const { return app.abButton->text(); }
    void clickRow(int row) {
        TrackTableView* table = app.views.table;
        const int y =
            row < 0 ? table->viewport()->height() - 2 : table->rowViewportPosition(row) + 2;
        QTest::mouseClick(table->viewport(), Qt::RightButton, {}, QPoint(5, y));
    }
};

} // namespace

class InputTest : public QObject {
    Q_OBJECT
private slots:
    void monitor_data() { addRows(inputCases()); }
    void monitor() {
        const InputCase& c = currentCase(inputCases());
        for (bool scanCodes : {false, true}) {
            QWidget main, other;
            auto* search = new QLineEdit;
            auto* view = new QPushButton;
            view->setFocusPolicy(Qt::NoFocus); // like the sidebar's entries
            auto* column = new QVBoxLayout(&main);
            column->addWidget(search);
            column->addWidget(view, 1);
            main.resize(400, 300);
            other.resize(200, 100);
            main.show();
            other.show();
            QVERIFY(QTest::qWaitForWindowExposed(&main) && QTest::qWaitForWindowExposed(&other));
            (c.inSearch ? static_cast<QWidget*>(search) : view)->setFocus();
            Reached reached;
            view->installEventFilter(&reached);
            search->installEventFilter(&reached);
            QStringList calls;
            double accum = 0, vert = 0;
            auto record = [&](const char* what) { return [&calls, what] { calls << what; }; };
            InputMonitor monitor(&main, accum, vert,
                                 {record("back"), record("forward"), record("toggle"),
                                  record("next"), record("previous")},
                                 nullptr);
            monitor.watchPointer();
            monitor.watchKeys();
            for (const Input& in : c.events) {
                QWindow* to = (in.otherWindow ? other : main).windowHandle();
                const QPointF at = view->geometry().center();
                if (in.type == QEvent::Wheel) {
                    QWheelEvent e(at, main.mapToGlobal(at), in.delta.toPoint(), {}, {}, {},
                                  in.phase, false);
                    QCoreApplication::sendEvent(to, &e);
                } else if (in.type == QEvent::MouseButtonPress) {
                    QMouseEvent e(QEvent::MouseButtonPress, at, at, in.button, in.button, {});
                    QCoreApplication::sendEvent(to, &e);
                } else if (in.type == QEvent::NativeGesture) {
                    QNativeGestureEvent e(Qt::SwipeNativeGesture,
                                          QPointingDevice::primaryPointingDevice(), 3, at, at, at,
                                          0, in.delta);
                    QCoreApplication::sendEvent(to, &e);
                } else {
                    const QString text = in.key == Qt::Key_Space ? QStringLiteral(" ") : QString();
                    QKeyEvent e(QEvent::KeyPress, in.key, in.mods,
                                scanCodes ? kXkb.value(in.key) : 0, 0, 0, text, in.repeat);
                    QCoreApplication::sendEvent(to, &e);
                }
            }
            QCOMPARE(calls.join(','), c.actions);
            QCOMPARE(reached.count, c.reached);
            const bool typed = c.inSearch && !c.leftSearch;
            QCOMPARE(search->text(), typed ? QStringLiteral(" ") : QString());
            QCOMPARE(main.focusWidget() == search, c.inSearch && !c.leftSearch);
        }
    }

    void abRepeatAndPlayNext() {
        PlayRig r;
        App& app = r.app;
        app.abCycle();
        QCOMPARE(app.status->text(), QStringLiteral("재생 중인 곡이 있어야 합니다."));
        QVERIFY(!app.playback.abA);

        QVERIFY(test::playTaken(app, app.library.rows[0]) && app.playback.audio);
        r.at(65);
        app.abCycle();
        QCOMPARE(r.title(), QStringLiteral("A 1:05 → B?"));
        r.at(65.3);
        app.abCycle();
        QCOMPARE(r.title(), QStringLiteral("A-B 반복")); // B too close to A: back to idle
        QVERIFY(!app.playback.abA && !app.playback.abB);

        r.at(65);
        app.abCycle();
        r.at(80);
        app.abCycle();
        QCOMPARE(r.title(), QStringLiteral("🔁 1:05–1:20"));
        r.at(81);
        app.abTick();
        QVERIFY(std::abs(r.audio()->currentTime() - 65) < 0.01);

        // B inside the last 4 s with a successor from the radio queue armed.
        app.abCycle();
        r.at(85);
        app.abCycle();
        r.at(88);
        app.abCycle();
        auto next = platform::AudioPlayer::open(*r.rig.platform.outputs, app.library.rows[4].path);
        app.playback.prepared = PreparedNext{PreparedNext::Kind::Scheduled, app.library.rows[4],
                                             std::move(next.player), true};
        r.at(88.5);
        app.abTick();
        QVERIFY(!app.playback.prepared);
        QCOMPARE(app.listening.radioQueue.value(0), 5);
        app.listening.radioQueue.clear();

        // Play Next on a right-clicked row; the queue keeps one of each id.
        // A radio pick armed to follow is let go: the chosen track plays
        // next, the pick after it.
        next = platform::AudioPlayer::open(*r.rig.platform.outputs, app.library.rows[3].path);
        app.playback.prepared = PreparedNext{PreparedNext::Kind::Scheduled, app.library.rows[3],
                                             std::move(next.player), true};
        r.clickRow(1);
        app.menuPlayNext();
        QCOMPARE(app.listening.radioQueue, (QList<qint64>{2, 4}));
        QVERIFY(!app.playback.prepared);
        QCOMPARE(app.status->text(), QStringLiteral("다음에 재생: T2 (대기 2곡)"));
        app.listening.radioQueue = {3, 2};
        app.menuPlayNext();
        QCOMPARE(app.listening.radioQueue, (QList<qint64>{2, 3}));
        r.clickRow(-1);
        app.menuPlayNext();
        QCOMPARE(app.listening.radioQueue, (QList<qint64>{2, 3}));

        // The title stays as it is in English mode, words of the interface inside it too.
        L10n::setLanguage("en");
        std::vector<Track> shown = app.browser.filtered.tracks();
        shown[2].title = QStringLiteral("팝 전체");
        app.browser.filtered = shown;
        r.clickRow(2);
        app.menuPlayNext();
        QCOMPARE(app.status->text(), QStringLiteral("Playing next: 팝 전체 (2 queued)"));

        // A track start clears the loop; Space and Ctrl+Right on the real window act on it.
        QVERIFY(app.playback.abA);
        QVERIFY(test::playTaken(app, app.library.rows[0]));
        QVERIFY(!app.playback.abA && !app.playback.abB);
        QVERIFY(app.isPlaying());
        QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, {}, " ");
        QCoreApplication::sendEvent(app.window->windowHandle(), &space);
        QVERIFY(!app.isPlaying());
        app.listening.radioQueue.clear();
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::ControlModifier);
        QCoreApplication::sendEvent(app.window->windowHandle(), &right);
        QCOMPARE(app.playback.current->id, 2);
    }
};

QL_TEST_MAIN(InputTest)
#include "InputTest.moc"
