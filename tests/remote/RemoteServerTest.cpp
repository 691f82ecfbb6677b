// Guards against: a phone remote that answers the wrong bytes, serves without the token,
// hangs on slow or idle devices, or outlives its server.
#include "remote/RemoteServer.h"

#include "CaseRows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <cmath>
#include <memory>

using namespace ql;
using namespace ql::remote;

namespace {

enum class Fakes { Recording, None, NotFinite };

struct Case {
    const char* name;
    QList<QByteArray> parts; // sent 200 ms apart
    QByteArray status;       // "" when the connection must close without an answer
    QByteArray type;
    QByteArray body;
    QString record = {}; // what the callbacks saw
    Fakes fakes = Fakes::Recording;
};

const QByteArray kRefusal = "주소(QR)의 토큰이 필요합니다.";
const QByteArray kJson = "application/json; charset=utf-8";
const QByteArray kPlain = "text/plain";
const QByteArray kState = R"({"title":"x"})";

const std::vector<Case> kCases = {
    {"state", {"GET /s?t=abc234 HTTP/1.1\r\nHost: p\r\n\r\n"}, "200 OK", kJson, kState, "s"},
    {"no token",
     {"GET /s HTTP/1.1\r\n\r\n"},
     "403 Forbidden",
     "text/plain; charset=utf-8",
     kRefusal},
    {"wrong token",
     {"GET /s?t=abc235 HTTP/1.1\r\n"},
     "403 Forbidden",
     "text/plain; charset=utf-8",
     kRefusal},
    {"page without token",
     {"GET / HTTP/1.1\r\n"},
     "403 Forbidden",
     "text/plain; charset=utf-8",
     kRefusal},
    {"unknown path without token",
     {"GET /x HTTP/1.1\r\n"},
     "403 Forbidden",
     "text/plain; charset=utf-8",
     kRefusal},
    {"POST", {"POST /s?t=abc234 HTTP/1.1\r\n"}, "400 Bad Request", kPlain, ""},
    {"lower-case get", {"get /s?t=abc234 HTTP/1.1\r\n"}, "400 Bad Request", kPlain, ""},
    {"single word", {"GET\r\n"}, "400 Bad Request", kPlain, ""},
    {"unknown path", {"GET /x?t=abc234 HTTP/1.1\r\n"}, "404 Not Found", kPlain, ""},
    {"trailing slash", {"GET /s/?t=abc234 HTTP/1.1\r\n"}, "404 Not Found", kPlain, ""},
    {"token twice, last right",
     {"GET /s?t=no&t=abc234 HTTP/1.1\r\n"},
     "200 OK",
     kJson,
     kState,
     "s"},
    {"token twice, last wrong",
     {"GET /s?t=abc234&t=no HTTP/1.1\r\n"},
     "403 Forbidden",
     "text/plain; charset=utf-8",
     kRefusal},
    {"no version", {"GET /s?t=abc234\r\n"}, "200 OK", kJson, kState, "s"},
    {"doubled spaces", {"GET  /s?t=abc234   HTTP/1.1\r\n"}, "200 OK", kJson, kState, "s"},
    {"command without c", {"GET /c?t=abc234 HTTP/1.1\r\n"}, "200 OK", kJson, kState, "c: "},
    {"command with value",
     {"GET /c?t=abc234&c=seek&v=%31 HTTP/1.1\r\n"},
     "200 OK",
     kJson,
     kState,
     "c:seek c=seek v=1"},
    {"search without q", {"GET /l?t=abc234 HTTP/1.1\r\n"}, "200 OK", kJson, R"([{"id":1}])", "l:"},
    {"plus stays plus",
     {"GET /l?t=abc234&q=a+b%20c HTTP/1.1\r\n"},
     "200 OK",
     kJson,
     R"([{"id":1}])",
     "l:a+b c"},
    {"state without callback", {"GET /s?t=abc234\r\n"}, "200 OK", kJson, "{}", "", Fakes::None},
    {"command without callback", {"GET /c?t=abc234\r\n"}, "200 OK", kJson, "{}", "", Fakes::None},
    {"search without callback", {"GET /l?t=abc234\r\n"}, "200 OK", kJson, "[]", "", Fakes::None},
    {"state holding NaN", {"GET /s?t=abc234\r\n"}, "200 OK", kJson, "{}", "s", Fakes::NotFinite},
    {"bad escape", {"GET /s?t=abc234&q=%zz HTTP/1.1\r\n"}, "400 Bad Request", kPlain, ""},
    {"escape not UTF-8", {"GET /l?t=abc234&q=%FF HTTP/1.1\r\n"}, "400 Bad Request", kPlain, ""},
    {"character not in a URI",
     {"GET /s?t=abc234&q=<b> HTTP/1.1\r\n"},
     "400 Bad Request",
     kPlain,
     ""},
    {"port not a number", {"GET :ab/s?t=abc234\r\n"}, "400 Bad Request", kPlain, ""},
    {"user and port", {"GET u@h:80/s?t=abc234#f\r\n"}, "200 OK", kJson, kState, "s"},
    {"line in two pieces", {"GET /s?t=ab", "c234 HTTP/1.1\r\n\r\n"}, "200 OK", kJson, kState, "s"},
    {"line over the limit",
     {"GET /s?t=abc234&p=" + QByteArray(8200, 'a') + "< HTTP/1.1\r\n"},
     "200 OK",
     kJson,
     kState,
     "s"},
    {"line not UTF-8", {"GET /s?t=abc234\xff HTTP/1.1\r\n"}, "", "", ""},
    {"header cut inside a character",
     {"GET /s?t=abc234 HTTP/1.1\r\nX: \xe3\x81"},
     "200 OK",
     kJson,
     kState,
     "s"},
};

QByteArray response(const Case& c) {
    return "HTTP/1.1 " + c.status + "\r\nContent-Type: " + c.type +
           "\r\nContent-Length: " + QByteArray::number(c.body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + c.body;
}

struct Exchange {
    QByteArray reply;
    bool closed = false;
};

// Sends `parts` 200 ms apart and collects what comes back until the server closes.
Exchange exchange(quint16 port, const QList<QByteArray>& parts) {
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    Exchange out;
    if (!QTest::qWaitFor([&] { return client.state() == QAbstractSocket::ConnectedState; }, 3000))
        return out;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            QTest::qWait(200);
        client.write(parts[i]);
    }
    out.closed = QTest::qWaitFor(
        [&] {
            out.reply += client.readAll();
            return client.state() == QAbstractSocket::UnconnectedState;
        },
        3000);
    out.reply += client.readAll();
    return out;
}

void install(RemoteServer& server, Fakes fakes, QString& record) {
    if (fakes == Fakes::None)
        return;
    server.onState = [&record, fakes] {
        record += "s";
        return fakes == Fakes::NotFinite ? QVariantMap{{"pos", std::nan("")}}
                                         : QVariantMap{{"title", "x"}};
    };
    server.onCommand = [&record](const QString& command, const Query& query) {
        QStringList items;
        for (auto it = query.begin(); it != query.end(); ++it)
            if (it.key() != "t")
                items << it.key() + "=" + it.value();
        items.sort();
        record += "c:" + command + " " + items.join(' ');
        return QVariantMap{{"title", "x"}};
    };
    server.onSearch = [&record](const QString& text) {
        record += "l:" + text;
        return QVariantList{QVariantMap{{"id", 1}}};
    };
}

int openDescriptors() {
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

} // namespace

class RemoteServerTest : public QObject {
    Q_OBJECT
private slots:
    void answers_data() { test::addRows(kCases); }
    void answers() {
        const Case& c = test::currentCase(kCases);
        RemoteServer server("abc234", 0, QHostAddress::LocalHost);
        QString record;
        install(server, c.fakes, record);
        QVERIFY(server.start().isEmpty());
        const Exchange got = exchange(server.port(), c.parts);
        QVERIFY(got.closed);
        QCOMPARE(got.reply, c.status.isEmpty() ? QByteArray() : response(c));
        QCOMPARE(record, c.record);
    }

