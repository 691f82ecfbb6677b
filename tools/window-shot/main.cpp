// Builds the main window over a synthetic catalog, in a temporary home, and
// saves it as a PNG, with a second sheet of every symbol and the custom
// widgets; it then stays open for `hold` seconds so a screen grab of the whole
// display (Xvfb) can be taken. A tool for looking, not a test: it checks
// nothing. Usage: ql_window_shot <out-prefix> [en|ko] [hold seconds] [albums <tile size>]
// With "albums", the window shows the album grid of thirty made-up albums,
// each with a picture, every third one hi-res, at the given tile size.
#include "FakeServices.h"
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "ui/AlbumGrouping.h"
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
#include <QPainter>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

using namespace ql;

namespace {

// Twenty tracks, Korean and Latin, with a few long names and one file
// without extension.
std::vector<Track> syntheticCatalog() {
    const struct {
        const char* folder;
        const char* title;
        const char* artist;
        const char* album;
        const char* ext;
    } rows[] = {
        {"케이팝 🎧", "밤편지 🌙", "아이유", "팔레트", "flac"},
        {"케이팝 🎧", "좋은 날", "아이유", "Real", "flac"},
        {"케이팝 🎧", "봄날", "방탄소년단", "You Never Walk Alone", "m4a"},
        {"케이팝 🎧", "너의 의미 (Feat. 김창완)", "아이유", "꽃갈피", "mp3"},
        {"Jazz", "So What", "Miles Davis", "Kind of Blue", "flac"},
        {"Jazz", "Blue in Green 💙", "Miles Davis", "Kind of Blue", "flac"},
        {"Jazz", "Take Five", "The Dave Brubeck Quartet", "Time Out", "wav"},
        {"Jazz", "My Favorite Things", "John Coltrane", "My Favorite Things", "flac"},
        {"Classical", "Clair de lune", "Debussy", "Suite bergamasque", "flac"},
        {"Classical", "Gymnopédie No. 1", "Erik Satie", "Gymnopédies", "ogg"},
        {"Classical",
         "Goldberg Variations, BWV 988: Aria da capo (a very long title that must be cut)",
         "Glenn Gould", "Bach: The Goldberg Variations (1981 Digital Recording)", "flac"},
        {"Rock", "Bohemian Rhapsody", "Queen", "A Night at the Opera", "flac"},
        {"Rock", "Paranoid Android", "Radiohead", "OK Computer", "mp3"},
        {"인디", "사랑하기 때문에", "유재하", "사랑하기 때문에", "flac"},
        {"인디", "혜화동", "동물원", "동물원 2", "flac"},
        {"인디", "한계", "Jannabi", "", "opus"},
        {"인디", "나의 옛날이야기", "조덕배", "꿈에", ""},
        {"Electronic", "Windowlicker", "Aphex Twin", "Windowlicker", "flac"},
        {"Electronic", "Teardrop", "Massive Attack", "Mezzanine", "aiff"},
        {"Electronic", "Idioteque", "Radiohead", "Kid A", "flac"},
    };
    std::vector<Track> out;
    qint64 id = 1;
    for (const auto& r : rows) {
        Track t;
        t.id = id;
        t.path = QStringLiteral("/Music/%1/%2").arg(QString::fromUtf8(r.folder)).arg(id);
        if (*r.ext)
            t.path += QLatin1Char('.') + QLatin1String(r.ext);
        t.title = QString::fromUtf8(r.title);
        t.artist = QString::fromUtf8(r.artist);
        t.album = QString::fromUtf8(r.album);
        t.duration = 95 + 37 * double(id) + (id == 11 ? 3600 : 0);
        out.push_back(t);
        ++id;
    }
    return out;
}

// Thirty albums of two tracks, by artists that start with letters, digits
// and Hangul, one title too long for its tile.
std::vector<Track> albumCatalog() {
    const QStringList artists{"Aurora",   "Bonobo",   "Caribou",    "Daft Punk",  "Enya",
                              "Four Tet", "Grimes",   "Hania Rani", "아이유",     "Jon Hopkins",
                              "Kiasmos",  "Low Roar", "Moderat",    "Nils Frahm", "Ólafur Arnalds"};
    std::vector<Track> out;
    for (int i = 0; i < 60; ++i) {
        const int album = i / 2;
        Track t;
        t.id = i + 1;
        t.artist = album == 29 ? QStringLiteral("2Cellos") : artists[album % artists.size()];
        t.album = album == 7 ? QStringLiteral("A Very Long Album Title That Cannot Fit Its Tile")
                             : QStringLiteral("Album %1").arg(album + 1);
        t.title = QStringLiteral("Track %1").arg(i % 2 + 1);
        t.path = QStringLiteral("/Music/%1/%2.flac").arg(t.artist).arg(t.id);
        t.duration = 200;
        out.push_back(t);
    }
    return out;
}

// A made-up cover: a two-colour gradient with the album's initial.
QImage syntheticCover(const QString& album, int hue) {
    QImage image(300, 300, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    QLinearGradient g(0, 0, 300, 300);
    g.setColorAt(0, QColor::fromHsv(hue, 160, 220));
    g.setColorAt(1, QColor::fromHsv((hue + 60) % 360, 200, 90));
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(150);
    f.setBold(true);
    p.setFont(f);
    p.drawText(image.rect(), Qt::AlignCenter, album.left(1));
    return image;
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
    const bool albums = args.value(4) == QLatin1String("albums");
    const int tile = args.value(5, QStringLiteral("150")).toInt();
    // The table unless the album grid is asked for.
    UserDefaults().set(keys::kViewKind, albums ? 1 : 0);

    L10n::setLanguage(lang);

    platform::Platform plat;
    App app(plat, test::fakeServices());
    test::fakes(app).tools.missingTools = [] { return QStringList{}; };
    // The catalog is the synthetic one.
    test::fakes(app).tools.backendWrite = [](const QByteArray&) {};
    app.applicationDidFinishLaunching();
    if (albums) {
        app.library.rows = albumCatalog();
        for (const Track& t : app.library.rows) {
            app.browser.coverCache.insert(coverKey(t),
                                          syntheticCover(t.artist, int(t.id) * 23 % 360));
            if (t.id % 6 == 1)
                app.library.qual.insert(t.path, QStringLiteral("FLAC 96kHz/24bit ★"));
            else
                app.library.qual.insert(t.path, QStringLiteral("FLAC 44.1kHz/16bit"));
        }
        app.views.gridSlider->setValue(tile * kGridSliderScale);
        app.filter();
        app.window->move(0, 0);
        QTimer::singleShot(1500, [&] {
            app.window->grab().save(prefix + QStringLiteral("-window.png"));
            QTimer::singleShot(hold * 1000, [] { QApplication::quit(); });
        });
        return QApplication::exec();
    }
    app.library.rows = syntheticCatalog();
    // Covers for some albums (the rest keep the default cover), a few
    // favourites and quality labels (the rest wait with "…").
    int hue = 0;
    for (const Track& t : app.library.rows) {
        if (t.id % 3 != 0)
            app.browser.coverCache.insert(coverKey(t), syntheticCover(t.album, hue));
        hue = (hue + 47) % 360;
        if (t.id % 4 == 1)
            app.listening.favorites.insert(t.path);
        if (t.id % 2 == 0)
            app.library.qual.insert(t.path, t.id % 4 == 0 ? QStringLiteral("FLAC 96kHz/24bit ★")
                                                          : QStringLiteral("MP3 320kbps ⬆"));
    }
    app.rebuildFolders();
    app.filter();
    // What a playing track's labels look like (long ones, to see them cut).
    const Track& shown = app.library.rows[10];
    app.views.titleLabel->setText(shown.title);
    app.views.artistLabel->setText(
        shown.artist + QStringLiteral(", Leipzig Gewandhaus Orchestra, Berliner Philharmoniker and "
                                      "the Choir of King's College"));
    app.views.infoLabel->setText(QStringLiteral("FLAC · 44.1kHz · 16bit"));
    app.selectTableRow(2);

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
