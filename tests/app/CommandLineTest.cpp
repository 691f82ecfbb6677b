// Guards against: arguments misread: a file taken for an option, an option lost.
#include "app/CommandLine.h"

#include "TestHome.h"

using namespace ql;

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void runMode_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("validation");
        QTest::newRow("self-test first")
            << QStringList{"quavelark", "--self-test", "a.wav"} << true;
        QTest::newRow("self-test after other arguments")
            << QStringList{"quavelark", "a.wav", "--save", "--self-test"} << true;
        QTest::newRow("save alone starts normally") << QStringList{"quavelark", "--save"} << false;
        QTest::newRow("a look-alike is not the flag")
            << QStringList{"quavelark", "--self-tests", "-self-test"} << false;
    }
    void runMode() {
        QFETCH(QStringList, args);
        QFETCH(bool, validation);
        QCOMPARE(decideRunMode(args) == RunMode::Validation, validation);
    }

    void validationFileIsTheLastArgument() {
        QCOMPARE(validationFile({"q", "--self-test", "/music/a.flac"}), QString("/music/a.flac"));
        // No file given: the last argument is the flag itself, which then fails to open.
        QCOMPARE(validationFile({"q", "--save", "--self-test"}), QString("--self-test"));
        QVERIFY(isSaveRun({"q", "--self-test", "x.wav", "--save"}));
        QVERIFY(!isSaveRun({"q", "--self-test", "x.wav"}));
    }

    void fileArguments_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("relative made absolute") << QStringList{"q", "a.flac", "sub/../b.wav"}
                                                << QStringList{"/home/u/a.flac", "/home/u/b.wav"};
        QTest::newRow("absolute kept, options skipped")
            << QStringList{"q", "--verbose", "/x/y.mp3", "-"} << QStringList{"/x/y.mp3"};
        QTest::newRow("file URLs are paths")
            << QStringList{"q", "file:///m/a%20b.flac", "FILE:rel.wav"}
            << QStringList{"/m/a b.flac", "/home/u/rel.wav"};
        QTest::newRow("another address passes as it is")
            << QStringList{"q", "https://h/c.flac"} << QStringList{"https://h/c.flac"};
        QTest::newRow("program path is not a file")
            << QStringList{"/usr/bin/quavelark"} << QStringList{};
    }
    void fileArguments() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, files);
        QCOMPARE(ql::fileArguments(args, "/home/u"), files);
    }
};

QL_TEST_MAIN_CORE(CommandLineTest)
#include "CommandLineTest.moc"
