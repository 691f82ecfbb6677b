// The now-playing artist and format lines: shown at once and after the
// background probe, and a probe that answers after another track started.
#include "app/App.h"
#include "app/UserDefaults.h"

#include "CaseRows.h"
#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestHome.h"

#include <QLabel>
#include <QSemaphore>
#include <QThreadPool>

using namespace ql;

namespace {

struct LabelCase {
    const char* name;
    QString album;
    QString artist;
    StreamFacts facts;
    bool overtaken; // another track starts while this probe runs
    QString artistLine;
    QString formatLine;
};

// clang-format off
const std::vector<LabelCase>& labelCases() {
    static const std::vector<LabelCase> cases{
        {"album and artist on two lines, the facts after the probe", "Album", "Artist",
         {"flac", 44100, 16, 1, 3}, false, "Album\nArtist", "FLAC | 16/44.1kHz Mono"},
        {"empty album and artist give an empty line", "", "", {"mp3", 44100, 0, 2, 3}, false, "",
         "MP3 | 44.1kHz Stereo"},
        {"an artist alone, without a line break", "", "Artist", {"flac", 96000, 24, 2, 3}, false,
         "Artist", "FLAC | 24/96kHz Stereo"},
        {"a failed probe leaves the line empty", "Album", "", StreamFacts{}, false, "Album", ""},
        {"a late answer for the previous track is dropped", "Album", "Artist",
         {"flac", 96000, 24, 2, 3}, true, "B album", "MP3 | 48kHz Stereo"},
    };
    return cases;
}
// clang-format on

} // namespace

class InfoLabelsTest : public QObject {
    Q_OBJECT
private slots:
    void labels_data() { test::addRows(labelCases()); }
    void labels() {
        const LabelCase& c = test::currentCase(labelCases());
        UserDefaults().clear();
        test::RiggedApp rig{test::twoOutputs()};
        App& app = rig.app;
        QSemaphore firstMayAnswer;
        app.seams.probeAudio = [&](const QString& path) {
            if (path == "b.flac")
                return StreamFacts{"mp3", 48000, 0, 2, 1};
            firstMayAnswer.acquire();
            return c.facts;
        };
        const Track a{1, "a.flac", "A", c.artist, c.album, 3, {}};
        app.playback.current = a;
        app.updateInfoLabels(a);
        QCOMPARE(app.views.infoLabel->text(), QString());
        if (!c.overtaken)
            QCOMPARE(app.views.artistLabel->text(), c.artistLine); // at once
        if (c.overtaken) {
            const Track b{2, "b.flac", "B", {}, "B album", 1, {}};
            app.playback.current = b;
            app.updateInfoLabels(b);
            QVERIFY(QTest::qWaitFor([&] { return !app.views.infoLabel->text().isEmpty(); }));
        }
        firstMayAnswer.release();
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QCOMPARE(app.views.artistLabel->text(), c.artistLine);
        QCOMPARE(app.views.infoLabel->text(), c.formatLine);
    }
};

QL_TEST_MAIN(InfoLabelsTest)
#include "InfoLabelsTest.moc"
