// How long a QTRY_ wait may take, by what it waits for.
//
// A wait without a bound of its own keeps QTest's: 5 s. That is the bound of
// a row that means "promptly": what it waits for follows from a few turns of
// the event loop or the next step of one of the program's threads (a click
// on the waveform seeks there, a stopped server refuses, a device queue
// fills, a reservation is lost when another program takes the name). Even a
// machine with four busy processes per core runs such a step in far less,
// and a failing row reports within seconds.
//
// A row that waits for work a loaded machine stretches says so with
// QTRY_*_WITH_TIMEOUT(expr, ql::test::kOutcomeMs): a file opened, decoded
// or rendered before a track plays, a child program, a worker thread's scan
// or catalog, an exchange with a local server, a window manager's answer.
// Such work took up to 8.3 s (a catalog reply shown) at two busy processes
// per core. A wait ends as soon as its condition holds, so the bound costs a
// passing row nothing. Included in every test program (cmake/QlTest.cmake).
#pragma once

#include <QTest>

namespace ql::test {
inline constexpr int kOutcomeMs = 30000;
} // namespace ql::test
