// Guards against: a translation pass that rewrites user data or writes when nothing changed.
// The translation pass over real widgets: what it rewrites, what it leaves
// alone, how it treats the status line, and that a second pass writes nothing.
#include "ui/l10n/Translator.h"
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/LanguageSetting.h"

#include "FakeServices.h"
#include "TestHome.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStringListModel>
#include <QTableView>
#include <QTextEdit>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

using namespace ql;

namespace {

// Widgets that redeclare the property the pass writes, the way a button that
// reacts to its title does; each counts the writes it receives.
class TitledButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setTitle)
public:
    using QPushButton::QPushButton;
    void setTitle(const QString& title) {
        ++writes;
        setText(title);
    }
    int writes = 0;
};

class CountingLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setCountedText)
public:
    using QLabel::QLabel;
    void setCountedText(const QString& t) {
        ++writes;
        setText(t);
    }
    int writes = 0;
};

class CountingEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString placeholderText READ placeholderText WRITE setCountedPlaceholder)
public:
    using QLineEdit::QLineEdit;
    void setCountedPlaceholder(const QString& t) {
        ++writes;
        setPlaceholderText(t);
    }
    int writes = 0;
};

// Counts tool-tip changes on every widget it watches.
class ToolTipWatch : public QObject {
public:
    int changes = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::ToolTipChange)
            ++changes;
        return false;
    }
};

// A main window shaped like the player's: menu bar, labels, buttons, a combo,
// a search field, the status line, a table, a grid, a text view, a pull-down,
// a context menu and a subtree of catalog data marked exempt.
struct Window {
    QMainWindow main;
    QWidget tool; // a second top-level window
    QMenu* fileMenu = nullptr;
    QMenu* windowMenu = nullptr;
    QMenu* gear = nullptr;
    QMenu* nested = nullptr;
    QMenu* context = nullptr;
    CountingLabel* label = nullptr;
    TitledButton* play = nullptr;
    QCheckBox* crossfade = nullptr;
    QComboBox* sort = nullptr;
    CountingEdit* search = nullptr;
    QLineEdit* readOnly = nullptr;
    StatusLabel* status = nullptr;
    QStandardItemModel* tableModel = nullptr;
    QTableView* table = nullptr;
    QStringListModel* gridModel = nullptr;
    QTextEdit* lyrics = nullptr;
    QToolButton* sleep = nullptr;
    QWidget* catalog = nullptr;
    QLabel* catalogTitle = nullptr;
    QPushButton* catalogButton = nullptr;
    QLabel* exemptLabel = nullptr;
    QLabel* toolLabel = nullptr;
    ToolTipWatch tips;

