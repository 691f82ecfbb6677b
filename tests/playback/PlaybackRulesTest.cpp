// Guards against: miscounted plays, wrong successors, unsafe decoder input.
#include "app/SettingLimits.h"
#include "app/DecodeCommand.h"
#include "playback/PlayCount.h"
#include "playback/Succession.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <cmath>
#include <limits>

using namespace ql;

namespace {
Track track(qint64 id) {
    return Track{id, QStringLiteral("/m/%1.flac").arg(id), {}, {}, {}, 100, {}};
}

std::vector<Track> tracks(std::initializer_list<qint64> ids) {
    std::vector<Track> out;
    for (qint64 id : ids)
        out.push_back(track(id));
    return out;
}

constexpr qint64 kNone = -1;
} // namespace

class PlaybackRulesTest : public QObject {
    Q_OBJECT
private slots:
    // Ticks of listening (0.5 s each) until a track of `duration` counts.
    void countThresholds_data() {
        QTest::addColumn<double>("duration");
        QTest::addColumn<int>("ticks");
        QTest::newRow("4 s track counts at 5 s") << 4.0 << 10;
        QTest::newRow("20 s track counts at 10 s") << 20.0 << 20;
        QTest::newRow("60 s track counts at 30 s") << 60.0 << 60;
        QTest::newRow("100 s track counts at 30 s") << 100.0 << 60;
        QTest::newRow("no length counts at 5 s") << 0.0 << 10;
        QTest::newRow("NaN length counts at 5 s") << std::numeric_limits<double>::quiet_NaN() << 10;
        QTest::newRow("infinite length counts at 5 s")
            << std::numeric_limits<double>::infinity() << 10;
    }
    void countThresholds() {
        QFETCH(double, duration);
        QFETCH(int, ticks);
        double played = 0;
        bool counted = false;
        for (int i = 1; i < ticks; ++i)
            QVERIFY2(!advancePlayCount(played, counted, duration), "counted too early");
        QVERIFY(!counted);
        QVERIFY(advancePlayCount(played, counted, duration));
        QVERIFY(counted);
        QCOMPARE(played, ticks * 0.5);
        // Counted once per start, however long it plays.
        for (int i = 0; i < 200; ++i)
            QVERIFY(!advancePlayCount(played, counted, duration));
        QCOMPARE(played, ticks * 0.5);
    }

    void recordPlayStartsFromZeroAndKeepsOthers() {
        QHash<QString, PlayStat> stats{{"/old", {4, 100}}, {"/other", {1, 50}}};
        recordPlay(stats, "/old", 2000.5);
        recordPlay(stats, "/new", 3000.25);
        QCOMPARE(stats.value("/old"), (PlayStat{5, 2000.5}));
        QCOMPARE(stats.value("/new"), (PlayStat{1, 3000.25}));
        QCOMPARE(stats.value("/other"), (PlayStat{1, 50}));
    }

