// Guards against: a quit that cuts the sound badly or leaves processes behind.
// The whole program on a real X server (Xvfb): a WavPack file plays through the
// decode road with the real ffmpeg, the user closes the window, the event
// loop ends with status 0 after the quit ran, and no temporary file of ours
// is left in the temporary folder.
#include "app/App.h"
#include "app/UserDefaults.h"
#include "platform/sim/SimPlatform.h"

#include "LaunchedApp.h"
#include "TestAudio.h"
#include "TestHome.h"

#include <QDir>
#include <QMainWindow>
#include <QTimer>

using namespace ql;

class QuitEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void closingTheWindowQuitsCleanly() {
        UserDefaults().clear();
        const QString path = QDir::temp().filePath(QStringLiteral("tone.wv"));
        QVERIFY(test::runFfmpeg(
            {"-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-c:a", "wavpack", path}));
        test::LaunchedApp l(QStringLiteral("ko"),
                            [](App& app) { app.platform = platform::makeSimulatedPlatform(); });
        const QStringList ours{QStringLiteral("Quavelark-*")};

        l->play(Track{1, path, QStringLiteral("Tone"), {}, {}, 3, {}});
        QTRY_VERIFY_WITH_TIMEOUT(l->isPlaying(), 30000);
        QCOMPARE(QDir::temp().entryList(ours, QDir::Files).size(), 1);

        QTimer::singleShot(0, l->window.get(), [&l] { l->window->close(); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(l->core.terminated);
        QCOMPARE(QDir::temp().entryList(ours, QDir::Files), QStringList{});
    }
};

QL_TEST_MAIN(QuitEndToEndTest)
#include "QuitEndToEndTest.moc"
