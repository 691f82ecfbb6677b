// Guards against: wrong cell texts and double-click rules in the track table.
#include "ui/TrackCells.h"

#include "TestHome.h"
#include "TestUnits.h"

using namespace ql;

namespace {
Track track(const QString& path, const QString& title = "Song", const QString& artist = "Lumen",
            const QString& album = "Harbor", double duration = 200) {
    return Track{1, path, title, artist, album, duration, {}};
}
} // namespace

Q_DECLARE_METATYPE(ql::Track)
Q_DECLARE_METATYPE(std::optional<ql::CellFilter>)

class TrackCellsTest : public QObject {
    Q_OBJECT
private slots:
    void cellText_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<Track>("track");
        QTest::addColumn<bool>("favorite");
        QTest::addColumn<QString>("text");
        const Track flac = track("/Music/A/01 Intro.flac");
        // clang-format off
        QTest::newRow("favourite title") << "title" << flac << true << "♥ Song";
        QTest::newRow("a favourite's artist has no mark") << "artist" << flac << true << "Lumen";
        QTest::newRow("duration past an hour in minutes")
            << "duration" << track("/a.flac", "S", "A", "B", 7322) << false << "122:02";
        QTest::newRow("unknown duration")
            << "duration" << track("/a.flac", "S", "A", "B", qQNaN()) << false << "0:00";
        QTest::newRow("format upper-cased") << "format" << track("/Music/B.Mp3") << false << "MP3";
        QTest::newRow("no extension, empty cell")
            << "format" << track("/Music/A/README") << false << "";
        QTest::newRow("a dot in the folder is no extension")
            << "format" << track("/Music/v1.0/track") << false << "";
        QTest::newRow("hidden file without extension")
            << "format" << track("/Music/.flac") << false << "";
        // clang-format on
    }
    void cellText() {
        QFETCH(QString, column);
        QFETCH(Track, track);
        QFETCH(bool, favorite);
        QFETCH(QString, text);
        QCOMPARE(trackCellText(column, track, favorite, "unused"), text);
    }

    void rowDoubleClick_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<Track>("track");
        QTest::addColumn<std::optional<CellFilter>>("filter");
        const Track t = track("/a.flac");
        const std::optional<CellFilter> play;
        QTest::newRow("album filters")
            << "album" << t << std::optional(CellFilter{"album", "Harbor"});
        QTest::newRow("artist filters")
            << "artist" << t << std::optional(CellFilter{"artist", "Lumen"});
        QTest::newRow("empty album plays") << "album" << track("/a.flac", "S", "A", "") << play;
        QTest::newRow("title plays") << "title" << t << play;
        QTest::newRow("beside the columns plays") << "" << t << play;
    }
    void rowDoubleClick() {
        QFETCH(QString, column);
        QFETCH(Track, track);
        QFETCH(std::optional<CellFilter>, filter);
        QCOMPARE(rowDoubleClickFilter(column, track), filter);
    }

    void headerDoubleClick_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<Track>("track");
        QTest::addColumn<std::optional<CellFilter>>("filter");
        const Track t = track("/Music/A/01.FLAC");
        const std::optional<CellFilter> none;
        QTest::newRow("title") << "title" << t << std::optional(CellFilter{"title", "Song"});
        QTest::newRow("artist") << "artist" << t << std::optional(CellFilter{"artist", "Lumen"});
        QTest::newRow("album") << "album" << t << std::optional(CellFilter{"album", "Harbor"});
        QTest::newRow("format: dot and lower-case extension")
            << "format" << t << std::optional(CellFilter{"format", ".flac"});
        QTest::newRow("format of a file without extension")
            << "format" << track("/Music/A/README") << none;
        QTest::newRow("duration never filters") << "duration" << t << none;
        QTest::newRow("empty album") << "album" << track("/a.flac", "S", "A", "") << none;
    }
    void headerDoubleClick() {
        QFETCH(QString, column);
        QFETCH(Track, track);
        QFETCH(std::optional<CellFilter>, filter);
        QCOMPARE(headerDoubleClickFilter(column, track), filter);
    }
};

QL_TEST_UNIT(TrackCellsTest)
#include "TrackCellsTest.moc"
