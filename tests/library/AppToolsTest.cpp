// Guards against: a setup script that is wrong, follows a planted link, or is never shown.
#include "app/App.h"
#include "library/SetupScript.h"
#include "platform/Platform.h"

#include "FakeServices.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QUrl>

using namespace ql;
using test::readFile;
using test::writeFile;

namespace {

// The script the program writes: apt-get's package lists brought up to date,
// then ffmpeg, python3 and python3-mutagen installed, a word on the password
// `sudo` asks for, no line break after the last line.
const QByteArray kSetupScript =
    "#!/bin/bash\n"
    "clear\n"
    "echo \"=== Quavelark 필요한 프로그램 설치 ===\"\n"
    "echo \"비밀번호를 물으면 입력하세요(입력해도 화면에 안 보입니다).\"\n"
    "echo\n"
    "echo \"[1/2] apt(설치 도우미) 패키지 목록 갱신 중…\"\n"
    "sudo apt-get update\n"
    "echo\n"
    "echo \"[2/2] FFmpeg · Python 설치 중… (몇 분 걸릴 수 있어요)\"\n"
    "sudo apt-get install -y ffmpeg python3 python3-mutagen\n"
    "echo\n"
    "echo \"=== 설치 끝! Quavelark을 종료했다가 다시 실행하세요. ===\"\n"
    "read -n 1 -s -r -p \"아무 키나 누르면 이 창이 닫힙니다\"";

const QFile::Permissions k0755 = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                 QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                 QFile::ExeOther;

QFile::Permissions modeOf(const QString& path) {
    // Qt reports the "User" bits too; compare the owner/group/other ones only.
    const QFile::Permissions mask = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                    QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                    QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    return QFile::permissions(path) & mask;
}

// Points TMPDIR, XDG_RUNTIME_DIR and PATH somewhere else for one test, and back.
struct Environment {
    QByteArray oldTmp = qgetenv("TMPDIR");
    QByteArray oldRun = qgetenv("XDG_RUNTIME_DIR");
    QByteArray oldPath = qgetenv("PATH");
    ~Environment() {
        qputenv("TMPDIR", oldTmp);
        qputenv("XDG_RUNTIME_DIR", oldRun);
        qputenv("PATH", oldPath);
    }
};

// What the setup call asked of the desktop.
struct Calls {
    int beeps = 0;
    QList<QPair<QString, QStringList>> started;
    QList<QUrl> opened;

    void attach(App& app, bool terminalStarts = true) {
        test::fakes(app).desktop.beep = [this] { ++beeps; };
        test::fakes(app).desktop.startDetached = [this, terminalStarts](const QString& p,
                                                                        const QStringList& a) {
            started << qMakePair(p, a);
            return terminalStarts;
        };
        test::fakes(app).desktop.openUrl = [this](const QUrl& u) {
            opened << u;
            return true;
        };
    }
};

} // namespace

