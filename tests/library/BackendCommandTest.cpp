// Guards against: backend replies misread into the wrong result or message.
#include "library/BackendCommand.h"

#include "TestHome.h"
#include "TestUnits.h"

using namespace ql;

namespace {
const QString kCouldNotRead = QStringLiteral("음원 라이브러리의 응답을 해석할 수 없습니다.");
const QString kCouldNotOpen = QStringLiteral("음원을 열지 못했습니다.");
} // namespace

class BackendCommandTest : public QObject {
    Q_OBJECT
private slots:
    void runsTheScriptWithItsOwnPATH() {
        QProcessEnvironment system;
        system.insert("PATH", "/home/u/.pyenv/shims:/usr/bin");
        system.insert("LANG", "ko_KR.UTF-8");
        const BackendCommand c = backendCommand(std::nullopt, "/opt/q/resources", system);
        QCOMPARE(c.program, QString("/usr/bin/python3"));
        QCOMPARE(c.arguments, QStringList{"/opt/q/resources/backend.py"});
        QCOMPARE(c.environment.value("PATH"),
                 QString("/opt/q/resources/bin:/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin"));
        QCOMPARE(c.environment.value("LANG"), QString("ko_KR.UTF-8"));

        const BackendCommand i =
            importCommand(backendCommand("/usr/local/bin/python3", "/r", system), "/음악/a b.flac");
        QCOMPARE(i.program, QString("/usr/local/bin/python3"));
        QCOMPARE(i.arguments, (QStringList{"/r/backend.py", "--import-file", "/음악/a b.flac"}));
        QCOMPARE(i.environment.value("PATH"), backendPATH("/r"));
    }

    void importOutcome_data() {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("title"); // of the opened track, "" for none
        QTest::addColumn<QString>("error");
        const QByteArray track =
            R"({"id":7,"path":"/m/a.flac","title":"가을","artist":"","album":"","duration":1.5,"art":""})";
        // clang-format off
        QTest::newRow("white space around the document")
            << " \n{\"opened\":" + track + "}\r\n" << "가을" << "";
        QTest::newRow("opened wins over an error")
            << "{\"opened\":" + track + ",\"error\":\"x\"}" << "가을" << "";
        QTest::newRow("the backend's error")
            << QByteArray(R"({"error":"음원 파일이 아닙니다: a.txt"})") << ""
            << "음원 파일이 아닙니다: a.txt";
        QTest::newRow("an empty object") << QByteArray("{}") << "" << kCouldNotOpen;
        QTest::newRow("an empty error") << QByteArray(R"({"error":""})") << "" << kCouldNotOpen;
        QTest::newRow("a log line before the reply")
            << "scanning /m\n{\"opened\":" + track + "}" << "" << kCouldNotRead;
        QTest::newRow("no output at all") << QByteArray() << "" << kCouldNotRead;
        QTest::newRow("a track without its title")
            << QByteArray( R"({"opened":{"id":7,"path":"/m/a.flac","artist":"","album":"","duration":1,"art":""}})")
            << "" << kCouldNotRead;
        // clang-format on
    }
    void importOutcome() {
        QFETCH(QByteArray, output);
        QFETCH(QString, title);
        QFETCH(QString, error);
        const ImportOutcome o = ql::importOutcome(output);
        QCOMPARE(o.opened ? o.opened->title : QString(), title);
        QCOMPARE(o.error, error);
    }
};

QL_TEST_UNIT(BackendCommandTest)
#include "BackendCommandTest.moc"
