// Guards against: a phone remote that answers the wrong bytes, serves without the token,
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
        QCOMPARE(exchange(server.port(), c.parts), response(c.kind));
        QCOMPARE(record, c.record);
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