class AppToolsTest : public QObject {
    Q_OBJECT
private slots:
    // Each row prepares the runtime and temporary folders, runs the setup
    // once and checks where and what it wrote and what it asked the desktop
    // to do.
    void setupScript_data() {
        QTest::addColumn<QString>("runtime");  // "private", "shared" or "none"
        QTest::addColumn<QString>("tmp");      // how the temporary folder looks
        QTest::addColumn<QString>("terminal"); // "found", "fails" or "absent"
        QTest::addColumn<QString>("action");   // "terminal", "open" or "beep"
        // clang-format off
        QTest::newRow("a terminal runs the script in the runtime folder")
            << "private" << "empty" << "found" << "terminal";
        QTest::newRow("no terminal: the desktop opens the file")
            << "private" << "empty" << "absent" << "open";
        QTest::newRow("a terminal that fails to start: the desktop opens the file")
            << "private" << "empty" << "fails" << "open";
        QTest::newRow("an older copy with other content and mode is replaced")
            << "private" << "old copy" << "found" << "terminal";
        QTest::newRow("no runtime folder: a fresh private folder, a planted link left alone")
            << "none" << "link" << "found" << "terminal";
        QTest::newRow("a runtime folder others may enter is not used")
            << "shared" << "empty" << "found" << "terminal";
        QTest::newRow("no runtime folder and a missing temporary folder: beep")
            << "none" << "missing" << "found" << "beep";
        QTest::newRow("no runtime folder and a temporary folder open to all: beep, nothing made")
            << "none" << "open to all" << "found" << "beep";
        QTest::newRow("no runtime folder and a temporary folder open to its group: beep, nothing made")
            << "none" << "open to its group" << "found" << "beep";
        QTest::newRow("a folder under the script's name: beep, no terminal")
            << "private" << "folder in the way" << "found" << "beep";
        // clang-format on
    }
    void setupScript() {
        QFETCH(QString, runtime);
        QFETCH(QString, tmp);
        QFETCH(QString, terminal);
        QFETCH(QString, action);

        Environment env;
        QTemporaryDir root;
        const QString tmpDir = root.filePath("tmp");
        const QString runDir = root.filePath("run");
        const QString oldScript = tmpDir + "/Quavelark-setup.command";
        const QString runScript = runDir + "/Quavelark-setup.command";
        const QString victim = root.filePath("victim.txt");
        QVERIFY(writeFile(victim, "keep me"));
        if (tmp != "missing")
            QVERIFY(QDir().mkpath(tmpDir));
        // Writable by all, not sticky: another user could rename a folder of
        // ours away and put one with a script of theirs in its place.
        if (tmp == "open to all")
            QVERIFY(QFile::setPermissions(tmpDir, QFile::Permissions(0x7777)));
        // Likewise for a member of its group.
        if (tmp == "open to its group")
            QVERIFY(QFile::setPermissions(tmpDir, QFile::Permissions(0x7770)));
        QVERIFY(QDir().mkpath(runDir));
        QVERIFY(QFile::setPermissions(
            runDir,
            runtime == "shared" ? k0755 : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        if (tmp == "old copy") {
            QVERIFY(writeFile(runScript, "echo old\n"));
            QVERIFY(QFile::setPermissions(runScript, QFile::ReadOwner | QFile::WriteOwner));
        }
        if (tmp == "link")
            QVERIFY(QFile::link(victim, oldScript));
        if (tmp == "folder in the way")
            QVERIFY(QDir().mkpath(runScript));
        qputenv("TMPDIR", QFile::encodeName(tmpDir));
        if (runtime == "none")
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runDir));

        // PATH holds only our fake terminal, or nothing.
        const QString bin = root.filePath("bin");
        QVERIFY(QDir().mkpath(bin));
        const QString fakeTerminal = bin + "/x-terminal-emulator";
        if (terminal != "absent") {
            QVERIFY(writeFile(fakeTerminal, "#!/bin/sh\nexit 0\n"));
            QVERIFY(QFile::setPermissions(fakeTerminal, k0755));
        }
        qputenv("PATH", QFile::encodeName(bin));

        platform::Platform plat;
        App app(plat, test::fakeServices());
        Calls calls;
        calls.attach(app, terminal != "fails");
        app.runSetupInTerminal();

        // A planted link and its target stay as they were.
        QCOMPARE(readFile(victim), QByteArray("keep me"));
        QCOMPARE(QFileInfo(oldScript).isSymLink(), tmp == "link");
        QVERIFY(!QFileInfo::exists("/Quavelark-setup.command"));

        QCOMPARE(calls.beeps, action == "beep" ? 1 : 0);
        if (action == "beep") {
            QVERIFY(calls.started.isEmpty());
            QVERIFY(calls.opened.isEmpty());
            if (tmp != "missing")
                QCOMPARE(
                    QDir(tmpDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                    QStringList{});
            return;
        }
        const QString script = !calls.started.isEmpty() ? calls.started[0].second.value(1)
                                                        : calls.opened.value(0).toLocalFile();
        if (runtime == "private")
            QCOMPARE(script, runScript);
        else
            QVERIFY(script.startsWith(tmpDir + "/Quavelark-setup-"));
        QCOMPARE(readFile(script), kSetupScript);
        QCOMPARE(modeOf(script), k0755);
        QCOMPARE(modeOf(QFileInfo(script).path()),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Only the script: no temporary copy of the atomic write left over.
        QCOMPARE(QDir(QFileInfo(script).path())
                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"Quavelark-setup.command"});

        if (terminal == "absent") {
            QVERIFY(calls.started.isEmpty());
        } else {
            QCOMPARE(calls.started.size(), 1);
            QCOMPARE(calls.started[0].first, fakeTerminal);
            QCOMPARE(calls.started[0].second, (QStringList{"-e", script}));
        }
        QCOMPARE(calls.opened,
                 action == "open" ? QList<QUrl>{QUrl::fromLocalFile(script)} : QList<QUrl>{});
    }

    // The script itself must be valid shell.
    void theScriptParses() {
        QTemporaryDir dir;
        const std::optional<QString> script = writeSetupScript(dir.path());
        QVERIFY(script.has_value());
        QProcess bash;
        bash.start("/bin/bash", {"-n", *script});
        QVERIFY(bash.waitForFinished(20000));
        QCOMPARE(bash.readAllStandardError(), QByteArray());
        QCOMPARE(bash.exitCode(), 0);
    }

    // On this machine (Debian with the packages of scripts/deps) nothing is
    // missing: the interpreter found imports mutagen.
    void nothingIsMissingHere() { QCOMPARE(App::missingTools(), QStringList{}); }

    void anAnswerAfterTheControllerIsGoneIsDropped() {
        {
            platform::Platform plat;
            App app(plat, test::fakeServices());
            test::fakes(app).desktop.alert = [](const QString&, const QString&,
                                                const QStringList&) {
                qFatal("alert from a destroyed controller");
                return 1;
            };
            app.checkMissingTools();
        }
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QTest::qWait(50);
    }
};

QL_TEST_MAIN(AppToolsTest)
#include "AppToolsTest.moc"
