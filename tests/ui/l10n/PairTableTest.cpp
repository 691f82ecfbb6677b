// Guards against: a phrase table that translates ambiguously or loads when broken.
// The phrase table as compiled into the program, and the loader's refusals.
#include "ui/l10n/PairTable.h"
#include "ui/l10n/L10n.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

using namespace ql;

namespace {

// Keys in the order the data lists them ("pairs" then "extra").
QStringList dataOrder() {
    QFile file(QStringLiteral(":/l10n/pairs.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    QStringList keys;
    for (const char* name : {"pairs", "extra"})
        for (const QJsonValue& row : root.value(QLatin1String(name)).toArray())
            keys << row.toArray().at(0).toString();
    return keys;
}

QString leadingBlanks(const QString& s) {
    qsizetype i = 0;
    while (i < s.size() && s[i] == u' ')
        ++i;
    return s.left(i);
}

QString trailingBlanks(const QString& s) {
    qsizetype i = s.size();
    while (i > 0 && s[i - 1] == u' ')
        --i;
    return s.mid(i);
}

} // namespace

class PairTableTest : public QObject {
    Q_OBJECT
private slots:
    void builtInTableHoldsTheWholePhraseList() {
        const PairTable& table = PairTable::builtIn();
        QCOMPARE(table.listed, qsizetype(435));
        QVERIFY(table.rows.size() > table.listed);
        QCOMPARE(table.rows.size(), dataOrder().size());
    }

    void keysAreUniqueKoreanAndEnglishHoldsNoHangul() {
        QSet<QString> seen;
        QStringList problems;
        for (const Pair& p : PairTable::builtIn().rows) {
            if (seen.contains(p.korean))
                problems << QStringLiteral("repeated key: ") + p.korean;
            seen.insert(p.korean);
            if (!L10n::hasHangul(p.korean))
                problems << QStringLiteral("key without Hangul: ") + p.korean;
            if (L10n::hasHangul(p.english))
                problems << QStringLiteral("Hangul in English: ") + p.english;
            if (p.english.trimmed().isEmpty())
                problems << QStringLiteral("empty English for: ") + p.korean;
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // Longest key first, by Unicode scalar values; equal lengths keep the
    // order of the data.
    void rowsAreOrderedLongestKeyFirst() {
        const QList<Pair>& rows = PairTable::builtIn().rows;
        const QStringList order = dataOrder();
        QHash<QString, qsizetype> position;
        for (qsizetype i = 0; i < order.size(); ++i)
            position.insert(order[i], i);
        for (qsizetype i = 1; i < rows.size(); ++i) {
            const qsizetype before = scalarLength(rows[i - 1].korean);
            const qsizetype after = scalarLength(rows[i].korean);
            QVERIFY2(before >= after, qPrintable(rows[i].korean));
            if (before == after)
                QVERIFY2(position[rows[i - 1].korean] < position[rows[i].korean],
                         qPrintable(rows[i].korean));
        }
    }

    // Fragments join around numbers and names, so edge blanks carry over. A key
    // that starts with a word attached to a number ("곡" in "12곡") may gain the
    // blank English puts there; " (대기 " is followed by a number English
    // attaches to its bracket.
    void edgeBlanksArePreserved() {
        QStringList problems;
        for (const Pair& p : PairTable::builtIn().rows) {
            const QString kl = leadingBlanks(p.korean), el = leadingBlanks(p.english);
            const bool attached =
                kl.isEmpty() && el == QStringLiteral(" ") && L10n::hasHangul(p.korean.left(1));
            if (kl != el && !attached)
                problems << QStringLiteral("leading: ") + p.korean;
            const bool bracket =
                p.korean == QStringLiteral(" (대기 ") && p.english == QStringLiteral(" (");
            if (trailingBlanks(p.korean) != trailingBlanks(p.english) && !bracket)
                problems << QStringLiteral("trailing: ") + p.korean;
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    void scalarLengthCountsSurrogatePairsOnce_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("length");
        QTest::newRow("emoji outside the basic plane")
            << QStringLiteral("🎛 도구") << qsizetype(4);
        QTest::newRow("lone high surrogate") << QString(QChar(0xD83C)) << qsizetype(1);
    }
    void scalarLengthCountsSurrogatePairsOnce() {
        QFETCH(QString, text);
        QFETCH(qsizetype, length);
        QCOMPARE(scalarLength(text), length);
    }

    // "🎛가" is three UTF-16 units but two scalars: "가나다" (three) goes first.
    void orderCountsScalarsNotCodeUnits() {
        const auto table = PairTable::fromJson(
            R"({"pairs": [["🎛가", "A"], ["가나다", "B"], ["나", "C"], ["다", "D"]]})");
        QVERIFY(table);
        QStringList keys;
        for (const Pair& p : table->rows)
            keys << p.korean;
        QCOMPARE(keys, (QStringList{"가나다", "🎛가", "나", "다"}));
        QCOMPARE(table->listed, qsizetype(4));
    }

    void refusesBrokenTables_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("not JSON") << QByteArray("[[\"가\", \"a\"]");
        QTest::newRow("no pairs") << QByteArray(R"({"extra": []})");
        QTest::newRow("row of one string") << QByteArray(R"({"pairs": [["가"]]})");
        QTest::newRow("row with a number") << QByteArray(R"({"pairs": [["가", 1]]})");
        QTest::newRow("key without Hangul") << QByteArray(R"({"pairs": [["DJ", "DJ"]]})");
        QTest::newRow("English holding Hangul") << QByteArray(R"({"pairs": [["가", "a가"]]})");
        QTest::newRow("repeated key") << QByteArray(R"({"pairs": [["가", "a"], ["가", "b"]]})");
        QTest::newRow("extra repeating a listed key")
            << QByteArray(R"({"pairs": [["가", "a"]], "extra": [["가", "b"]]})");
        QTest::newRow("extra not an array") << QByteArray(R"({"pairs": [], "extra": {}})");
    }
    void refusesBrokenTables() {
        QFETCH(QByteArray, json);
        QString error;
        QVERIFY(!PairTable::fromJson(json, &error));
        QVERIFY(!error.isEmpty());
    }
};

QL_TEST_UNIT(PairTableTest)
#include "PairTableTest.moc"
