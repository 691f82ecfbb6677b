// Guards against: (fixture) a row looking before a reader of a user's file has
// handed on its work.
// Every background reader of a user's file runs on that file's reader thread
// (platform/UserFiles.h), which posts its answer to the main thread; a render
// or decode is queued only from there. A row that once waited for a pool
// alone waits here for the readers, the pools it names and the steps they
// post, until all are quiet together. Header only.
#pragma once

#include "platform/UserFiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QThreadPool>

#include <initializer_list>

namespace ql::test {

// No reader runs, and neither Qt's shared pool nor any of `pools` has work.
inline bool readersIdle(std::initializer_list<QThreadPool*> pools = {}) {
    if (platform::UserFiles::stillRunning() > 0 ||
        QThreadPool::globalInstance()->activeThreadCount() > 0)
        return false;
    for (QThreadPool* pool : pools)
        if (pool->activeThreadCount() > 0)
            return false;
    return true;
}

// Waits until readersIdle() holds both before and after the main thread has
// run what was posted to it; false when it did not within `ms`.
inline bool readersSettled(std::initializer_list<QThreadPool*> pools = {}, int ms = 60000) {
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const bool before = readersIdle(pools);
        QCoreApplication::processEvents();
        if (before && readersIdle(pools))
            return true;
        QTest::qWait(5);
    }
    return false;
}

} // namespace ql::test