    Window() {
        main.setWindowTitle(QStringLiteral("Quavelark"));
        fileMenu = main.menuBar()->addMenu(QStringLiteral("파일"));
        fileMenu->addAction(QStringLiteral("음원 열기…"));
        fileMenu->addAction(QStringLiteral("창 닫기"));
        windowMenu = main.menuBar()->addMenu(QStringLiteral("윈도우"));
        nested = windowMenu->addMenu(QStringLiteral("확대/축소"));
        nested->addAction(QStringLiteral("전체 화면"));

        auto* content = new QWidget;
        auto* layout = new QVBoxLayout(content);
        label = new CountingLabel(QStringLiteral("속도"));
        play = new TitledButton(QStringLiteral("▶ 재생"));
        crossfade = new QCheckBox(QStringLiteral("크로스페이드"));
        crossfade->setToolTip(QStringLiteral("곡이 끝나기 5초 전부터 다음 곡과 겹쳐 재생 "
                                             "(바로 재생 가능한 포맷에서)"));
        sort = new QComboBox;
        sort->addItems({QStringLiteral("정렬: 가수"), QStringLiteral("정렬: 앨범명"),
                        QStringLiteral("정렬: 최근 추가")});
        sort->setCurrentIndex(2);
        search = new CountingEdit;
        search->setPlaceholderText(QStringLiteral("검색"));
        search->setText(QStringLiteral("아이유 곡"));
        readOnly = new QLineEdit(QStringLiteral("확인 불가"));
        readOnly->setReadOnly(true);
        status = new StatusLabel(QStringLiteral("음원 불러오는 중…"));
        tableModel = new QStandardItemModel(1, 2, content);
        tableModel->setHorizontalHeaderLabels({QStringLiteral("곡"), QStringLiteral("길이")});
        tableModel->setItem(0, 0, new QStandardItem(QStringLiteral("자주 들은 곡")));
        table = new QTableView;
        table->setModel(tableModel);
        table->setToolTip(QStringLiteral("곡"));
        gridModel = new QStringListModel({QStringLiteral("최근 받은 곡")}, content);
        auto* grid = new QListView;
        grid->setModel(gridModel);
        lyrics = new QTextEdit(QStringLiteral("이 곡의 가사를 찾지 못했습니다."));
        sleep = new QToolButton;
        sleep->setText(QStringLiteral("😴 수면 타이머"));
        gear = new QMenu(sleep);
        gear->addAction(QStringLiteral("15분 뒤 멈춤"));
        gear->addAction(QStringLiteral("🌐 한국어"));
        gear->addMenu(QStringLiteral("타이머 끄기"))->addAction(QStringLiteral("90분 뒤 멈춤"));
        sleep->setMenu(gear);
        context = new QMenu(table);
        context->addAction(QStringLiteral("다음에 재생"));

        catalog = new QWidget;
        Translator::exempt(catalog);
        auto* catalogLayout = new QVBoxLayout(catalog);
        catalogTitle = new QLabel(QStringLiteral("자주 들은 곡"));
        catalogButton = new QPushButton(QStringLiteral("전체 재생"));
        catalogLayout->addWidget(catalogTitle);
        catalogLayout->addWidget(catalogButton);
        exemptLabel = new QLabel(QStringLiteral("최근 추가"));
        Translator::exempt(exemptLabel);

        for (QWidget* w :
             std::initializer_list<QWidget*>{label, play, crossfade, sort, search, readOnly, status,
                                             table, grid, lyrics, sleep, catalog, exemptLabel})
            layout->addWidget(w);
        main.setCentralWidget(content);

        tool.setWindowTitle(QStringLiteral("🧩 신호 경로"));
        toolLabel = new QLabel(QStringLiteral("소스"), &tool);

        for (QWidget* w : main.findChildren<QWidget*>())
            w->installEventFilter(&tips);
        tool.installEventFilter(&tips);
    }
};

} // namespace

class TranslatorTest : public QObject {
    Q_OBJECT
private slots:
    void init() { L10n::setLanguage(QStringLiteral("en")); }
    void cleanupTestCase() { L10n::setLanguage(QStringLiteral("en")); }

