// Guards against: (fixture) a test's own wait answering the program's queued
// calls late, so that its slowness is counted as the program's.
// QTest::qWaitFor handles the pending events and then sleeps 10 ms, whatever
// arrives meanwhile; the program's own event loop answers a queued call as
// soon as it is posted. Where a row measures how fast the program reacts
// (a track's end handed to the main thread, the next one started), this
// wait runs a real event loop instead: it sleeps only in the event
// dispatcher, which wakes for every posted call. Header only.
#pragma once

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace ql::test {

// Runs the event loop until `done()` holds, looking after every event
// handled and at least every millisecond; false when `timeoutMs` passed first.
template <class Predicate>
bool waitInEventLoop(Predicate done, int timeoutMs) {
    if (done())
        return true;
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    QEventLoop loop;
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    look.setInterval(1);
    bool met = false;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        met = done();
        if (met || deadline.hasExpired())
            loop.quit();
    });
    look.start();
    loop.exec();
    return met;
}

} // namespace ql::test
