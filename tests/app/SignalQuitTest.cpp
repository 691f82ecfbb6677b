// The program itself on a real X server (Xvfb), sent SIGTERM right after its
// launch, while the settings its first start writes (the one-time reset, the
// exclusive mode dropped) still wait for their write. The signal ends the
// program through its normal quit: exit status 0, those settings in the
// file beside the volume the run found there, no temporary file of ours left.
#include "platform/SingleInstance.h"

#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>

#include <csignal>

class SignalQuitTest : public QObject {
    Q_OBJECT
private slots:
    void sigtermQuitsThroughTheNormalQuit() {
        const QString ini = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Quavelark/Quavelark.ini";
        QDir().mkpath(QFileInfo(ini).path());
        QVERIFY(ql::test::writeFile(ini, "[General]\nhogMode=true\nplayerVolume=37\n"));

        QProcess program;
        program.setProgram(ql::test::TestHome::buildDir() + "/quavelark");
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        // The exit status is the program's own: leaks the sanitizer may find
        // in system libraries at exit must not stand in for it.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!env.contains("ASAN_OPTIONS"))
            env.insert("ASAN_OPTIONS", "detect_leaks=0");
        program.setProcessEnvironment(env);
        program.start();
        QVERIFY(program.waitForStarted());
        // Its hand-over socket is there just before the launch begins.
        const QString socket = ql::platform::SingleInstance::defaultName();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 60000);
        QTest::qWait(200);
        QCOMPARE(::kill(pid_t(program.processId()), SIGTERM), 0);

        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const QSettings stored(ini, QSettings::IniFormat);
        QCOMPARE(stored.value("fxResetV1").toString(), QString("true"));
        QCOMPARE(stored.value("maxQuality").toString(), QString("true"));
        QVERIFY(!stored.contains("hogMode"));
        QCOMPARE(stored.value("playerVolume").toDouble(), 37.0);
        QCOMPARE(QDir::temp().entryList({QStringLiteral("Quavelark-*")}, QDir::Files),
                 QStringList{});
    }
};

QL_TEST_MAIN_CORE(SignalQuitTest)
#include "SignalQuitTest.moc"
