#include "app/UserDefaults.h"

#include "TestHome.h"

#include <QFile>
#include <QTemporaryDir>

#include <limits>

using namespace ql;

namespace {
// "-" stands for nothing in the expected columns.
template <class T> QString shown(const std::optional<T>& v) {
    if (!v)
        return QStringLiteral("-");
    if constexpr (std::is_same_v<T, QString>)
        return *v;
    else
        return QString::number(*v);
}
} // namespace

class UserDefaultsTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_tmp;

private slots:
    // What a stored value reads as under each typed read.
    void conversions_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("asBool");
        QTest::addColumn<QString>("asInteger");
        QTest::addColumn<QString>("asDouble");
        QTest::addColumn<QString>("asText");
        QTest::newRow("bool true") << QVariant(true) << "1"
                                   << "1"
                                   << "1"
                                   << "true";
        QTest::newRow("int 9") << QVariant(9) << "1"
                               << "9"
                               << "9"
                               << "9";
        QTest::newRow("double 2.7") << QVariant(2.7) << "1"
                                    << "2"
                                    << "2.7"
                                    << "2.7";
        QTest::newRow("double -2.7 truncates toward zero") << QVariant(-2.7) << "1"
                                                           << "-2"
                                                           << "-2.7"
                                                           << "-2.7";
        QTest::newRow("double NaN") << QVariant(std::numeric_limits<double>::quiet_NaN()) << "-"
                                    << "-"
                                    << "-"
                                    << "nan";
        QTest::newRow("text true") << QVariant("true") << "1"
                                   << "-"
                                   << "-"
                                   << "true";
        QTest::newRow("text no") << QVariant("no") << "0"
                                 << "-"
                                 << "-"
                                 << "no";
        QTest::newRow("text 12") << QVariant(" 12 ") << "1"
                                 << "12"
                                 << "12"
                                 << " 12 ";
        QTest::newRow("text 1.5") << QVariant("1.5") << "1"
                                  << "1"
                                  << "1.5"
                                  << "1.5";
        QTest::newRow("text with a comma decimal") << QVariant("1,5") << "-"
                                                   << "-"
                                                   << "-"
                                                   << "1,5";
        QTest::newRow("text inf") << QVariant("inf") << "-"
                                  << "-"
                                  << "-"
                                  << "inf";
        QTest::newRow("text junk") << QVariant("junk") << "-"
                                   << "-"
                                   << "-"
                                   << "junk";
        QTest::newRow("text too big for 64 bits") << QVariant("1e30") << "1"
                                                  << "-"
                                                  << "1e+30"
                                                  << "1e30";
        QTest::newRow("unsigned above the signed range") << QVariant(quint64(1) << 63) << "1"
                                                         << "-"
                                                         << "9.22337e+18"
                                                         << "9223372036854775808";
        QTest::newRow("list") << QVariant(QStringList{"a", "b"}) << "-"
                              << "-"
                              << "-"
                              << "a,b";
    }
    void conversions() {
        QFETCH(QVariant, stored);
        QFETCH(QString, asBool);
        QFETCH(QString, asInteger);
        QFETCH(QString, asDouble);
        QFETCH(QString, asText);
        QCOMPARE(shown(UserDefaults::toBool(stored)), asBool);
        QCOMPARE(shown(UserDefaults::toInteger(stored)), asInteger);
        QCOMPARE(shown(UserDefaults::toDouble(stored)), asDouble);
        QCOMPARE(shown(UserDefaults::toText(stored)), asText);
    }

    // A settings file as another program (or a hand edit) leaves it: every
    // value is text.
    void readsAFileWrittenElsewhere() {
        const QString path = m_tmp.path() + "/written-elsewhere.conf";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[General]\n"
                "gapless=false\n"
                "rateMatch=1\n"
                "viewKind=2\n"
                "smartMode=9000000000\n"
                "playRate=1.75\n"
                "outputUID=\"hw:CARD=PCH,DEV=0\"\n"
                "lang=hw:CARD=PCH,DEV=1\n"
                "empty=\n");
        f.close();
        UserDefaults d(path);
        QCOMPARE(d.boolIfPresent("gapless"), std::optional<bool>(false));
        QCOMPARE(d.boolIfPresent("rateMatch"), std::optional<bool>(true));
        QCOMPARE(d.intIfPresent("viewKind"), std::optional<int>(2));
        QCOMPARE(d.integerIfPresent("smartMode"), std::optional<qint64>(9000000000));
        QCOMPARE(d.intIfPresent("smartMode"), std::nullopt); // beyond an int: not convertible
        QCOMPARE(d.realIfPresent("playRate"), std::optional<double>(1.75));
        QCOMPARE(d.string("outputUID"), std::optional<QString>("hw:CARD=PCH,DEV=0"));
        QCOMPARE(d.string("lang"), std::optional<QString>("hw:CARD=PCH,DEV=1"));
        QVERIFY(d.contains("empty"));
        QCOMPARE(d.boolIfPresent("empty"), std::nullopt);
        QCOMPARE(d.boolean("empty"), false);
        QCOMPARE(d.boolIfPresent("absent"), std::nullopt);
        QCOMPARE(d.string("absent"), std::nullopt);
    }
};

QL_TEST_MAIN_CORE(UserDefaultsTest)
#include "UserDefaultsTest.moc"
