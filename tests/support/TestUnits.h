// Guards against: (fixture) a unit left out of its folder's program.
// Several test classes in one program, for the small tests of one folder:
// each file ends with QL_TEST_UNIT(Class) in place of a main of its own, and
// UnitsMain.cpp runs every class registered, in one temporary home. Set
// QL_TEST_UNIT=Class to run one class alone (its own arguments then apply).
#pragma once

#include <QObject>

#include <memory>
#include <vector>

namespace ql::test {

using UnitFactory = std::unique_ptr<QObject> (*)();
std::vector<UnitFactory>& units();

struct UnitRegistration {
    explicit UnitRegistration(UnitFactory make) { units().push_back(make); }
};

} // namespace ql::test

#define QL_TEST_UNIT(TestClass)                                                                    \
    static const ql::test::UnitRegistration qlUnit##TestClass{                                     \
        [] { return std::unique_ptr<QObject>(new TestClass); }};
