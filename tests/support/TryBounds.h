// Every QTRY_ wait without a bound of its own, bounded for a busy machine.
//
// QTest's default (5 s) is what an idle machine needs; a machine whose cores
// are shared with other work (CI, two busy processes per core) stretches
// every step the program takes behind the wait: a catalog reply shown took
// 8.3 s there. A wait ends as soon as its condition holds, so the longer
// bound costs a passing row nothing and only makes a failing one slower to
// report. Included in every test program (cmake/QlTest.cmake).
#pragma once

#include <QTest>

namespace ql::test {
inline constexpr int kTryMs = 30000;
} // namespace ql::test

#undef QTRY_VERIFY
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, ql::test::kTryMs)
#undef QTRY_VERIFY2
#define QTRY_VERIFY2(expr, messageExpression)                                                      \
    QTRY_VERIFY2_WITH_TIMEOUT(expr, messageExpression, ql::test::kTryMs)
#undef QTRY_COMPARE
#define QTRY_COMPARE(expr, expected) QTRY_COMPARE_WITH_TIMEOUT(expr, expected, ql::test::kTryMs)