    void onePassTranslatesTheWindow() {
        Window w;
        QVERIFY(Translator::translateAll() > 0);

        QCOMPARE(w.main.windowTitle(), QStringLiteral("Quavelark"));
        QCOMPARE(w.tool.windowTitle(), QStringLiteral("🧩 Signal path"));
        QCOMPARE(w.fileMenu->title(), QStringLiteral("File"));
        QCOMPARE(w.fileMenu->actions()[0]->text(), QStringLiteral("Open Audio File…"));
        QCOMPARE(w.nested->title(), QStringLiteral("Zoom"));
        QCOMPARE(w.nested->actions()[0]->text(), QStringLiteral("Enter Full Screen"));

        QCOMPARE(w.label->text(), QStringLiteral("Speed"));
        QCOMPARE(w.play->text(), QStringLiteral("▶ Play"));
        QCOMPARE(w.play->writes, 1); // through the button's own setter
        QCOMPARE(w.crossfade->text(), QStringLiteral("Crossfade"));
        QCOMPARE(w.crossfade->toolTip(),
                 QStringLiteral("Overlaps the next track during the last 5 s of a track "
                                "(with formats that play directly)"));
        QCOMPARE(w.sort->itemText(0), QStringLiteral("Sort: Artist"));
        QCOMPARE(w.sort->itemText(2), QStringLiteral("Sort: Recently added"));
        QCOMPARE(w.sort->currentIndex(), 2);
        QCOMPARE(w.search->placeholderText(), QStringLiteral("Search"));
        QCOMPARE(w.search->text(), QStringLiteral("아이유 곡")); // typed text is the user's
        QCOMPARE(w.readOnly->text(), QStringLiteral("Unknown"));
        QCOMPARE(w.status->stringValue(), QStringLiteral("Loading music…"));
        QCOMPARE(w.tableModel->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Track"));
        QCOMPARE(w.sleep->text(), QStringLiteral("😴 Sleep timer"));
        QCOMPARE(w.gear->actions()[0]->text(), QStringLiteral("Stop in 15 min"));
        QCOMPARE(w.toolLabel->text(), QStringLiteral("Source"));
    }

    void passLeavesCatalogDataAndUnvisitedTextsAlone() {
        Window w;
        Translator::translateAll();
        QCOMPARE(w.catalogTitle->text(), QStringLiteral("자주 들은 곡"));
        QCOMPARE(w.catalogButton->text(), QStringLiteral("전체 재생"));
        QCOMPARE(w.exemptLabel->text(), QStringLiteral("최근 추가"));
        QCOMPARE(w.tableModel->item(0, 0)->text(), QStringLiteral("자주 들은 곡"));
        QCOMPARE(w.table->toolTip(), QStringLiteral("곡"));
        QCOMPARE(w.gridModel->stringList(), QStringList{QStringLiteral("최근 받은 곡")});
        QCOMPARE(w.lyrics->toPlainText(), QStringLiteral("이 곡의 가사를 찾지 못했습니다."));
        QCOMPARE(w.context->actions()[0]->text(), QStringLiteral("다음에 재생"));
        // A pull-down's items are translated, not the submenu of an item.
        QMenu* sub = w.gear->actions()[2]->menu();
        QCOMPARE(w.gear->actions()[2]->text(), QStringLiteral("Turn timer off"));
        QCOMPARE(sub->actions()[0]->text(), QStringLiteral("90분 뒤 멈춤"));
        QCOMPARE(w.gear->actions()[1]->text(), QStringLiteral("🌐 한국어"));
    }

    // The paint guard translates a control's own texts before it draws them,
    // but a tool tip's label shows what its owner carries (the table's tip is
    // the track's path): the guard leaves it as the owner gave it.
    void paintGuardSkipsToolTips_data() {
        QTest::addColumn<bool>("toolTip");
        QTest::addColumn<QString>("shown");
        QTest::newRow("label in a window") << false << QStringLiteral("Favorites");
        QTest::newRow("tool tip with a path")
            << true << QStringLiteral("/home/u/음악/즐겨찾기/01 봄날.flac");
    }
    void paintGuardSkipsToolTips() {
        QFETCH(bool, toolTip);
        QFETCH(QString, shown);
        Translator::guardPaints();
        const QString path = QStringLiteral("/home/u/음악/즐겨찾기/01 봄날.flac");
        QLabel own(QStringLiteral("즐겨찾기"));
        QLabel* label = &own;
        if (toolTip) {
            QToolTip::showText(QPoint(40, 40), path);
            label = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->windowType() == Qt::ToolTip && w->isVisible())
                    label = qobject_cast<QLabel*>(w);
            QVERIFY(label);
        } else {
            own.show();
        }
        QVERIFY(QTest::qWaitForWindowExposed(label));
        label->repaint();
        QCOMPARE(label->text(), shown);
        QToolTip::hideText();
    }

    void secondPassWritesNothing() {
        Window w;
        QVERIFY(Translator::translateAll() > 0);
        const int playWrites = w.play->writes, labelWrites = w.label->writes,
                  searchWrites = w.search->writes, tips = w.tips.changes;
        QSignalSpy mainTitle(&w.main, &QWidget::windowTitleChanged);
        QSignalSpy toolTitle(&w.tool, &QWidget::windowTitleChanged);
        QSignalSpy comboItems(w.sort->model(), &QAbstractItemModel::dataChanged);
        QSignalSpy headers(w.tableModel, &QAbstractItemModel::headerDataChanged);
        std::vector<std::unique_ptr<QSignalSpy>> actions;
        for (QMenu* menu : {w.fileMenu, w.windowMenu, w.nested, w.gear})
            for (QAction* a : menu->actions())
                actions.push_back(std::make_unique<QSignalSpy>(a, &QAction::changed));
        actions.push_back(
            std::make_unique<QSignalSpy>(w.fileMenu->menuAction(), &QAction::changed));
        const QString statusBefore = w.status->stringValue();

        QCOMPARE(Translator::translateAll(), 0);

        QCOMPARE(w.play->writes, playWrites);
        QCOMPARE(w.label->writes, labelWrites);
        QCOMPARE(w.search->writes, searchWrites);
        QCOMPARE(w.tips.changes, tips);
        QCOMPARE(mainTitle.count(), 0);
        QCOMPARE(toolTitle.count(), 0);
        QCOMPARE(comboItems.count(), 0);
        QCOMPARE(headers.count(), 0);
        for (const auto& spy : actions)
            QCOMPARE(spy->count(), 0);
        QCOMPARE(w.status->stringValue(), statusBefore);
    }

