// Guards against: a window built with missing, misplaced or untranslated parts.
// The window as the launch builds it: gear menu, geometry of the top bar,
// sidebar and page, the calls that end the build, the menu bar and the
// language switch. Built in its own folder: the gear menu's rows make a
// resources folder beside the executable for the downloader script.
#include "app/App.h"
#include "app/AppPaths.h"
#include "app/Relaunch.h"
#include "app/UserDefaults.h"
#include "ui/SidebarButton.h"
#include "ui/StatusLabel.h"
#include "ui/Surface.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/LanguageSetting.h"

#include "CaseRows.h"
#include "LaunchedApp.h"
#include "ReplyPipe.h"
#include "StoredSettings.h"
#include "TestHome.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>

using namespace ql;

namespace {

QStringList titles(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

struct GearCase {
    const char* name;
    bool fetcher;
    QVariant lang;
    QStringList actions;
    bool englishChecked;
};

const std::vector<GearCase> kGear{
    {"no script, lang absent", false, {}, {"음원 다시 찾기", "현재 곡 정보·아트 보완"}, true},
    {"script, lang ko",
     true,
     "ko",
     {"음원 다시 찾기", "⬇ FLAC 받기", "🎵 멜론 TOP10 받기", "현재 곡 정보·아트 보완"},
     false},
};

// What a user would measure: [what, window width, expected, least].
struct Measure {
    const char* name;
    int width; // 1280 × 820 or 1180 × 700
    int expected;
    bool atLeast;
};

const std::vector<Measure> kGeometry{
    {"top bar height", 1280, 54, false},        {"search field least", 1180, 80, true},
    {"sidebar width", 1280, 196, true}, // wider when an English title needs it
    {"sidebar button height", 1280, 36, false}, {"grid host height", 1180, 180, true},
};
} // namespace

class WindowBuildTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }
    void cleanup() {
        QDir(resourceDir()).removeRecursively();
        L10n::setLanguage("en");
    }

    void gearMenu_data() { test::addRows(kGear); }
    void gearMenu() {
        const GearCase& c = test::currentCase(kGear);
        QVERIFY2(!QDir(resourceDir()).exists(), "a resources folder is already there");
        if (c.fetcher) {
            QDir().mkpath(resourceDir());
            QFile script(resourcePath("flac_fetch.py"));
            QVERIFY(script.open(QIODevice::WriteOnly));
        }
        test::storeSetting(keys::kLang, c.lang);
        test::LaunchedApp l(storedLanguage());
        auto* gear = l->window->findChild<QToolButton*>("gear");
        QVERIFY(gear && gear->menu());
        const QList<QAction*> items = gear->menu()->actions();
        // Shown in the interface language from the start.
        QStringList expected = QStringList({"-", "🌐 English", "🌐 한국어", "-"}) + c.actions;
        for (QString& title : expected)
            title = L10n::tr(title);
        QCOMPARE(titles(items), expected);
        QCOMPARE(items[1]->isChecked(), c.englishChecked);
        QCOMPARE(items[2]->isChecked(), !c.englishChecked);
        for (QAction* a : items)
            QVERIFY(a->shortcut().isEmpty());
    }

    // A rescan chosen while the catalog poll waits for its reply is sent
    // once the reply is in.
    void scanDuringPollIsKept() {
        QList<QByteArray> sent;
        test::LaunchedApp l("en", [&](App& app) {
            test::fakes(app).tools.backendWrite = [&](const QByteArray& line) { sent << line; };
        });
        test::fakes(*l.app).observer.tickStep = [](const char*) { return true; };
        QVERIFY(l->library.pending); // the launch's first "list"
        sent.clear();
        l->scan();
        QVERIFY(sent.isEmpty());
        test::ReplyPipe backend(*l);
        QVERIFY(backend.send("{}\n"));
        l->core.ticks = 0; // no poll on this turn
        l->tick();
        QCOMPARE(sent.size(), 1);
        QVERIFY(sent[0].contains("\"scan\""));
    }

    void geometry_data() { test::addRows(kGeometry); }
    void geometry() {
        const Measure& m = test::currentCase(kGeometry);
        test::LaunchedApp l("en");
        l->window->resize(m.width, m.width == 1280 ? 820 : 700);
        QTest::qWait(20);
        QWidget* content = l->views.content;
        auto* bar = content->findChild<QWidget*>("topBar");
        auto* side = content->findChild<Surface*>("sidebar");
        const auto& b = l->views.sidebarButtons;
        const QHash<QString, std::function<int()>> measures{
            {"top bar height", [&] { return bar->height(); }},
            {"search field least", [&] { return l->search->width(); }},
            {"sidebar width", [&] { return side->width(); }},
            {"sidebar button height", [&] { return b[9]->height(); }},
            {"grid host height", [&] { return l->views.gridHost->height(); }},
        };
        const int got = measures.value(m.name)();
        if (m.atLeast)
            QVERIFY2(got >= m.expected, qPrintable(QString::number(got)));
        else
            QCOMPARE(got, m.expected);
    }

    void sidebarAndToolRow() {
        test::storeSetting(keys::kToolsOpen, true);
        test::LaunchedApp l("en");
        QList<int> tags;
        for (SidebarButton* b : l->views.sidebarButtons)
            tags << b->tag();
        QCOMPARE(tags, (QList<int>{0, 1, 5, 6, 2, 3, 4, 10, 11, 12}));
        auto* row = l->window->findChild<Surface*>("toolRow");
        QCOMPARE(row->height(), 54);
        QList<QWidget*> order;
        for (int i = 0; i < row->layout()->count(); ++i)
            order << row->layout()->itemAt(i)->widget();
        QCOMPARE(order.size(), 11);
        QCOMPARE(order[5], l->views.sortPopup);
        QCOMPARE(order[7], l->folderPicker);
        QCOMPARE(order[9], l->views.countLabel);
        QCOMPARE(order[10], l->views.gridSlider);
        QCOMPARE(l->views.sortPopup->currentText(), L10n::tr("정렬: 가수"));
        QVERIFY(l->views.extrasView->isVisible());
        QVERIFY(!l->views.pageHeader->isVisible());
        QCOMPARE(l->views.pageCover->size(), QSize(112, 112));
    }

    void menuBar() {
        test::LaunchedApp l("en");
        l->translateUI();
        QStringList menus;
        for (QAction* m : l->window->menuBar()->actions())
            menus << m->text() + ": " + titles(m->menu()->actions()).join(", ");
        QCOMPARE(menus,
                 (QStringList{"Quavelark: Hide Quavelark, Hide Others, Show All, Services, -, Quit "
                              "Quavelark",
                              "File: Open Audio File…, Close Window",
                              "Edit: Undo, Redo, -, Cut, Copy, Paste, Select All, -, Search audio",
                              "Window: Minimize, Zoom, Enter Full Screen, -, Bring All to Front"}));

        // Ctrl+O answers in another window of ours (the panel answered: cancel).
        test::fakes(*l.app).desktop.openPanel = [](QFileDialog&) -> std::optional<QStringList> {
            return {};
        };
        QAction* open = l->window->menuBar()->actions()[1]->menu()->actions()[0];
        QSignalSpy opened(open, &QAction::triggered);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTest::keyClick(&other, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(opened.size(), 1);

        // Ctrl+F brings the minimised window back with the search selected.
        l->search->setText("jazz");
        l->window->showMinimized();
        QTest::keyClick(&other, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(!l->window->isMinimized());
        QCOMPARE(l->search->selectedText(), QString("jazz"));

        // Undo and redo act on the search field.
        QVERIFY(QTest::qWaitForWindowActive(l->window.get()));
        QTest::keyClicks(l->search, "!");
        QTest::keyClick(l->search, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(l->search->text(), QString("jazz"));
        QTest::keyClick(l->search, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(l->search->text(), QString("!"));

        // The platform's full-screen key (F11 here) toggles full screen.
        QTest::keyClick(l->window.get(), Qt::Key_F11);
        QTRY_VERIFY_WITH_TIMEOUT(l->window->isFullScreen(), ql::test::kOutcomeMs);
        QTest::keyClick(l->window.get(), Qt::Key_F11);
        QTRY_VERIFY_WITH_TIMEOUT(!l->window->isFullScreen(), ql::test::kOutcomeMs);
    }

    void languageSwitch_data() {
        QTest::addColumn<QString>("running");
        QTest::addColumn<int>("tag");
        QTest::addColumn<QStringList>("alert"); // empty: none
        QTest::newRow("English in an English run") << "en" << 0 << QStringList{};
        QTest::newRow("Korean in an English run")
            << "en" << 1
            << QStringList{"언어를 적용하려면 다시 시작하세요",
                           "Quavelark이 다시 시작되며 한국어 메뉴로 바뀝니다.", "지금 다시 시작",
                           "나중에"};
        QTest::newRow("English in a Korean run")
            << "ko" << 0
            << QStringList{"Restart to apply the language",
                           "Quavelark will restart and show English menus.", "Restart now",
                           "Later"};
    }
    void languageSwitch() {
        QFETCH(QString, running);
        QFETCH(int, tag);
        QFETCH(QStringList, alert);
        test::LaunchedApp l(running);
        QStringList shown;
        int started = 0;
        test::fakes(*l.app).desktop.alert = [&](const QString& t, const QString& i,
                                                const QStringList& b) {
            shown = QStringList{t, i} + b;
            return 1; // later
        };
        test::fakes(*l.app).desktop.startDetached = [&](const QString&, const QStringList&) {
            return bool(++started);
        };
        l->setLanguage(tag);
        QCOMPARE(shown, alert);
        QCOMPARE(UserDefaults().contains(keys::kLang), !alert.isEmpty());
        if (!alert.isEmpty())
            QCOMPARE(storedLanguage(), tag == 0 ? QString("en") : QString("ko"));
        QCOMPARE(started, 0);
    }

    // The real shell reopens exactly the program whose path holds quotes,
    // a command substitution and a backquote, and runs nothing else.
    void relaunchKeepsThePathWhole() {
        QTemporaryDir dir;
        const QString folder = dir.filePath("a \"b\" $(touch marker) `touch marker` c");
        QVERIFY(QDir().mkpath(folder));
        const QString program = folder + "/prog";
        QFile f(program);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\necho \"$0\" > \"$(dirname \"$0\")/ran\"\n");
        f.close();
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
        QProcess gone; // a process that has exited, standing for the old one
        gone.start("true");
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        shell.start(kRelaunchShell, relaunchArguments(program, pid));
        QVERIFY(shell.waitForFinished(15000));
        QFile ran(folder + "/ran");
        QVERIFY(ran.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(ran.readAll()).trimmed(), program);
        QVERIFY(!QFileInfo::exists(dir.filePath("marker")));
        QVERIFY(!QFileInfo::exists(folder + "/marker"));
    }
};

QL_TEST_MAIN(WindowBuildTest)
#include "WindowBuildTest.moc"
