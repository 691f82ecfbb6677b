// Guards against: window parts missing, untranslated, or restored from settings wrongly.
#include "analysis/WaveformView.h"
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/AlbumGridView.h"
#include "ui/ClickImageView.h"
#include "ui/IconButton.h"
#include "ui/PlayButton.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include "LaunchedApp.h"
#include "StoredSettings.h"
#include "TestHome.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>

#include <memory>

using namespace ql;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::clearSettings(); }
    void cleanup() { L10n::setLanguage("en"); }

    void columnsInOrder() {
        test::LaunchedApp l("en");
        const WindowViews& v = l->views;
        const QStringList ids{"title", "artist", "album", "format", "quality", "duration"};
        const QStringList headers{"곡", "가수", "앨범", "포맷", "음질", "길이"};
        QCOMPARE(v.tableModel->columnCount(), 6);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(v.tableModel->identifier(i), ids[i]);
            const QString header =
                v.tableModel->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
            QCOMPARE(header, L10n::tr(headers[i]));
            QVERIFY2(!L10n::hasHangul(header), qPrintable(header));
            QCOMPARE(v.tableModel->columnOf(ids[i]), i);
        }
    }

    // Every control the window build puts on screen is shown inside the
    // window: a part left out of the build, or built and never placed, fails.
    void builtControlsAreOnScreen() {
        test::LaunchedApp l("en");
        const WindowViews& v = l->views;
        // The launch shows the album grid (no view kind stored), not the table.
        const QList<const QWidget*> shown{
            v.albumView,      v.titleLabel,   v.artistLabel,   v.infoLabel,
            v.volume,         v.barFav,       v.restartButton, v.shuffleButton,
            v.previousButton, v.playButton,   v.nextButton,    v.nowPlayingButton,
            v.elapsedLabel,   v.remainLabel,  v.volDownButton, v.volUpButton,
            v.lockBtn,        v.deviceButton, v.toolsButton,   v.transportBar,
            l->art,           l->wave,        l->search,       l->repeatBtn,
            l->volDB,         l->status};
        QList<int> hidden;
        for (int i = 0; i < shown.size(); ++i)
            if (!shown[i] || !shown[i]->isVisible())
                hidden << i;
        QCOMPARE(hidden, QList<int>{}); // positions in the list above
        for (const QWidget* w : shown) {
            QVERIFY(w->window() == l->window.get());
            QVERIFY(!w->size().isEmpty());
        }
    }

    void volumeFromSettings_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<double>("shown");
        QTest::newRow("absent gives 70") << QVariant() << 70.0;
        QTest::newRow("a stored 0 stays 0") << QVariant(0) << 0.0;
        QTest::newRow("above the range is clamped") << QVariant(250) << 100.0;
        QTest::newRow("unreadable counts as absent") << QVariant("loud") << 70.0;
    }
    void volumeFromSettings() {
        QFETCH(QVariant, stored);
        QFETCH(double, shown);
        test::storeSetting(keys::kPlayerVolume, stored);
        test::LaunchedApp l("en");
        QCOMPARE(l->views.volume->doubleValue(), shown);
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

    // Catalog texts shown in these views are never run through the table: a
    // title from the library that happens to be a phrase of the table
    // survives a pass over a window that holds the view.
    void catalogViewsAreExempt() {
        test::LaunchedApp l("en");
        WindowViews& v = l->views;
        for (QWidget* w :
             std::initializer_list<QWidget*>{v.titleLabel, v.artistLabel, v.infoLabel, v.pageTitle,
                                             v.pageSub, l->folderPicker}) {
            QVERIFY(Translator::isExempt(w));
            QWidget host;
            QWidget* parent = w->parentWidget();
            w->setParent(&host);
            auto* label = qobject_cast<QLabel*>(w);
            if (label)
                label->setText("즐겨찾기");
            else
                l->folderPicker->setItemText(0, "즐겨찾기");
            auto* control = new QLabel("검색", &host);
            Translator::translateView(&host);
            QCOMPARE(control->text(), L10n::tr("검색"));
            QCOMPARE(label ? label->text() : l->folderPicker->itemText(0), QString("즐겨찾기"));
            w->setParent(parent);
        }
    }

    void titleLabelStartsInTheInterfaceLanguage() {
        L10n::setLanguage("en");
        platform::Platform plat;
        App app(plat);
        QCOMPARE(app.views.titleLabel->text(), L10n::tr("음악을 선택하세요"));
        QVERIFY(!L10n::hasHangul(app.views.titleLabel->text()));
    }
};

QL_TEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
