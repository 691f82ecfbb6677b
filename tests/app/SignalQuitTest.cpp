// Guards against: a SIGTERM that skips the normal quit, losing settings or leaving files.
// The program on Xvfb gets SIGTERM just after its launch, while the settings
// its first start changes still wait for their write. It ends through the
// normal quit: status 0, those settings (the volume the window build stores
// among them) in the file, no temporary file of ours left.
#include "platform/SingleInstance.h"

#include "TestFiles.h"
#include "TestHome.h"

#include <QProcess>
#include <QSettings>

#include <csignal>

class SignalQuitTest : public QObject {
    Q_OBJECT
private slots:
    void sigtermQuitsThroughTheNormalQuit() {
        const QString ini = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Quavelark/Quavelark.ini";
        QVERIFY(QDir().mkpath(QFileInfo(ini).path()) &&
                ql::test::writeFile(ini, "[General]\nhogMode=true\n"));
        if (qEnvironmentVariableIsEmpty("ASAN_OPTIONS")) // system libraries' leaks are no status
            qputenv("ASAN_OPTIONS", "detect_leaks=0");
        QProcess program;
        program.start(ql::test::TestHome::buildDir() + "/quavelark", {});
        const QString socket = ql::platform::SingleInstance::defaultName(); // made before launch
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 60000);
        QTest::qWait(200);
        QCOMPARE(::kill(pid_t(program.processId()), SIGTERM), 0);

        QVERIFY(program.waitForFinished(60000) && program.exitStatus() == QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const QSettings stored(ini, QSettings::IniFormat);
        QVERIFY(stored.value("fxResetV1").toBool() && !stored.contains("hogMode"));
        // The slider's value, or the device's own volume when it has one.
        const double volume = stored.value("playerVolume", -1).toDouble();
        QVERIFY(volume >= 0 && volume <= 100);
        QVERIFY(ql::test::ourFiles({"Quavelark-*"}).isEmpty());
    }
};

QL_TEST_MAIN_CORE(SignalQuitTest)
#include "SignalQuitTest.moc"
