// Guards against: web answers misread, or a failure reported as success.
#include "platform/WebFetch.h"

#include "LocalHttpServer.h"
#include "TestFiles.h"
#include "TestHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryFile>
#include <QThread>

#include <atomic>
#include <memory>

using namespace ql;
using Reply = test::LocalHttpServer::Reply;
using Mode = Reply::Mode;

Q_DECLARE_METATYPE(ql::test::LocalHttpServer::Reply)

namespace {

// What the completions of one getJSON call delivered.
struct Outcome {
    QMutex mutex;
    int calls = 0;
    bool onMainThread = false;
    std::optional<QJsonValue> value;

    int callCount() {
        QMutexLocker lock(&mutex);
        return calls;
    }
};

std::shared_ptr<Outcome> fetch(const QUrl& url, const platform::WebFetchOptions& options = {}) {
    auto outcome = std::make_shared<Outcome>();
    QThread* mainThread = QThread::currentThread();
    platform::getJSON(
        url,
        [outcome, mainThread](std::optional<QJsonValue> value) {
            QMutexLocker lock(&outcome->mutex);
            ++outcome->calls;
            outcome->onMainThread = QThread::currentThread() == mainThread;
            outcome->value = std::move(value);
        },
        options);
    return outcome;
}

// Compact JSON of a delivered value, "none" for nothing.
QString shown(const std::optional<QJsonValue>& value) {
    if (!value)
        return QStringLiteral("none");
    const QJsonDocument doc =
        value->isArray() ? QJsonDocument(value->toArray()) : QJsonDocument(value->toObject());
    return QString::fromUtf8(doc.toJson(QJsonDocument::Compact));
}

// A valid JSON array of exactly `size` bytes: brackets around blanks.
QByteArray paddedArray(qint64 size) {
    return "[" + QByteArray(size - 2, ' ') + "]";
}

constexpr int kWaitMs = 20'000; // bound on every wait; a pass takes far less

} // namespace

class WebFetchTest : public QObject {
    Q_OBJECT
private:
    test::LocalHttpServer m_server;

private slots:
    void initTestCase() { QVERIFY(m_server.listen()); }

    // Each row: the reply served at "/r" (and, for redirects, "/final"),
    // the cap, and what the completion receives.
    void answers_data() {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<Reply>("final");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<QString>("expected");
        const qint64 tenMB = 10 * 1024 * 1024;
        const Reply none{404, {}, {}, Mode::Normal};
        const Reply redirect{302, {}, {{"Location", "/final"}}, Mode::Normal};

        QTest::newRow("200 with an empty array gives an empty array")
            << Reply{200, "[]", {}, Mode::Normal} << none << tenMB << "[]";
        QTest::newRow("200 with an object gives the object")
            << Reply{200, R"({"a":[1,"b"]})", {}, Mode::Normal} << none << tenMB
            << R"({"a":[1,"b"]})";
        QTest::newRow("404 with valid JSON gives nothing")
            << Reply{404, R"({"a":1})", {}, Mode::Normal} << none << tenMB << "none";
        QTest::newRow("201 is not 200")
            << Reply{201, "[1]", {}, Mode::Normal} << none << tenMB << "none";
        QTest::newRow("a lone number gives nothing")
            << Reply{200, "5", {}, Mode::Normal} << none << tenMB << "none";
        QTest::newRow("a redirect to a 200 gives its value")
            << redirect << Reply{200, "[7]", {}, Mode::Normal} << tenMB << "[7]";
        QTest::newRow("a body cut short gives nothing")
            << Reply{200, "[1,2,3]", {}, Mode::Truncated} << none << tenMB << "none";
        QTest::newRow("a body without length, ended by the close, is read whole")
            << Reply{200, "[1,2]", {}, Mode::NoLength} << none << tenMB << "[1,2]";
        QTest::newRow("a declared body of exactly 10 MB is accepted")
            << Reply{200, paddedArray(tenMB), {}, Mode::Normal} << none << tenMB << "[]";
        QTest::newRow("a declared body one byte above 10 MB gives nothing")
            << Reply{200, paddedArray(tenMB + 1), {}, Mode::Normal} << none << tenMB << "none";
        QTest::newRow("an undeclared body at the cap is accepted")
            << Reply{200, paddedArray(1000), {}, Mode::NoLength} << none << qint64(1000) << "[]";
        QTest::newRow("an undeclared body above the cap gives nothing")
            << Reply{200, paddedArray(1001), {}, Mode::NoLength} << none << qint64(1000) << "none";
    }
    void answers() {
        QFETCH(Reply, reply);
        QFETCH(Reply, final);
        QFETCH(qint64, cap);
        QFETCH(QString, expected);
        m_server.route("/r", reply);
        m_server.route("/final", final);
        platform::WebFetchOptions options;
        options.maxBodyBytes = cap;
        const auto outcome = fetch(m_server.url("/r"), options);
        QTRY_COMPARE_WITH_TIMEOUT(outcome->callCount(), 1, kWaitMs);
        QMutexLocker lock(&outcome->mutex);
        QCOMPARE(shown(outcome->value), expected);
        QVERIFY(!outcome->onMainThread);
    }

