// Guards against: (fixture) replies that reach the App by a road the program
// never takes.
// The library backend's standard output, for tests that write its replies
// themselves: a pipe whose read end the App's own line reader takes
// (App::startReader, as at launch), and whose write end the test writes as
// the backend does. Header only; link ql_app.
//
// send() returns once the App has taken in every line it wrote. Each reply
// line clears `library.pending`, and only a line does while the App's tick is
// still (an App never launched, or a LaunchedApp, whose tick is stopped): so
// each line goes as the answer to a request in flight, `pending` set, and is
// waited for until `pending` is clear again.
#pragma once

#include "app/App.h"

#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ql::test {

class ReplyPipe {
public:
    explicit ReplyPipe(App& app) : m_app(app) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            qFatal("no pipe for the backend's replies");
        m_writeEnd = fds[1];
        app.startReader(fds[0]); // the App's reader owns the read end from here
    }
    ~ReplyPipe() { close(m_writeEnd); }
    ReplyPipe(const ReplyPipe&) = delete;
    ReplyPipe& operator=(const ReplyPipe&) = delete;

    // Writes whole reply lines, each ended by its line feed, one after the
    // other, and waits up to `ms` for the App to take in each one; false when
    // one did not arrive, or when `bytes` ends inside a line.
    [[nodiscard]] bool send(QByteArrayView bytes, int ms = 30000) {
        if (!bytes.endsWith('\n'))
            return false;
        const QDeadlineTimer deadline(ms);
        for (qsizetype from = 0; from < bytes.size();) {
            const qsizetype end = bytes.indexOf('\n', from) + 1;
            m_app.library.pending = true;
            if (!write(bytes.sliced(from, end - from)) || !taken(deadline))
                return false;
            from = end;
        }
        return true;
    }

private:
    // Blocks while the pipe is full: the reader empties it on its own thread.
    bool write(QByteArrayView bytes) const {
        for (qsizetype at = 0; at < bytes.size();) {
            const ssize_t n =
                ::write(m_writeEnd, bytes.constData() + at, size_t(bytes.size() - at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            at += n;
        }
        return true;
    }
    bool taken(const QDeadlineTimer& deadline) const {
        return QTest::qWaitFor([this] { return !m_app.library.pending; },
                               int(std::max<qint64>(deadline.remainingTime(), 0)));
    }

    App& m_app;
    int m_writeEnd = -1;
};

} // namespace ql::test
