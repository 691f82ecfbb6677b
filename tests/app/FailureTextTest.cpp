// Failures the program meets outside itself (a missing interpreter, a data
// folder it may not write, a decoded file no player opens) reach the status
// line in the interface language: in Korean no Latin letter outside the
// name, in English no Hangul; the name itself stays as it is.
#include "app/App.h"
#include "app/JSONStore.h"
#include "app/UserDefaults.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include "RiggedApp.h"
#include "SimRigs.h"
#include "TestAudio.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace ql;
using namespace ql::platform;

namespace {

enum class Trigger { MissingInterpreter, UnwritableDataFolder, JunkDecode };

// Runs the failure on a fresh controller; gives the status line and the name
// it should hold as it is.
std::pair<QString, QString> provoke(Trigger trigger) {
    test::RiggedApp r(test::twoOutputs(), SimOutputs{SimClock::Manual, {}});
    App& app = r.app;
    switch (trigger) {
    case Trigger::MissingInterpreter: {
        const QString python = QStringLiteral("/nonexistent/python3");
        app.seams.backendCommand = [python] {
            return QStringList{python, QStringLiteral(QL_TEST_SUPPORT_DIR "/fake_backend.py")};
        };
        app.startBackend();
        QTest::qWaitFor([&] { return app.library.backendError; }, 10000);
        return {app.status->stringValue(), python};
    }
    case Trigger::UnwritableDataFolder: {
        static QTemporaryDir dir;
        const QString data = dir.path() + QStringLiteral("/데이터");
        QDir().mkpath(data);
        QFile::setPermissions(data, QFile::ReadOwner | QFile::ExeOwner);
        app.core.store = JSONStore(data);
        app.saveCatalog();
        return {app.status->stringValue(), app.catalogURL()};
    }
    case Trigger::JunkDecode: {
        const QString junk = test::tempFile(QStringLiteral("junk-ffmpeg.sh"));
        test::writeExecutable(junk, "for out; do :; done\nprintf junk > \"$out\"\n");
        app.seams.decodeProgram = [junk] { return junk; };
        const QString input = test::tempFile(QStringLiteral("tone.m4a"));
        if (!QFile::exists(input))
            test::runFfmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac", input});
        app.play(Track{1, input, QStringLiteral("T"), {}, {}, 1, {}});
        QTest::qWaitFor([&] { return !app.playback.loading; }, 30000);
        static const QRegularExpression decoded(QStringLiteral("Quavelark-[0-9A-F-]+\\.caf"));
        const QString text = app.status->stringValue();
        return {text, decoded.match(text).captured()};
    }
    }
    return {};
}

} // namespace

class FailureTextTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { L10n::setLanguage("en"); }

    void failuresSpeakTheInterfaceLanguage_data() {
        QTest::addColumn<int>("trigger");
        QTest::addColumn<QString>("lang");
        const std::pair<const char*, Trigger> triggers[] = {
            {"missing interpreter", Trigger::MissingInterpreter},
            {"unwritable data folder", Trigger::UnwritableDataFolder},
            {"decoded file no player opens", Trigger::JunkDecode},
        };
        for (const auto& [name, trigger] : triggers)
            for (const char* lang : {"ko", "en"})
                QTest::addRow("%s, %s", name, lang) << int(trigger) << QString(lang);
    }
    void failuresSpeakTheInterfaceLanguage() {
        QFETCH(int, trigger);
        QFETCH(QString, lang);
        UserDefaults().clear();
        L10n::setLanguage(lang);
        const auto [text, name] = provoke(Trigger(trigger));
        QVERIFY2(!name.isEmpty() && text.endsWith(name), qPrintable(text));
        const QString fixed = text.chopped(name.size());
        static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
        if (lang == QLatin1String("ko"))
            QVERIFY2(!fixed.contains(latin) && L10n::hasHangul(fixed), qPrintable(text));
        else
            QVERIFY2(!L10n::hasHangul(fixed) && fixed.contains(latin), qPrintable(text));
    }
};

QL_TEST_MAIN(FailureTextTest)
#include "FailureTextTest.moc"
