// Guards against: (support) rows named unlike their cases.
// Tables of cases kept as plain structs: one Qt Test row per case, named by
// the case's `name`, carrying its index in the column "index".
#pragma once

#include <QTest>

#include <vector>

namespace ql::test {

template <typename Case> void addRows(const std::vector<Case>& cases) {
    QTest::addColumn<int>("index");
    for (std::size_t i = 0; i < cases.size(); ++i)
        QTest::newRow(cases[i].name) << int(i);
}

// The case of the row that runs now.
template <typename Case> const Case& currentCase(const std::vector<Case>& cases) {
    QFETCH(int, index);
    return cases[std::size_t(index)];
}

} // namespace ql::test
