// Guards against: a crash or hang when a fetch outlives the application.
// getJSON at quit: a request still open when the application object goes
// away is abandoned, and its completion still runs exactly once, with
// nothing; a call made after that completes at once, with nothing. Needs its
// own main, since the application object must end inside the test.
#include "platform/WebFetch.h"

#include "LocalHttpServer.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <atomic>
#include <cstdio>

using namespace ql;

namespace {
std::atomic<int> calls{0};
std::atomic<int> values{0};

void record(std::optional<QJsonValue> value) {
    ++calls;
    if (value)
        ++values;
}

int fail(const char* what) {
    std::fprintf(stderr, "FAIL: %s (calls %d, values %d)\n", what, calls.load(), values.load());
    return 1;
}
} // namespace

int main(int argc, char** argv) {
    test::TestHome home;
    {
        QCoreApplication app(argc, argv);
        test::LocalHttpServer server;
        if (!server.listen())
            return fail("cannot listen on 127.0.0.1");
        server.route("/silent", {200, {}, {}, test::LocalHttpServer::Reply::Mode::Silent});
        platform::getJSON(server.url("/silent"), record);
        const QDeadlineTimer deadline(20'000);
        while (server.requests().isEmpty() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (server.requests().isEmpty())
            return fail("the request never reached the server");
        if (calls != 0)
            return fail("completed before the server answered");
    }
    if (calls != 1 || values != 0)
        return fail("the open request did not complete once with nothing at quit");

    platform::getJSON(QUrl("http://127.0.0.1:9/"), record);
    if (calls != 2 || values != 0)
        return fail("a call after quit did not complete at once with nothing");
    std::puts("PASS: getJSON at quit");
    return 0;
}
