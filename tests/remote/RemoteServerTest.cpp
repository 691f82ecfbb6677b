// Guards against: a phone remote that answers the wrong bytes, serves without the token,
// acts on a request cut off before its line end, lets a token be guessed at full speed,
// hangs on slow or idle devices, or outlives its server.
#include "remote/RemoteServer.h"

#include "CaseRows.h"
#include "HttpExchange.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <array>
#include <cmath>
#include <memory>

using namespace ql::remote;
using ql::test::exchange;

namespace {

// What a row's answer must be: status, content type and body.
enum Kind { State, Search, Empty, EmptyList, Page, Bad, Refused, Missing, TooLong, Silence };
enum class Fakes { Recording, None, NotFinite };

struct Case {
    const char* name;
    QList<QByteArray> parts; // sent 200 ms apart
    Kind kind;
    QString record = {}; // what the callbacks saw
    Fakes fakes = Fakes::Recording;
    bool endWriting = false; // the phone closes its side after the last part
};

// 8,203 bytes whose volume value lies past the limit: acted on, it would set 1.
const QByteArray kLongCommand = [] {
    const QByteArray head = "GET /c?t=abc234&c=vol&pad=", tail = "&v=100 HTTP/1.1\r\n";
    return head + QByteArray(8203 - head.size() - tail.size(), 'a') + tail;
}();

const std::vector<Case> kCases = {
    {"state", {"GET /s?t=abc234 HTTP/1.1\r\nHost: p\r\n\r\n"}, State, "s"},
    {"no token", {"GET /s HTTP/1.1\r\n\r\n"}, Refused},
    {"wrong token", {"GET /s?t=abc235 HTTP/1.1\r\n"}, Refused},
    {"page without token", {"GET / HTTP/1.1\r\n"}, Refused},
    {"unknown path without token", {"GET /x HTTP/1.1\r\n"}, Refused},
    {"page", {"GET /?t=abc234 HTTP/1.1\r\n"}, Page},
    {"POST", {"POST /s?t=abc234 HTTP/1.1\r\n"}, Bad},
    {"lower-case get", {"get /s?t=abc234 HTTP/1.1\r\n"}, Bad},
    {"single word", {"GET\r\n"}, Bad},
    {"unknown path", {"GET /x?t=abc234 HTTP/1.1\r\n"}, Missing},
    {"trailing slash", {"GET /s/?t=abc234 HTTP/1.1\r\n"}, Missing},
    {"token twice, last right", {"GET /s?t=no&t=abc234 HTTP/1.1\r\n"}, State, "s"},
    {"token twice, last wrong", {"GET /s?t=abc234&t=no HTTP/1.1\r\n"}, Refused},
    {"no version", {"GET /s?t=abc234\r\n"}, State, "s"},
    {"doubled spaces", {"GET  /s?t=abc234   HTTP/1.1\r\n"}, State, "s"},
    {"command without c", {"GET /c?t=abc234 HTTP/1.1\r\n"}, State, "c: 1 items v="},
    {"command", {"GET /c?t=abc234&c=seek&v=%31 HTTP/1.1\r\n"}, State, "c:seek 3 items v=1"},
    {"search without q", {"GET /l?t=abc234 HTTP/1.1\r\n"}, Search, "l:"},
    {"plus stays plus", {"GET /l?t=abc234&q=a+b%20c HTTP/1.1\r\n"}, Search, "l:a+b c"},
    {"no state callback", {"GET /s?t=abc234\r\n"}, Empty, "", Fakes::None},
    {"no command callback", {"GET /c?t=abc234\r\n"}, Empty, "", Fakes::None},
    {"no search callback", {"GET /l?t=abc234\r\n"}, EmptyList, "", Fakes::None},
    {"state holding NaN", {"GET /s?t=abc234\r\n"}, Empty, "s", Fakes::NotFinite},
    {"bad escape", {"GET /s?t=abc234&q=%zz HTTP/1.1\r\n"}, Bad},
    {"escape not UTF-8", {"GET /l?t=abc234&q=%FF HTTP/1.1\r\n"}, Bad},
    {"character not in a URI", {"GET /s?t=abc234&q=<b> HTTP/1.1\r\n"}, Bad},
    {"port not a number", {"GET :ab/s?t=abc234\r\n"}, Bad},
    {"user and port", {"GET u@h:80/s?t=abc234#f\r\n"}, State, "s"},
    {"line in two pieces", {"GET /s?t=ab", "c234 HTTP/1.1\r\n\r\n"}, State, "s"},
    {"line over the limit", {"GET /s?t=abc234&p=" + QByteArray(8200, 'a') + "<\r\n"}, TooLong},
    {"command cut at the limit", {kLongCommand}, TooLong},
    {"line ends at the limit", {"GET /s?t=abc234&p=" + QByteArray(8172, 'a') + "\r\n"}, State, "s"},
    {"cut inside a character",
     {"GET /s?t=abc234&p=" + QByteArray(8000, 'a') + QByteArray(300, '\xe3')},
     TooLong},
    {"line not UTF-8", {"GET /s?t=abc234\xff HTTP/1.1\r\n"}, Silence},
    {"header cut inside a character", {"GET /s?t=abc234\r\nX: \xe3\x81"}, State, "s"},
    {"LF alone ends the line", {"GET /s?t=abc234\n"}, State, "s"},
    {"LF alone after the version",
     {"GET /c?t=abc234&c=vol&v=11 HTTP/1.1\nHost: p\n\n"},
     State,
     "c:vol 3 items v=11"},
    {"command closed before its line end",
     {"GET /c?t=abc234&c=vol&v=11"},
     Silence,
     "",
     Fakes::Recording,
     true},
    {"command closed after CR, before LF",
     {"GET /c?t=abc234&c=vol&v=11\r"},
     Silence,
     "",
     Fakes::Recording,
     true},
    {"line in two pieces, closed before its end",
     {"GET /s?t=ab", "c234 HTTP/1.1"},
     Silence,
     "",
     Fakes::Recording,
     true},
    {"closed with nothing sent", {}, Silence, "", Fakes::Recording, true},
};

QByteArray response(Kind kind) {
    const QByteArray json = "application/json; charset=utf-8", plain = "text/plain";
    const std::array<std::array<QByteArray, 3>, Silence> answers = {{
        {"200 OK", json, R"({"title":"x"})"},
        {"200 OK", json, R"([{"id":1}])"},
        {"200 OK", json, "{}"},
        {"200 OK", json, "[]"},
        {"200 OK", "text/html; charset=utf-8", RemoteServer::page()},
        {"400 Bad Request", plain, ""},
        {"403 Forbidden", "text/plain; charset=utf-8", "주소(QR)의 토큰이 필요합니다."},
        {"404 Not Found", plain, ""},
        {"414 URI Too Long", plain, ""},
    }};
    if (kind == Silence)
        return {};
    const auto& [status, type, body] = answers[kind];
    return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

void install(RemoteServer& server, Fakes fakes, QString& record) {
    if (fakes == Fakes::None)
        return;
    server.onState = [&record, fakes] {
        record += "s";
        return QVariantMap{{"title", fakes == Fakes::NotFinite ? QVariant(NAN) : QVariant("x")}};
    };
    server.onCommand = [&record](const QString& command, const Query& query) {
        record += QString("c:%1 %2 items v=%3").arg(command).arg(query.size()).arg(query["v"]);
        return QVariantMap{{"title", "x"}};
    };
    server.onSearch = [&record](const QString& text) {
        record += "l:" + text;
        return QVariantList{QVariantMap{{"id", 1}}};
    };
}

// Waves of connections from one address, each left to time out in turn.
struct LoadCase {
    const char* name;
    QList<int> waves;
    int deadlineMs = 100;
    bool phoneWaits = false; // a second address waits mid-request through the waves
};

const std::vector<LoadCase> kLoads = {
    {"64 idle", {64}},
    {"64 then 200 idle", {64, 200}},
    {"burst of 1000", {1000}},
    {"flood beside a waiting phone", {300}, 20'000, true},
};

// A flood of wrong tokens from one loopback address, then the phone's
// right one from another.
struct FloodCase {
    const char* name;
    const char* flooder;
    const char* phone;
    QByteArray wrong; // followed by the try's number
    int tries;
};

const std::vector<FloodCase> kFloods = {
    {"200 wrong tokens", "127.0.0.1", "127.0.0.2", "GET /c?c=vol&v=1&t=x", 200},
    {"200 requests without a token", "127.0.0.3", "127.0.0.1", "GET /s?v=", 200},
};

// Tries of one peer at one time: how many are made, how many may go ahead;
// `peers` IPv4 addresses from `peer` on, each the same.
struct TryStep {
    qint64 atMs;
    const char* peer;
    int times;
    int allowed;
    bool wrong = true;
    int peers = 1;
};
struct TryCase {
    const char* name;
    QList<TryStep> steps;
};

// clang-format off
const std::vector<TryCase> kTries = {
    {"ten wrong at once, then one every 100 ms",
     {{0, "10.0.0.1", 12, 10}, {99, "10.0.0.1", 1, 0}, {100, "10.0.0.1", 2, 1}}},
    {"a right token costs nothing", {{0, "10.0.0.1", 50, 50, false}}},
    {"another address is not held back", {{0, "10.0.0.1", 11, 10}, {0, "10.0.0.2", 10, 10}}},
    {"back to ten after a second",
     {{0, "10.0.0.1", 10, 10}, {1000, "10.0.0.1", 11, 10}, {1000, "10.0.0.2", 1, 1}}},
    {"no more than ten saved up", {{0, "10.0.0.1", 1, 1}, {60'000, "10.0.0.1", 11, 10}}},
    {"one IPv6 /64 is one peer",
     {{0, "2001:db8::1", 5, 5}, {0, "2001:db8::2", 6, 5}, {0, "2001:db8:0:1::1", 1, 1}}},
    {"an IPv4 address over IPv6 is that address",
     {{0, "::ffff:10.0.0.1", 10, 10}, {0, "10.0.0.1", 1, 0}}},
    {"a clock that steps back earns nothing", {{500, "10.0.0.1", 10, 10}, {0, "10.0.0.1", 1, 0}}},
    // Past the peers remembered, newcomers push out the most rested ones,
    // never the guesser that spent its tries.
    {"a flood of new peers gives a spent peer no tries",
     {{0, "10.0.0.1", 11, 10}, {0, "10.1.0.0", 1, 1, true, 5000}, {0, "10.0.0.1", 1, 0},
      {100, "10.0.0.1", 2, 1}}},
    {"a peer past the bound is paced too",
     {{0, "10.1.0.0", 2, 2, true, 3000}, {0, "10.2.0.1", 11, 10}}},
    {"the most rested is forgotten first",
     {{0, "10.1.0.0", 10, 10, true, 1023}, {0, "10.0.0.1", 1, 1}, {0, "10.2.0.1", 1, 1},
      {0, "10.1.0.0", 1, 0, true, 1023}, {0, "10.0.0.1", 10, 10}}},
};
// clang-format on

int openDescriptors() {
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

} // namespace

class RemoteServerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // Qt makes what a bound socket needs once, on its first use: before any
        // descriptors are counted.
        QTcpSocket warm;
        QVERIFY(warm.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
    }

    void answers_data() { ql::test::addRows(kCases); }
    void answers() {
        const Case& c = ql::test::currentCase(kCases);
        RemoteServer server("abc234", 0, QHostAddress::LocalHost);
        QString record;
        install(server, c.fakes, record);
        QVERIFY(server.start().isEmpty());
        QCOMPARE(exchange(server.port(), c.parts, c.endWriting), response(c.kind));
        QCOMPARE(record, c.record);
    }

    // Wrong tokens from one peer are answered at the pace of its tries; the
    // right token from another peer is answered as ever.
    void wrongTokens_data() { ql::test::addRows(kFloods); }
    void wrongTokens() {
        const FloodCase& c = ql::test::currentCase(kFloods);
        RemoteServer server("abc234", 0, QHostAddress::LocalHost);
        QString record;
        install(server, Fakes::Recording, record);
        QVERIFY(server.start().isEmpty());
        const QHostAddress flooder(QString::fromLatin1(c.flooder));
        QElapsedTimer clock;
        clock.start();
        int refused = 0, slowed = 0;
        // Ten at a time, within the connections one peer may hold.
        for (int i = 0; i < c.tries; i += 10) {
            std::vector<std::unique_ptr<QTcpSocket>> batch;
            for (int k = i; k < qMin(i + 10, c.tries); ++k) {
                batch.push_back(std::make_unique<QTcpSocket>());
                QVERIFY(batch.back()->bind(flooder));
                batch.back()->connectToHost(QHostAddress::LocalHost, server.port());
                batch.back()->write(c.wrong + QByteArray::number(k) + "\r\n");
            }
            QByteArrayList replies(batch.size());
            QVERIFY(QTest::qWaitFor(
                [&] {
                    bool all = true;
                    for (std::size_t k = 0; k < batch.size(); ++k) {
                        replies[k] += batch[k]->readAll();
                        all = all && batch[k]->state() == QAbstractSocket::UnconnectedState;
                    }
                    return all;
                },
                10'000));
            for (std::size_t k = 0; k < batch.size(); ++k)
                replies[k] += batch[k]->readAll();
            for (const QByteArray& reply : replies) {
                refused += reply.startsWith("HTTP/1.1 403 Forbidden\r\n");
                slowed += reply.startsWith("HTTP/1.1 429 Too Many Requests\r\n");
            }
        }
        // However slowly this machine ran the flood, no more tokens were
        // compared than the tries earned meanwhile.
        const double earned =
            TokenTries::kBurst + TokenTries::kPerSecond * double(clock.elapsed() + 1) / 1000.0;
        QCOMPARE(refused + slowed, c.tries);
        QVERIFY2(refused <= int(earned), qPrintable(QString::number(refused)));
        QVERIFY(refused >= TokenTries::kBurst);
        // The phone, elsewhere: answered, and its command done.
        const QByteArray phone = exchange(server.port(), {"GET /c?t=abc234&c=vol&v=9\r\n"}, false,
                                          QHostAddress(QString::fromLatin1(c.phone)));
        QVERIFY2(phone.startsWith("HTTP/1.1 200 OK\r\n"), phone.constData());
        QCOMPARE(record, "c:vol 3 items v=9");
    }

    void tokenTries_data() { ql::test::addRows(kTries); }
    void tokenTries() {
        const TryCase& c = ql::test::currentCase(kTries);
        TokenTries tries;
        for (qsizetype i = 0; i < c.steps.size(); ++i) {
            const TryStep& step = c.steps[i];
            const QHostAddress first(QString::fromLatin1(step.peer));
            for (int p = 0; p < step.peers; ++p) {
                const QHostAddress peer =
                    p ? QHostAddress(first.toIPv4Address() + quint32(p)) : first;
                for (int n = 0; n < step.times; ++n) {
                    const bool may = tries.mayTry(peer, step.atMs);
                    QVERIFY2(may == (n < step.allowed),
                             qPrintable(QString("step %1, peer %2, try %3").arg(i).arg(p).arg(n)));
                    if (may && step.wrong)
                        tries.failed(peer, step.atMs);
                }
            }
            QVERIFY2(tries.remembered() <= TokenTries::kRemembered,
                     qPrintable(QString("step %1: %2").arg(i).arg(tries.remembered())));
        }
    }

    // Many peers, each with one wrong try: those whose tries came back are
    // forgotten, so a sweep of addresses costs no lasting memory.
    void tokenTriesForgetRefilledPeers() {
        TokenTries tries;
        for (int i = 0; i < 20'000; ++i) {
            const QHostAddress peer(quint32(0x0a000000u + quint32(i)));
            QVERIFY(tries.mayTry(peer, i));
            tries.failed(peer, i);
        }
        QVERIFY2(tries.remembered() <= TokenTries::kRemembered + 1,
                 qPrintable(QString::number(tries.remembered())));
    }

    // Idle, stalled and flooding devices cost nothing beyond the deadline,
    // never shut the phone out, and every slot comes back.
    void load_data() { ql::test::addRows(kLoads); }
    void load() {
        const LoadCase& c = ql::test::currentCase(kLoads);
        const int before = openDescriptors();
        {
            RemoteServer server("abc234", 0, QHostAddress::LocalHost);
            server.setDeadlineMs(c.deadlineMs);
            QVERIFY(server.start().isEmpty());
            // Another device, waiting for the rest of its request meanwhile.
            QTcpSocket phone;
            if (c.phoneWaits) {
                QVERIFY(phone.bind(QHostAddress(QStringLiteral("127.0.0.2"))));
                phone.connectToHost(QHostAddress::LocalHost, server.port());
                QVERIFY(phone.waitForConnected(3000));
                phone.write("GET /s?t=abc");
                QTRY_COMPARE(server.openConnections(), 1);
            }
            for (const int wave : c.waves) {
                std::vector<std::unique_ptr<QTcpSocket>> clients;
                for (int i = 0; i < wave; ++i) {
                    if (i % 50 == 0) { // within the kernel's accept queue and our descriptors
                        QTest::qWait(20);
                        std::erase_if(clients, [](const auto& s) {
                            return s->state() == QAbstractSocket::UnconnectedState;
                        });
                    }
                    clients.push_back(std::make_unique<QTcpSocket>());
                    clients.back()->connectToHost(QHostAddress::LocalHost, server.port());
                    if (i % 3 == 0)
                        clients.back()->write("GET /s?t=ab");
                }
                QVERIFY(server.openConnections() <= RemoteServer::kMaxConnections);
                if (c.phoneWaits) { // the flood still holds its connections
                    phone.write("234\r\n");
                    QTRY_VERIFY_WITH_TIMEOUT(phone.state() == QAbstractSocket::UnconnectedState,
                                             10'000);
                    QVERIFY(phone.readAll().startsWith("HTTP/1.1 200 OK"));
                    QVERIFY(exchange(server.port(), {"GET /s?t=abc234\r\n"})
                                .startsWith("HTTP/1.1 200"));
                } else { // all of them are closed by the deadline
                    QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, c.deadlineMs + 10'000);
                }
            }
            QVERIFY(exchange(server.port(), {"GET /s?t=abc234\r\n"}).startsWith("HTTP/1.1 200"));
            QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, c.deadlineMs + 10'000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), before, 3000);
    }

    void lifecycle() {
        auto server = std::make_unique<RemoteServer>("abc234", 0, QHostAddress::LocalHost);
        QVERIFY(server->start().isEmpty());
        const quint16 port = server->port();
        RemoteServer second("abc234", port, QHostAddress::LocalHost); // the port is held
        QVERIFY(!second.start().isEmpty());
        QVERIFY(!second.isListening());

        QTcpSocket early, waiting, late, empty;
        for (QTcpSocket* s : {&early, &waiting, &empty})
            s->connectToHost(QHostAddress::LocalHost, port);
        QTRY_VERIFY(waiting.state() == QAbstractSocket::ConnectedState);
        QTest::qWait(50); // accepted
        server->stop();
        late.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
        early.write("GET /s?t=abc234\r\n");
        QTRY_VERIFY(early.state() == QAbstractSocket::UnconnectedState);
        QVERIFY(early.readAll().startsWith("HTTP/1.1 200 OK\r\n"));
        empty.disconnectFromHost(); // no bytes, no answer, and nothing breaks

        server.reset();
        QTRY_VERIFY(waiting.state() == QAbstractSocket::UnconnectedState);
        QVERIFY(waiting.readAll().isEmpty());
    }
};

QTEST_MAIN(RemoteServerTest)
#include "RemoteServerTest.moc"