    void page() {
        RemoteServer server("abc234", 0, QHostAddress::LocalHost);
        QVERIFY(server.start().isEmpty());
        const Exchange got = exchange(server.port(), {"GET /?t=abc234 HTTP/1.1\r\n"});
        QVERIFY(RemoteServer::page().contains("<title>Quavelark</title>"));
        QCOMPARE(
            got.reply,
            response({"", {}, "200 OK", "text/html; charset=utf-8", RemoteServer::page(), ""}));
        QCOMPARE(judgeRequest({}, u"abc234").verdict, Verdict::Drop);
    }

    // Idle and stalled devices cost nothing beyond the deadline and never delay others.
    void boundedConnections() {
        const int before = openDescriptors();
        {
            RemoteServer server("abc234", 0, QHostAddress::LocalHost);
            QVERIFY(server.start().isEmpty());
            std::vector<std::unique_ptr<QTcpSocket>> idle;
            for (int i = 0; i < 200; ++i) {
                if (i % 20 == 0) // within the kernel's accept queue
                    QTest::qWait(30);
                idle.push_back(std::make_unique<QTcpSocket>());
                idle.back()->connectToHost(QHostAddress::LocalHost, server.port());
            }
            idle.back()->write("GET /s?t=ab");
            const auto open = [&] {
                return std::count_if(idle.begin(), idle.end(), [](const auto& s) {
                    return s->state() != QAbstractSocket::UnconnectedState;
                });
            };
            QTRY_COMPARE_WITH_TIMEOUT(open(), RemoteServer::kMaxConnections, 8000);
            QElapsedTimer clock;
            clock.start();
            QVERIFY(exchange(server.port(), {"GET /s?t=abc234\r\n"})
                        .reply.startsWith("HTTP/1.1 200 OK\r\n"));
            QVERIFY(clock.elapsed() < RemoteServer::kDeadlineMs / 2);
            QTRY_COMPARE_WITH_TIMEOUT(open(), 0, RemoteServer::kDeadlineMs + 3000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), before, 3000);
    }

    void lifecycle() {
        auto server = std::make_unique<RemoteServer>("abc234", 0, QHostAddress::LocalHost);
        QVERIFY(server->start().isEmpty());
        const quint16 port = server->port();

        // A port already held: an error text and no listener.
        RemoteServer second("abc234", port, QHostAddress::LocalHost);
        QVERIFY(!second.start().isEmpty());
        QVERIFY(!second.isListening());

        QTcpSocket early, waiting;
        early.connectToHost(QHostAddress::LocalHost, port);
        waiting.connectToHost(QHostAddress::LocalHost, port);
        QTRY_VERIFY(early.state() == QAbstractSocket::ConnectedState &&
                    waiting.state() == QAbstractSocket::ConnectedState);
        QTest::qWait(50); // let the server accept both
        server->stop();
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
        early.write("GET /s?t=abc234\r\n");
        QTRY_VERIFY(early.state() == QAbstractSocket::UnconnectedState);
        QVERIFY(early.readAll().startsWith("HTTP/1.1 200 OK\r\n"));

        server.reset();
        QTRY_VERIFY(waiting.state() == QAbstractSocket::UnconnectedState);
        QVERIFY(waiting.readAll().isEmpty());
    }
};

QTEST_MAIN(RemoteServerTest)
#include "RemoteServerTest.moc"
