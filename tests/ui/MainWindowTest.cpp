#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/SeekSlider.h"
#include "ui/SidebarButton.h"
#include "ui/StatusLabel.h"
#include "ui/Surface.h"
#include "ui/Theme.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include "TestHome.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QStyle>

#include <memory>

using namespace ql;

namespace {

// A controller launched as the program launches it, with the window built.
struct Launched {
    platform::Platform plat;
    std::unique_ptr<App> app;
    explicit Launched(const QString& lang = "en") {
        L10n::setLanguage(lang);
        app = std::make_unique<App>(plat);
        app->seams.missingTools = [] { return QStringList{}; };
        app->applicationDidFinishLaunching();
    }
};

// Stores a setting before the launch; an invalid value leaves it absent.
void storeIfGiven(const char* key, const QVariant& value) {
    if (!value.isValid())
        return;
    UserDefaults d;
    d.set(key, value);
    d.sync();
}

QStringList menuTitles(const QMenu& menu) {
    QStringList out;
    for (QAction* a : menu.actions())
        out << a->text();
    return out;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        UserDefaults d;
        d.clear();
        d.sync();
    }
    void cleanup() { L10n::setLanguage("en"); }

    void columnsInOrder_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QStringList>("headers");
        QTest::newRow("English") << "en" << QStringList{L10n::tr("곡"),   L10n::tr("가수"),
                                                        L10n::tr("앨범"), L10n::tr("포맷"),
                                                        L10n::tr("음질"), L10n::tr("길이")};
        QTest::newRow("Korean") << "ko"
                                << QStringList{"곡", "가수", "앨범", "포맷", "음질", "길이"};
    }
    void columnsInOrder() {
        QFETCH(QString, lang);
        QFETCH(QStringList, headers);
        Launched l(lang);
        const WindowViews& v = l.app->views;
        const QStringList ids{"title", "artist", "album", "format", "quality", "duration"};
        const QList<int> widths{360, 190, 220, 70, 150, 64};
        QCOMPARE(v.tableModel->columnCount(), 6);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(v.tableModel->identifier(i), ids[i]);
            QCOMPARE(v.tableModel->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString(),
                     headers[i]);
            QCOMPARE(v.table->columnWidth(i), widths[i]);
            QCOMPARE(v.tableModel->columnOf(ids[i]), i);
        }
        if (lang == "en")
            for (const QString& h : headers)
                QVERIFY2(!L10n::hasHangul(h), qPrintable(h));
    }

    void volumeFromSettings_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<double>("shown");
        QTest::newRow("absent gives 70") << QVariant() << 70.0;
        QTest::newRow("a stored 0 stays 0") << QVariant(0) << 0.0;
        QTest::newRow("a stored 55") << QVariant(55.0) << 55.0;
        QTest::newRow("a fraction is kept") << QVariant(42.6) << 42.6;
        QTest::newRow("above the range is clamped") << QVariant(250) << 100.0;
        QTest::newRow("below the range is clamped") << QVariant(-3) << 0.0;
        QTest::newRow("unreadable counts as absent") << QVariant("loud") << 70.0;
        QTest::newRow("not a number counts as absent") << QVariant("nan") << 70.0;
    }
    void volumeFromSettings() {
        QFETCH(QVariant, stored);
        QFETCH(double, shown);
        storeIfGiven(keys::kPlayerVolume, stored);
        Launched l;
        QCOMPARE(l.app->views.volume->doubleValue(), shown);
        QCOMPARE(l.app->views.volume->minimumValue(), 0.0);
        QCOMPARE(l.app->views.volume->maximumValue(), 100.0);
    }

    void searchFieldFromSettings_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("text");
        QTest::newRow("absent starts empty") << QVariant() << "";
        QTest::newRow("stored text is restored") << QVariant("밤 🌙") << "밤 🌙";
    }
    void searchFieldFromSettings() {
        QFETCH(QVariant, stored);
        QFETCH(QString, text);
        storeIfGiven(keys::kLibrarySearch, stored);
        Launched l;
        QCOMPARE(l.app->search->text(), text);
        QCOMPARE(l.app->search->placeholderText(), L10n::tr("검색"));
        // The field sits in a pill-coloured capsule in the window.
        auto* pill = qobject_cast<Surface*>(l.app->search->parentWidget());
        QVERIFY(pill);
        QCOMPARE(pill->color(), Theme::pill());
        QCOMPARE(pill->window(), static_cast<QWidget*>(l.app->window.get()));
    }

    void folderPopUp() {
        Launched l;
        const QComboBox* f = l.app->folderPicker;
        QCOMPARE(f->count(), 1);
        QCOMPARE(f->itemText(0), L10n::tr("모든 폴더"));
        // The pass skips the pop-up: its tool tip is set in English already.
        QCOMPARE(f->toolTip(), L10n::tr("폴더별로 모아서 보기"));
        QVERIFY(!L10n::hasHangul(f->toolTip()));
    }

    // Catalog texts shown in these views are never run through the table.
    void catalogViewsAreExempt_data() {
        QTest::addColumn<QString>("view");
        for (const char* v :
             {"titleLabel", "artistLabel", "infoLabel", "folderPicker", "pageTitle", "pageSub"})
            QTest::newRow(v) << v;
    }
    void catalogViewsAreExempt() {
        QFETCH(QString, view);
        Launched l;
        WindowViews& v = l.app->views;
        const QHash<QString, QWidget*> named{
            {"titleLabel", v.titleLabel}, {"artistLabel", v.artistLabel},
            {"infoLabel", v.infoLabel},   {"pageTitle", v.pageTitle},
            {"pageSub", v.pageSub},       {"folderPicker", l.app->folderPicker}};
        QWidget* w = named.value(view);
        QVERIFY(Translator::isExempt(w));
        // A title from the library that happens to be a phrase of the table
        // survives a pass over a window that holds the view.
        QWidget host;
        w->setParent(&host);
        if (auto* label = qobject_cast<QLabel*>(w))
            label->setText("즐겨찾기");
        else
            l.app->folderPicker->setItemText(0, "즐겨찾기");
        auto* control = new QLabel("검색", &host);
        Translator::translateView(&host);
        QCOMPARE(control->text(), L10n::tr("검색"));
        if (auto* label = qobject_cast<QLabel*>(w))
            QCOMPARE(label->text(), QString("즐겨찾기"));
        else
            QCOMPARE(l.app->folderPicker->itemText(0), QString("즐겨찾기"));
        w->setParent(nullptr);
    }

    void titleLabelStartsInTheInterfaceLanguage_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("text");
        QTest::newRow("English") << "en" << L10n::tr("음악을 선택하세요");
        QTest::newRow("Korean") << "ko"
                                << "음악을 선택하세요";
    }
    void titleLabelStartsInTheInterfaceLanguage() {
        QFETCH(QString, lang);
        QFETCH(QString, text);
        L10n::setLanguage(lang);
        platform::Platform plat;
        App app(plat);
        QCOMPARE(app.views.titleLabel->text(), text);
    }

    // ---- building blocks ----

    void pills_data() {
        QTest::addColumn<double>("spacing");
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("pad");
        QTest::newRow("history") << 14.0 << 34.0 << 14.0;
        QTest::newRow("search") << 8.0 << 34.0 << 14.0;
        QTest::newRow("settings") << 0.0 << 34.0 << 10.0;
        QTest::newRow("defaults") << 12.0 << 34.0 << 14.0;
    }
    void pills() {
        QFETCH(double, spacing);
        QFETCH(double, height);
        QFETCH(double, pad);
        auto* a = new QLabel("a");
        auto* b = new QLabel("b");
        std::unique_ptr<Surface> p(App::pill({a, b}, spacing, height, pad));
        QCOMPARE(p->radius(), height / 2);
        p->show();
        QCOMPARE(p->height(), int(height));
        QCOMPARE(a->geometry().left(), int(pad));
        QCOMPARE(b->geometry().left(), a->geometry().right() + 1 + int(spacing));
        QCOMPARE(p->width(), b->geometry().right() + 1 + int(pad));
    }

    void sidebarButtonsAreKeptInCreationOrder() {
        platform::Platform plat;
        App app(plat);
        const struct {
            const char* icon;
            const char* label;
            int tag;
        } rows[] = {{"rectangle.stack", "로컬", 0},
                    {"heart.fill", "즐겨찾기", 1},
                    {"clock", "최근 받은 곡", 5},
                    {"flame", "자주 들은 곡", 2}};
        std::vector<std::unique_ptr<QWidget>> made;
        for (const auto& r : rows) {
            made.emplace_back(app.sideButton(r.icon, QString::fromUtf8(r.label), r.tag));
            if (r.tag == 5) // a heading between entries is not an entry
                made.emplace_back(App::section("스마트 목록"));
        }
        QCOMPARE(app.views.sidebarButtons.size(), size_t(4));
        for (size_t i = 0; i < 4; ++i) {
            SidebarButton* b = app.views.sidebarButtons[i];
            QCOMPARE(b->tag(), rows[i].tag);
            QCOMPARE(b->iconName(), QString(rows[i].icon));
            QCOMPARE(b->label(), L10n::tr(QString::fromUtf8(rows[i].label)));
            QCOMPARE(b->height(), 36);
            QCOMPARE(b->minimumHeight(), b->maximumHeight());
            QVERIFY(!b->active());
        }
    }

    void settingsMenuItems_data() {
        QTest::addColumn<bool>("withFetcher");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("without the downloader")
            << false << QStringList{"음원 다시 찾기", "현재 곡 정보·아트 보완"};
        QTest::newRow("with the downloader")
            << true
            << QStringList{"음원 다시 찾기", "⬇ FLAC 받기", "🎵 멜론 TOP10 받기",
                           "현재 곡 정보·아트 보완"};
    }
    void settingsMenuItems() {
        QFETCH(bool, withFetcher);
        QFETCH(QStringList, titles);
        platform::Platform plat;
        App app(plat);
        QMenu menu;
        menu.addSeparator();
        app.addSettingsItems(&menu, withFetcher);
        QCOMPARE(menuTitles(menu), QStringList{""} + titles);
        for (QAction* a : menu.actions())
            QVERIFY(a->shortcut().isEmpty());
        app.addSettingsItems(nullptr, withFetcher); // no menu: nothing, no crash
    }
};

QL_TEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
