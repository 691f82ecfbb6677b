// Guards against: (fixture) a test touching the real user's files.
// Every test process runs in a home of its own: HOME, XDG_CONFIG_HOME,
// XDG_DATA_HOME, XDG_RUNTIME_DIR and TMPDIR point into one temporary folder that
// is removed at exit, so no test reads or writes the real user's files.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

namespace ql::test {

class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString path() const;
    // The build tree (for the built executable and its resources).
    static QString buildDir();

private:
    QTemporaryDir m_dir;
};

} // namespace ql::test

// A Qt Test main for widget tests (offscreen) in a temporary home.
#define QL_TEST_MAIN(TestClass)                                                                    \
    int main(int argc, char** argv) {                                                              \
        ql::test::TestHome home;                                                                   \
        QApplication app(argc, argv);                                                              \
        TestClass tc;                                                                              \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

// The same for tests that need no widgets.
#define QL_TEST_MAIN_CORE(TestClass)                                                               \
    int main(int argc, char** argv) {                                                              \
        ql::test::TestHome home;                                                                   \
        QCoreApplication app(argc, argv);                                                          \
        TestClass tc;                                                                              \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
