// Guards against: (fixture) a unit left out of its folder's program.
#include "TestHome.h"
#include "TestUnits.h"

namespace ql::test {

std::vector<UnitFactory>& units() {
    static std::vector<UnitFactory> all;
    return all;
}

} // namespace ql::test

int main(int argc, char** argv) {
    ql::test::TestHome home;
    QApplication app(argc, argv);
    const QByteArray only = qgetenv("QL_TEST_UNIT");
    int failed = 0;
    for (const ql::test::UnitFactory make : ql::test::units()) {
        const std::unique_ptr<QObject> unit = make();
        if (only.isEmpty() || only == unit->metaObject()->className())
            failed += QTest::qExec(unit.get(), argc, argv);
    }
    return failed;
}