    void peekNext_data() {
        QTest::addColumn<QList<qint64>>("radio");
        QTest::addColumn<QList<qint64>>("rows");
        QTest::addColumn<QList<qint64>>("filtered");
        QTest::addColumn<qint64>("current");
        QTest::addColumn<qint64>("next");
        QTest::addColumn<bool>("wraps"); // the next track is the list's first again
        const QList<qint64> all{1, 2, 3, 4, 5};
        QTest::newRow("radio queue comes first")
            << QList<qint64>{4} << all << QList<qint64>{1, 2, 3} << qint64(1) << qint64(4) << false;
        QTest::newRow("radio ids without a track are passed over")
            << QList<qint64>{99, 98, 5, 3} << all << QList<qint64>{1, 2} << qint64(1) << qint64(5)
            << false;
        QTest::newRow("radio of unknown ids falls back to the list")
            << QList<qint64>{99} << all << QList<qint64>{1, 2, 3} << qint64(2) << qint64(3)
            << false;
        QTest::newRow("the entry after the current one")
            << QList<qint64>{} << all << QList<qint64>{3, 1, 2} << qint64(1) << qint64(2) << false;
        QTest::newRow("wraps from the last to the first")
            << QList<qint64>{} << all << QList<qint64>{3, 1, 2} << qint64(2) << qint64(3) << true;
        QTest::newRow("current not visible: the first entry")
            << QList<qint64>{} << all << QList<qint64>{4, 5} << qint64(1) << qint64(4) << false;
        QTest::newRow("no current track: the first entry")
            << QList<qint64>{} << all << QList<qint64>{2, 3} << kNone << qint64(2) << false;
        QTest::newRow("only the current track: itself")
            << QList<qint64>{} << all << QList<qint64>{2} << qint64(2) << qint64(2) << true;
        QTest::newRow("empty list and no radio: nothing")
            << QList<qint64>{} << all << QList<qint64>{} << qint64(1) << kNone << false;
        QTest::newRow("radio that resolves wins over an empty list")
            << QList<qint64>{2} << all << QList<qint64>{} << kNone << qint64(2) << false;
        QTest::newRow("a repeated id: after its first occurrence")
            << QList<qint64>{} << all << QList<qint64>{1, 2, 1, 3} << qint64(1) << qint64(2)
            << false;
    }
    void peekNext() {
        QFETCH(QList<qint64>, radio);
        QFETCH(QList<qint64>, rows);
        QFETCH(QList<qint64>, filtered);
        QFETCH(qint64, current);
        QFETCH(qint64, next);
        QFETCH(bool, wraps);
        std::vector<Track> rowTracks, visible;
        for (qint64 id : rows)
            rowTracks.push_back(track(id));
        for (qint64 id : filtered)
            visible.push_back(track(id));
        const std::optional<Track> cur =
            current == kNone ? std::nullopt : std::optional<Track>(track(current));
        const std::optional<Track> got = ql::peekNext(radio, rowTracks, visible, cur);
        QCOMPARE(got ? got->id : kNone, next);
        QCOMPARE(ql::nextWrapsAround(radio, rowTracks, visible, cur), wraps);
    }

    void peekNextTakesTheCatalogTrackForARadioId() {
        std::vector<Track> rows = tracks({7, 8});
        rows[1].title = "first with id 8";
        rows.push_back(Track{8, "/dup", "second with id 8", {}, {}, 1, {}});
        const auto got = ql::peekNext({8}, rows, {}, std::nullopt);
        QVERIFY(got);
        QCOMPARE(got->title, QString("first with id 8"));
    }

    // Listening left, at the player's speed, and whether it lies in the
    // arming window (0.6, 4.0].
    void armingWindow_data() {
        QTest::addColumn<double>("duration");
        QTest::addColumn<double>("time");
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("left");
        QTest::addColumn<bool>("arms");
        QTest::newRow("4.0 s left: arms") << 10.0 << 6.0 << 1.0 << 4.0 << true;
        QTest::newRow("4.5 s left: too early") << 10.0 << 5.5 << 1.0 << 4.5 << false;
        QTest::newRow("0.6 s left: too late") << 10.0 << 9.4 << 1.0 << 0.6 << false;
        QTest::newRow("0.7 s left: arms") << 10.0 << 9.3 << 1.0 << 0.7 << true;
        QTest::newRow("at 2x, 8 s of file is 4 s of listening")
            << 20.0 << 12.0 << 2.0 << 4.0 << true;
        QTest::newRow("at 0.5x, 2 s of file is 4 s of listening")
            << 10.0 << 8.0 << 0.5 << 4.0 << true;
        QTest::newRow("speed below 0.25 counts as 0.25") << 10.0 << 9.5 << 0.1 << 2.0 << true;
        QTest::newRow("past the end") << 10.0 << 10.5 << 1.0 << -0.5 << false;
    }
    void armingWindow() {
        QFETCH(double, duration);
        QFETCH(double, time);
        QFETCH(double, rate);
        QFETCH(double, left);
        QFETCH(bool, arms);
        const double got = ql::listeningLeft(duration, time, rate);
        QVERIFY2(std::abs(got - left) < 1e-9, qPrintable(QString::number(got)));
        QCOMPARE(ql::inArmingWindow(left), arms);
    }

