#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/SeekSlider.h"
#include "ui/SidebarButton.h"
#include "ui/Surface.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include "LaunchedApp.h"
#include "TestHome.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>

#include <memory>

using namespace ql;

namespace {

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

    void columnsInOrder() {
        test::LaunchedApp l("en");
        const WindowViews& v = l->views;
        const QStringList ids{"title", "artist", "album", "format", "quality", "duration"};
        const QStringList headers{"곡", "가수", "앨범", "포맷", "음질", "길이"};
        const QList<int> widths{360, 190, 220, 70, 150, 64};
        QCOMPARE(v.tableModel->columnCount(), 6);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(v.tableModel->identifier(i), ids[i]);
            const QString header =
                v.tableModel->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
            QCOMPARE(header, L10n::tr(headers[i]));
            QVERIFY2(!L10n::hasHangul(header), qPrintable(header));
            QCOMPARE(v.table->columnWidth(i), widths[i]);
            QCOMPARE(v.tableModel->columnOf(ids[i]), i);
        }
    }

    void volumeFromSettings_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<double>("shown");
        QTest::newRow("absent gives 70") << QVariant() << 70.0;
        QTest::newRow("a stored 0 stays 0") << QVariant(0) << 0.0;
        QTest::newRow("a fraction is kept") << QVariant(42.6) << 42.6;
        QTest::newRow("above the range is clamped") << QVariant(250) << 100.0;
        QTest::newRow("unreadable counts as absent") << QVariant("loud") << 70.0;
    }
    void volumeFromSettings() {
        QFETCH(QVariant, stored);
        QFETCH(double, shown);
        storeIfGiven(keys::kPlayerVolume, stored);
        test::LaunchedApp l("en");
        QCOMPARE(l->views.volume->doubleValue(), shown);
    }

    void searchTextIsRestored() {
        storeIfGiven(keys::kLibrarySearch, QString("밤 🌙"));
        test::LaunchedApp l("en");
        QCOMPARE(l->search->text(), QString("밤 🌙"));
    }

    // The pass skips the folder pop-up: its tool tip is set in English already.
    void folderPopUp() {
        test::LaunchedApp l("en");
        const QComboBox* f = l->folderPicker;
        QCOMPARE(f->count(), 1);
        QCOMPARE(f->itemText(0), L10n::tr("모든 폴더"));
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
        test::LaunchedApp l("en");
        WindowViews& v = l->views;
        const QHash<QString, QWidget*> named{
            {"titleLabel", v.titleLabel}, {"artistLabel", v.artistLabel},
            {"infoLabel", v.infoLabel},   {"pageTitle", v.pageTitle},
            {"pageSub", v.pageSub},       {"folderPicker", l->folderPicker}};
        QWidget* w = named.value(view);
        QVERIFY(Translator::isExempt(w));
        // A title from the library that happens to be a phrase of the table
        // survives a pass over a window that holds the view.
        QWidget host;
        w->setParent(&host);
        if (auto* label = qobject_cast<QLabel*>(w))
            label->setText("즐겨찾기");
        else
            l->folderPicker->setItemText(0, "즐겨찾기");
        auto* control = new QLabel("검색", &host);
        Translator::translateView(&host);
        QCOMPARE(control->text(), L10n::tr("검색"));
        if (auto* label = qobject_cast<QLabel*>(w))
            QCOMPARE(label->text(), QString("즐겨찾기"));
        else
            QCOMPARE(l->folderPicker->itemText(0), QString("즐겨찾기"));
        w->setParent(nullptr);
    }

    void titleLabelStartsInTheInterfaceLanguage() {
        L10n::setLanguage("en");
        platform::Platform plat;
        App app(plat);
        QCOMPARE(app.views.titleLabel->text(), L10n::tr("음악을 선택하세요"));
        QVERIFY(!L10n::hasHangul(app.views.titleLabel->text()));
    }

    // ---- building blocks ----

    void pills_data() {
        QTest::addColumn<double>("spacing");
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("pad");
        QTest::newRow("search") << 8.0 << 34.0 << 14.0;
        QTest::newRow("settings") << 0.0 << 34.0 << 10.0;
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
        QList<int> tags;
        for (SidebarButton* b : app.views.sidebarButtons)
            tags << b->tag();
        QCOMPARE(tags, (QList<int>{0, 1, 5, 2}));
        QCOMPARE(app.views.sidebarButtons[2]->label(), L10n::tr("최근 받은 곡"));
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
