// Guards against: requests the backend cannot parse.
#include "library/BackendRequest.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace ql;

Q_DECLARE_METATYPE(std::optional<qint64>)
Q_DECLARE_METATYPE(std::optional<QString>)

class BackendRequestTest : public QObject {
    Q_OBJECT
private slots:
    void line_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<std::optional<qint64>>("id");
        QTest::addColumn<std::optional<QString>>("path");
        QTest::addColumn<QJsonObject>("object");
        QTest::newRow("list: the action alone")
            << "list" << std::optional<qint64>() << std::optional<QString>()
            << QJsonObject{{"action", "list"}};
        QTest::newRow("a 53-bit id stays exact")
            << "enrich" << std::optional<qint64>(9007199254740991) << std::optional<QString>()
            << QJsonObject{{"action", "enrich"}, {"id", qint64(9007199254740991)}};
        QTest::newRow("add: a path with quotes, a line feed and Hangul")
            << "add" << std::optional<qint64>() << std::optional<QString>("/음악/\"a\"\nb.flac")
            << QJsonObject{{"action", "add"}, {"path", "/음악/\"a\"\nb.flac"}};
    }
    void line() {
        QFETCH(QString, action);
        QFETCH(std::optional<qint64>, id);
        QFETCH(std::optional<QString>, path);
        QFETCH(QJsonObject, object);
        const QByteArray line = backendRequestLine(action, id, path);
        QVERIFY(line.endsWith('\n'));
        QCOMPARE(line.count('\n'), 1); // one line, whatever the path holds
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line.chopped(1), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(doc.object(), object);
        if (id)
            QVERIFY(line.contains(QByteArray::number(*id))); // written as an integer, not 4.2e+1
    }
};

QL_TEST_UNIT(BackendRequestTest)
#include "BackendRequestTest.moc"
