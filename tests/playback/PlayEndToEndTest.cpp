// Guards against: a play that does not reach the device from the real window.
// The whole program on a real X server (Xvfb) and the simulated device in
// real time, with the stand-in backend serving a catalog of three short WAV
// files made here: a play request and a double-click on a row of the window
// start the track, the clock moves, and the end of the file plays the next
// visible row.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"
#include "platform/sim/SimPlatform.h"
#include "ui/PlayButton.h"
#include "ui/TrackTableModel.h"
#include "ui/TrackTableView.h"
#include "ui/l10n/L10n.h"

#include "FakeBackend.h"
#include "FakeServices.h"
#include "OpenSettled.h"
#include "StoredSettings.h"
#include "TestAudio.h"
#include "TestHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>

#include <sndfile.h>

using namespace ql;

namespace {

// Generous bounds for a loaded machine; the figures seen are printed.
constexpr int kClockWithinMs = 5000;
constexpr int kNextWithinMs = 10000;

struct Launched {
    platform::Platform plat = platform::makeSimulatedPlatform();
    test::FakeBackend backend;
    std::unique_ptr<App> app;

    Launched() {
        UserDefaults().clear();
        UserDefaults().set(keys::kViewKind, 0); // the track list
        test::storeMaxQualityOff();
        L10n::setLanguage("ko");
        std::vector<Track> catalog;
        for (qint64 id = 1; id <= 3; ++id) {
            const QString path =
                test::writeTemp(QStringLiteral("e2e-%1.wav").arg(id),
                                {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 2 * 44100});
            catalog.push_back(Track{id, path, QStringLiteral("T%1").arg(id), {}, {}, 2, {}});
        }
        backend.plan.insert("default", test::FakeBackend::write({test::FakeBackend::line(
                                           Library{catalog, std::nullopt, std::nullopt})}));
        backend.install();
        app = std::make_unique<App>(plat, test::fakeServices());
        test::fakes(*app).tools.missingTools = [] { return QStringList{}; };
        test::fakes(*app).tools.backendCommand = [] { return test::FakeBackend::command(); };
        app->applicationDidFinishLaunching();
    }
    const TrackList& visible() const { return app->browser.filtered; }
    std::optional<qint64> currentId() const {
        return app->playback.current ? std::optional(app->playback.current->id) : std::nullopt;
    }
    QString button() const { return app->views.playButton->title(); }

    // The clock reaches "0:01", then the end of the file plays `next`.
    void followsThrough(const Track& next) {
        QElapsedTimer started;
        started.start();
        QTRY_VERIFY_WITH_TIMEOUT(app->clock->text().startsWith("0:01"), kClockWithinMs);
        qInfo("clock at 0:01 after %lld ms", started.elapsed());
        QTRY_COMPARE_WITH_TIMEOUT(currentId(), std::optional(next.id), kNextWithinMs);
        qInfo("next row playing after %lld ms", started.elapsed());
        QVERIFY(app->isPlaying());
        QCOMPARE(app->playback.audio->path(), next.path);
        QCOMPARE(button(), QStringLiteral("⏸ 일시정지"));
    }
};

} // namespace

class PlayEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void playAndDoubleClickRunToTheNextRow() {
        Launched l;
        QTRY_COMPARE_WITH_TIMEOUT(l.visible().size(), std::size_t(3), 10000);
        QVERIFY(QTest::qWaitForWindowExposed(l.app->window.get()));
        const std::vector<Track> rows = l.visible().tracks();

        QVERIFY(test::playTaken(*l.app, rows[0]));
        QCOMPARE(l.button(), QStringLiteral("⏸ 일시정지"));
        l.followsThrough(rows[1]);

        // The last row, double-clicked in the window; its end wraps to the first.
        TrackTableView* table = l.app->views.table;
        TrackTableModel* model = l.app->views.tableModel;
        const QModelIndex cell = model->index(2, model->columnOf(QStringLiteral("title")));
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(cell).center());
        QCOMPARE(l.currentId(), std::optional(rows[2].id));
        QCOMPARE(l.button(), QStringLiteral("⏸ 일시정지"));
        l.followsThrough(rows[0]);
    }
};

QL_TEST_MAIN(PlayEndToEndTest)
#include "PlayEndToEndTest.moc"