    void bitPerfectRefuses_data() {
        QTest::addColumn<double>("playing");
        QTest::addColumn<double>("successor");
        QTest::addColumn<bool>("refused");
        QTest::newRow("same rate") << 44100.0 << 44100.0 << false;
        QTest::newRow("1.0 Hz away") << 44100.0 << 44099.0 << false;
        QTest::newRow("1.5 Hz away") << 44100.0 << 44101.5 << true;
        QTest::newRow("another family") << 44100.0 << 48000.0 << true;
        QTest::newRow("successor rate unknown") << 44100.0 << 0.0 << false;
        QTest::newRow("playing rate unknown") << 0.0 << 96000.0 << false;
    }
    void bitPerfectRefuses() {
        QFETCH(double, playing);
        QFETCH(double, successor);
        QFETCH(bool, refused);
        QCOMPARE(ql::bitPerfectRefuses(playing, successor), refused);
    }

    void smartListIndex_data() {
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<int>("index");
        QTest::newRow("all tracks") << qint64(0) << 0;
        QTest::newRow("hi-res") << qint64(6) << 6;
        QTest::newRow("9 selects the last list") << qint64(9) << 6;
        QTest::newRow("above int range") << std::numeric_limits<qint64>::max() << 6;
        QTest::newRow("negative selects all tracks") << qint64(-3) << 0;
        QTest::newRow("below int range") << std::numeric_limits<qint64>::min() << 0;
    }
    void smartListIndex() {
        QFETCH(qint64, stored);
        QFETCH(int, index);
        QCOMPARE(ql::smartListIndex(stored), index);
    }

    void playbackSpeed_data() {
        QTest::addColumn<double>("stored");
        QTest::addColumn<double>("speed");
        QTest::newRow("within range") << 1.25 << 1.25;
        QTest::newRow("too fast") << 7.0 << 2.0;
        QTest::newRow("too slow") << 0.1 << 0.5;
        QTest::newRow("negative") << -1.0 << 0.5;
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << 1.0;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 1.0;
    }
    void playbackSpeed() {
        QFETCH(double, stored);
        QFETCH(double, speed);
        QCOMPARE(ql::playbackSpeed(stored), speed);
    }

    // What ffmpeg is told to read: only ever the file, never a protocol or
    // an option, whatever the file is called.
    void ffmpegInput_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("input");
        QTest::newRow("absolute") << "/m/a b.flac"
                                  << "file:/m/a b.flac";
        QTest::newRow("relative, named like a URL") << "http://x/y.mp3"
                                                    << "file:/cwd/http://x/y.mp3";
        QTest::newRow("relative, named like a protocol") << "concat:a|b"
                                                         << "file:/cwd/concat:a|b";
        QTest::newRow("relative, named like an option") << "-i"
                                                        << "file:/cwd/-i";
    }
    void ffmpegInput() {
        QFETCH(QString, path);
        QFETCH(QString, input);
        QCOMPARE(ql::ffmpegInput(path, QStringLiteral("/cwd")), input);
        QCOMPARE(ql::decodeArguments(path, QStringLiteral("/t/o.caf"), QStringLiteral("/cwd"))
                     .filter(QStringLiteral("file:")),
                 QStringList{input});
    }

    // What a failed ffmpeg said of its output, in its own words.
    void ffmpegWriteFault_data() {
        QTest::addColumn<QByteArray>("errors");
        QTest::addColumn<int>("fault");
        QTest::newRow("a full disk") << QByteArray("av_interleaved_write_frame(): No space left on "
                                                   "device\nError writing trailer of /w/o.caf: No "
                                                   "space left on device\n")
                                     << int(WorkFileFault::NoRoom);
        QTest::newRow("a full quota")
            << QByteArray("Error closing file /w/o.caf: Disk quota exceeded\n")
            << int(WorkFileFault::NoRoom);
        QTest::newRow("a damaged source") << QByteArray("/m/a.flac: Invalid data found when "
                                                        "processing input\n")
                                          << int(WorkFileFault::None);
        QTest::newRow("nothing said") << QByteArray() << int(WorkFileFault::None);
    }
    void ffmpegWriteFault() {
        QFETCH(QByteArray, errors);
        QFETCH(int, fault);
        QCOMPARE(int(ql::ffmpegWriteFault(errors)), fault);
    }
};

QL_TEST_UNIT(PlaybackRulesTest)
#include "PlaybackRulesTest.moc"
