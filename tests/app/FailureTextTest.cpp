// Guards against: a failure message in the wrong language or with its file name changed.
// Failures met outside the program reach the status line in the interface
// language: in Korean no Latin letter outside the name, in English no Hangul;
// the program or file name stays as it is.
#include "app/App.h"
#include "app/JSONStore.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QRegularExpression>

using namespace ql;

class FailureTextTest : public QObject {
    Q_OBJECT
private slots:
    void failuresSpeakTheInterfaceLanguage_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("lang");
        const char* names[] = {"missing interpreter", "unwritable data folder", "junk decoded"};
        for (int f = 0; f < 3; ++f)
            for (const char* lang : {"ko", "en"})
                QTest::addRow("%s, %s", names[f], lang) << f << QString(lang);
    }
    void failuresSpeakTheInterfaceLanguage() {
        QFETCH(int, failure);
        QFETCH(QString, lang);
        L10n::setLanguage(lang);
        test::RiggedApp r(test::twoOutputs(), platform::SimOutputs{platform::SimClock::Manual, {}});
        App& app = r.app;
        app.playback.maxQuality = false;
        QString name; // the status line's end
        if (failure == 0) {
            name = "/nonexistent/python3";
            test::fakes(app).tools.backendCommand = [name] {
                return QStringList{name, QL_TEST_SUPPORT_DIR "/fake_backend.py"};
            };
            app.startBackend();
            QVERIFY(QTest::qWaitFor([&] { return app.library.backendError; }, 10000));
        } else if (failure == 1) {
            const QString data = QDir::temp().filePath("데이터");
            QDir().mkpath(data);
            QFile::setPermissions(data, QFile::ReadOwner | QFile::ExeOwner);
            app.core.store = JSONStore(data);
            app.saveCatalog();
            name = app.catalogURL();
        } else {
            const QString junk = test::tempFile("junk-ffmpeg.sh"), input = test::tempFile("t.wv");
            test::writeExecutable(junk, "for out; do :; done\nprintf junk > \"$out\"\n");
            test::fakes(app).tools.decodeProgram = [junk] { return junk; };
            if (!QFile::exists(input))
                test::runFfmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "wavpack", input});
            app.play(Track{1, input, "T", {}, {}, 1, {}});
            QVERIFY(QTest::qWaitFor([&] { return !app.playback.loading; }, 30000));
            name = QRegularExpression("Quavelark-[0-9A-F-]+\\.caf")
                       .match(app.status->stringValue())
                       .captured();
        }
        const QString text = app.status->stringValue();
        QVERIFY2(!name.isEmpty() && text.endsWith(name), qPrintable(text));
        const QString fixed = text.chopped(name.size());
        const bool latin = fixed.contains(QRegularExpression("[A-Za-z]")); // outside the name
        QVERIFY2(lang == "ko" ? !latin && L10n::hasHangul(fixed) : latin && !L10n::hasHangul(fixed),
                 qPrintable(text));
    }
};

QL_TEST_MAIN(FailureTextTest)
#include "FailureTextTest.moc"
