// The phone remote under load: 2,000 sequential "/s" requests from a client
// thread over loopback, p99 latency, beside a bare QTcpServer answering a fixed
// 200 without parsing (goal: p99 <= 10 ms and <= 1.5 x the bare server). Then
// the request judge alone beside QUrl parsing the same targets.
#include "TimeRecorder.h"

#include "remote/RemoteRequest.h"
#include "remote/RemoteServer.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace ql;

namespace {

constexpr int kRequests = 2000;
const QByteArray kRequest = "GET /s?t=abc234 HTTP/1.1\r\nHost: phone\r\n\r\n";

// One request on a fresh connection, read to the server's close; false on failure.
bool roundTrip(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
              ::send(fd, kRequest.constData(), size_t(kRequest.size()), 0) == kRequest.size();
    char buffer[4096];
    ssize_t n = 0, total = 0;
    while (ok && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        total += n;
    ::close(fd);
    return ok && total > 0;
}

// p99 of kRequests sequential requests, in seconds, the server running on this
// thread's event loop meanwhile.
double p99(quint16 port) {
    std::vector<double> seconds;
    seconds.reserve(kRequests);
    bool failed = false;
    std::thread client([&] {
        for (int i = 0; i < kRequests && !failed; ++i) {
            const auto start = std::chrono::steady_clock::now();
            failed = !roundTrip(port);
            seconds.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    client.join();
    if (failed)
        return -1;
    std::sort(seconds.begin(), seconds.end());
    return seconds[std::size_t(seconds.size() * 99 / 100)];
}

void report(benchmark::State& state, double p99Seconds) {
    if (p99Seconds < 0) {
        state.SkipWithError("a request failed");
        return;
    }
    state.SetIterationTime(p99Seconds);
    state.counters["p99_ms"] = p99Seconds * 1000;
}

void BM_RemoteP99(benchmark::State& state) {
    remote::RemoteServer server("abc234", 0, QHostAddress::LocalHost);
    server.onState = [] {
        return QVariantMap{{"title", "Song"}, {"artist", "Band"}, {"playing", true},
                           {"pos", 75.5},     {"dur", 3725.0},    {"vol", 80}};
    };
    if (!server.start().isEmpty()) {
        state.SkipWithError("listen failed");
        return;
    }
    for (auto _ : state)
        report(state, p99(server.port()));
}

void BM_BareP99(benchmark::State& state) {
    QTcpServer bare;
    QObject::connect(&bare, &QTcpServer::newConnection, [&bare] {
        while (QTcpSocket* socket = bare.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write(
                    "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    if (!bare.listen(QHostAddress::LocalHost, 0)) {
        state.SkipWithError("listen failed");
        return;
    }
    for (auto _ : state)
        report(state, p99(bare.serverPort()));
}

const QList<QByteArray> kTargets = {
    "/s?t=abc234",           "/s",
    "/s?t=abc235",           "/",
    "/x?t=abc234",           "/s/?t=abc234",
    "/s?t=no&t=abc234",      "/c?t=abc234&c=seek&v=%31",
    "/l?t=abc234&q=a+b%20c", "/s?t=abc234&q=%zz",
    "u@h:80/s?t=abc234#f",   "/?t=abc234",
};

void BM_Judge(benchmark::State& state) {
    QList<QByteArray> lines;
    for (const QByteArray& target : kTargets)
        lines << "GET " + target + " HTTP/1.1\r\nHost: phone\r\n\r\n";
    for (auto _ : state)
        for (const QByteArray& line : lines)
            benchmark::DoNotOptimize(remote::judgeRequest(line, u"abc234"));
}

void BM_QUrl(benchmark::State& state) {
    for (auto _ : state)
        for (const QByteArray& target : kTargets) {
            const QUrl url(QString::fromUtf8("http://x" + target), QUrl::StrictMode);
            benchmark::DoNotOptimize(QUrlQuery(url).queryItems(QUrl::FullyDecoded));
            benchmark::DoNotOptimize(url.path(QUrl::FullyDecoded));
        }
}

BENCHMARK(BM_RemoteP99)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareP99)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Judge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QUrl)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    bench::TimeRecorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    benchmark::Shutdown();
    const auto ms = [&](const char* name) {
        const auto it = recorder.ms.find(name);
        return it == recorder.ms.end() ? -1.0 : it->second;
    };
    const double ours = ms("BM_RemoteP99/iterations:1/manual_time");
    const double bare = ms("BM_BareP99/iterations:1/manual_time");
    if (ours > 0 && bare > 0)
        std::printf("remote p99 %.3f ms (goal <= 10 ms: %s); bare server p99 %.3f ms; "
                    "ours / bare = %.2f (goal <= 1.5: %s)\n",
                    ours, ours <= 10 ? "met" : "missed", bare, ours / bare,
                    ours <= 1.5 * bare ? "met" : "missed");
    const double judge = ms("BM_Judge"), qurl = ms("BM_QUrl");
    if (judge > 0 && qurl > 0)
        std::printf("judge %.2f us for %lld targets; QUrl %.2f us; judge / QUrl = %.2f\n", judge,
                    static_cast<long long>(kTargets.size()), qurl, judge / qurl);
    return 0;
}