    void koreanModeChangesNothing() {
        L10n::setLanguage(QStringLiteral("ko"));
        Window w;
        QCOMPARE(Translator::translateAll(), 0);
        QCOMPARE(w.play->writes, 0);
        QCOMPARE(w.status->stringValue(), QStringLiteral("음원 불러오는 중…"));
    }

    // A manual message is shown translated at once (the pass finds nothing
    // left) and keeps its hold: an automatic message still replaces it 5 s
    // after it was set.
    void rewrittenStatusKeepsItsHold() {
        qint64 now = 1'000'000;
        StatusLabel status(QStringLiteral("음원 불러오는 중…"));
        status.setClock([&now] { return now; });
        status.setStringValue(QStringLiteral("먼저 곡을 선택하세요."));
        QCOMPARE(status.stringValue(), QStringLiteral("Select a track first."));
        now += 3000;
        QCOMPARE(Translator::translateView(&status), 0);
        now += 1900;
        status.setAuto(QStringLiteral("12 tracks / All 340 tracks"));
        QCOMPARE(status.stringValue(), QStringLiteral("Select a track first."));
        now += 100;
        status.setAuto(QStringLiteral("12 tracks / All 340 tracks"));
        QCOMPARE(status.stringValue(), QStringLiteral("12 tracks / All 340 tracks"));
    }

    // A message composed already translated, with a Korean title in it, is
    // final: the pass leaves it until the next message replaces it.
    void finalStatusIsLeftAlone() {
        StatusLabel status;
        const QString message =
            L10n::tr(QStringLiteral("♥ 즐겨찾기에 추가: ")) + QStringLiteral("자주 들은 곡");
        status.setTranslated(message);
        QVERIFY(status.isFinal());
        QCOMPARE(Translator::translateView(&status), 0);
        QCOMPARE(status.stringValue(), QStringLiteral("♥ Added to favorites: 자주 들은 곡"));

        status.setStringValue(QStringLiteral("먼저 곡을 선택하세요."));
        QVERIFY(!status.isFinal());
        QCOMPARE(status.stringValue(), QStringLiteral("Select a track first."));
    }

    void droppedAutomaticMessageKeepsTheFinalMark() {
        qint64 now = 0;
        StatusLabel status;
        status.setClock([&now] { return now; });
        status.setTranslated(QStringLiteral("Removed from favorites: 밤편지"));
        now += 1000;
        status.setAuto(QStringLiteral("12곡 / 전체 340곡"));
        QVERIFY(status.isFinal());
        QCOMPARE(Translator::translateView(&status), 0);
        now += 5000;
        status.setAuto(QStringLiteral("12곡 / 전체 340곡"));
        QVERIFY(!status.isFinal());
        QCOMPARE(status.stringValue(), QStringLiteral("12 tracks / All 340 tracks"));
    }

    void hiddenWindowsAreTranslatedToo() {
        QWidget hidden;
        hidden.setWindowTitle(QStringLiteral("가사"));
        QVERIFY(!hidden.isVisible());
        Translator::translateAll();
        QCOMPARE(hidden.windowTitle(), QStringLiteral("Lyrics"));
    }

    void appPassReachesTheMainWindow() {
        platform::Platform plat;
        App app(plat, test::fakeServices());
        test::fakes(app).tools.missingTools = [] { return QStringList{}; };
        app.applicationDidFinishLaunching();
        app.status->setStringValue(QStringLiteral("재생할 곡이 없습니다."));
        app.translateUI();
        QCOMPARE(app.status->stringValue(), QStringLiteral("No tracks to play."));
    }

    void storedLanguage_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("lang");
        QTest::newRow("absent") << QVariant() << "en";
        QTest::newRow("Korean") << QVariant(QStringLiteral("ko")) << "ko";
        QTest::newRow("kept as stored") << QVariant(QStringLiteral("EN")) << "EN";
    }
    void storedLanguage() {
        QFETCH(QVariant, stored);
        QFETCH(QString, lang);
        {
            UserDefaults settings;
            if (stored.isValid())
                settings.set(keys::kLang, stored);
            else
                settings.remove(keys::kLang);
        }
        QCOMPARE(ql::storedLanguage(), lang);
    }
};

QL_TEST_MAIN(TranslatorTest)
#include "TranslatorTest.moc"
