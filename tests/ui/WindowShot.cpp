// Builds the main window over a synthetic catalog, in a temporary home, and
// saves it as a PNG, with a second sheet of every symbol and the custom
// widgets; it then stays open for `hold` seconds so a screen grab of the whole
// display (Xvfb) can be taken. A tool for looking, not a test: it checks
// nothing. Usage: ql_window_shot <out-prefix> [en|ko] [hold seconds]
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/ButtonFactory.h"
#include "ui/PlayButton.h"
#include "ui/SidebarButton.h"
#include "ui/Surface.h"
#include "ui/Symbol.h"
#include "ui/TabBar.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include "TestHome.h"

#include <QApplication>
#include <QDirIterator>
#include <QGridLayout>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <QVBoxLayout>

using namespace ql;

namespace {

std::vector<Track> syntheticCatalog() {
    const struct {
        const char* folder;
        const char* title;
        const char* artist;
        const char* album;
    } rows[] = {
        {"케이팝 🎧", "밤편지 🌙", "아이유", "팔레트"},
        {"케이팝 🎧", "좋은 날", "아이유", "Real"},
        {"Jazz", "So What", "Miles Davis", "Kind of Blue"},
        {"Jazz", "Blue in Green 💙", "Miles Davis", "Kind of Blue"},
        {"Classical", "Clair de lune", "Debussy", "Suite bergamasque"},
    };
    std::vector<Track> out;
    qint64 id = 1;
    for (const auto& r : rows) {
        Track t;
        t.id = id;
        t.path = QStringLiteral("/Music/%1/%2.flac").arg(QString::fromUtf8(r.folder)).arg(id);
        t.title = QString::fromUtf8(r.title);
        t.artist = QString::fromUtf8(r.artist);
        t.album = QString::fromUtf8(r.album);
        t.duration = 180 + 17 * double(id);
        out.push_back(t);
        ++id;
    }
    return out;
}

QWidget* widgetSheet() {
    auto* sheet = new QWidget;
    sheet->setAutoFillBackground(true);
    QPalette pal = sheet->palette();
    pal.setColor(QPalette::Window, Theme::panel());
    sheet->setPalette(pal);
    auto* column = new QVBoxLayout(sheet);

    auto* grid = new QGridLayout;
    QStringList names;
    for (QDirIterator it(QStringLiteral(":/icons")); it.hasNext();)
        names << QFileInfo(it.next()).completeBaseName();
    names.sort();
    int i = 0;
    for (const QString& name : names) {
        auto* icon = new QLabel;
        icon->setPixmap(sym(name, 24)->pixmap(Qt::white, 1.0));
        auto* text = new QLabel(name);
        text->setFont(Theme::font(10));
        grid->addWidget(icon, (i / 6) * 2, i % 6, Qt::AlignCenter);
        grid->addWidget(text, (i / 6) * 2 + 1, i % 6, Qt::AlignCenter);
        ++i;
    }
    column->addLayout(grid);

    auto* tabs = new TabBar({QStringLiteral("앨범"), QStringLiteral("가수"), QStringLiteral("곡"),
                             QStringLiteral("장르"), QStringLiteral("최근 추가"),
                             QStringLiteral("하이레즈")});
    tabs->setSelectedSegment(2);
    column->addWidget(tabs);

    auto* row = new QHBoxLayout;
    auto* play = new PlayButton;
    play->setTitle(L10n::tr(QStringLiteral("⏸ 일시정지")));
    row->addWidget(play);
    row->addWidget(
        roundButton(QStringLiteral("play.fill"), {34, 14, Theme::accent(), Qt::white, {}}));
    row->addWidget(roundButton(QStringLiteral("shuffle"), {30, 12, Theme::panel(), Qt::white, {}}));
    row->addWidget(flatButton(QStringLiteral("heart"), {}, {14, Theme::sub(), {}}));
    row->addWidget(
        flatButton(QStringLiteral("chevron.left"), QStringLiteral("Back"), {13, Qt::white, {}}));
    row->addWidget(flatButton(std::nullopt, QStringLiteral("A")));
    column->addLayout(row);

    auto* side = new Surface(Theme::side(), 12);
    auto* sideStack = new QVBoxLayout(side);
    auto* idle = new SidebarButton;
    idle->setup(QStringLiteral("flame"), QStringLiteral("자주 들은 곡"));
    auto* active = new SidebarButton;
    active->setup(QStringLiteral("heart.fill"), QStringLiteral("즐겨찾기"));
    active->setActive(true);
    for (SidebarButton* b : {idle, active}) {
        b->setFixedSize(184, 36);
        sideStack->addWidget(b);
    }
    sideStack->addWidget(App::section(QStringLiteral("스마트 목록")));
    column->addWidget(side);
    return sheet;
}

} // namespace

int main(int argc, char** argv) {
    test::TestHome home;
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    const QString prefix = args.value(1, QStringLiteral("window"));
    const QString lang = args.value(2, QStringLiteral("en"));
    const int hold = args.value(3, QStringLiteral("0")).toInt();

    L10n::setLanguage(lang);
    UserDefaults().set(keys::kLibrarySearch, QStringLiteral("밤 🌙"));

    platform::Platform plat;
    App app(plat);
    app.seams.missingTools = [] { return QStringList{}; };
    app.applicationDidFinishLaunching();
    app.library.rows = syntheticCatalog();
    app.rebuildFolders();
    app.filter();

    // Side by side on a display of 1900 x 860 or more.
    app.window->move(0, 0);
    QWidget* sheet = widgetSheet();
    sheet->move(1300, 0);
    sheet->show();

    QTimer::singleShot(1500, [&] {
        app.window->grab().save(prefix + QStringLiteral("-window.png"));
        sheet->grab().save(prefix + QStringLiteral("-widgets.png"));
        QTimer::singleShot(hold * 1000, [] { QApplication::quit(); });
    });
    QApplication::exec();
    delete sheet;
    return 0;
}