    void theRequestIsAPlainGetWithTheUserAgent() {
        m_server.route("/ua", Reply{200, "[]", {}, Mode::Normal});
        const int before = m_server.requests().size();
        const auto outcome = fetch(m_server.url("/ua?q=a%20b"));
        QTRY_COMPARE_WITH_TIMEOUT(outcome->callCount(), 1, kWaitMs);
        QCOMPARE(m_server.requests().size(), before + 1);
        const QByteArray head = m_server.requests().last();
        QVERIFY2(head.startsWith("GET /ua?q=a%20b HTTP/1.1\r\n"), head.constData());
        QCOMPARE(m_server.header(before, "User-Agent"),
                 QByteArray("Quavelark/1.0 (personal local music player)"));
        QVERIFY(m_server.header(before, "Content-Length").isEmpty());
    }

    void aSilentServerGivesNothingOnceTheTimeOutFires() {
        m_server.route("/silent", Reply{200, {}, {}, Mode::Silent});
        platform::WebFetchOptions options;
        options.timeoutMs = 300;
        const auto outcome = fetch(m_server.url("/silent"), options);
        QTRY_COMPARE_WITH_TIMEOUT(outcome->callCount(), 1, kWaitMs);
        QMutexLocker lock(&outcome->mutex);
        QCOMPARE(shown(outcome->value), QString("none"));
    }

    void theCompletionRunsExactlyOnce() {
        m_server.route("/once", Reply{200, "{}", {}, Mode::Normal});
        const auto outcome = fetch(m_server.url("/once"));
        QTRY_COMPARE_WITH_TIMEOUT(outcome->callCount(), 1, kWaitMs);
        // Let anything late arrive: a second call would show here.
        QTest::qWait(200);
        QCOMPARE(outcome->callCount(), 1);
    }

    // Addresses that are not web addresses are refused without being read.
    void nonWebAddressesGiveNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a local file holding JSON") << "file";
        QTest::newRow("a data address holding JSON") << "data";
        QTest::newRow("a closed port") << "closed";
    }
    void nonWebAddressesGiveNothing() {
        QFETCH(QString, kind);
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write("[1]");
        file.flush();
        QUrl url;
        if (kind == "file") {
            url = QUrl::fromLocalFile(file.fileName());
        } else if (kind == "data") {
            url = QUrl("data:application/json,%5B1%5D");
        } else {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            url = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort()));
        } // the probe closes here, so nothing listens on its port
        const auto outcome = fetch(url);
        QTRY_COMPARE_WITH_TIMEOUT(outcome->callCount(), 1, kWaitMs);
        QMutexLocker lock(&outcome->mutex);
        QCOMPARE(shown(outcome->value), QString("none"));
    }

    // The raw body under the bounds of a cover download (the time-out without
    // data is shared with getJSON and tested there).
    void bytesBounds_data() {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<int>("deadlineMs"); // 0: none
        QTest::newRow("silent: the deadline") << Reply{200, {}, {}, Mode::Silent} << 300;
        QTest::newRow("30 MB") << Reply{200, QByteArray(30 << 20, 'x'), {}, Mode::NoLength} << 0;
    }
    void bytesBounds() {
        QFETCH(Reply, reply);
        QFETCH(int, deadlineMs);
        m_server.route("/b", reply);
        platform::WebFetchOptions options{15'000, 20 << 20, {"http"}};
        if (deadlineMs)
            options.deadlineMs = deadlineMs;
        auto body = std::make_shared<std::atomic<int>>(0); // 1: nothing, 2: a body
        platform::getBytes(
            m_server.url("/b"), [body](std::optional<QByteArray> b) { *body = b ? 2 : 1; },
            options);
        QTRY_VERIFY_WITH_TIMEOUT(*body != 0, kWaitMs);
        QCOMPARE(int(*body), 1);
    }

    void callsFromAnotherThreadAreAnsweredToo() {
        m_server.route("/t", Reply{200, "[3]", {}, Mode::Normal});
        std::shared_ptr<Outcome> outcome;
        std::unique_ptr<QThread> caller(
            QThread::create([&] { outcome = fetch(m_server.url("/t")); }));
        caller->start();
        QVERIFY(caller->wait(kWaitMs));
        QTRY_COMPARE_WITH_TIMEOUT(outcome->callCount(), 1, kWaitMs);
        QMutexLocker lock(&outcome->mutex);
        QCOMPARE(shown(outcome->value), QString("[3]"));
    }
};

QL_TEST_MAIN_CORE(WebFetchTest)
#include "WebFetchTest.moc"
