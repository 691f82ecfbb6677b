// Guards against: an interface text left in Korean in the English interface.
// Every interface text, composed as the program composes it, comes out of the
// English translation without a Hangul syllable, and values inserted around
// translated fragments come out untouched.
#include "ui/l10n/L10n.h"

#include "TestHome.h"
#include "TestUnits.h"

#include <QFile>
#include <QRegularExpression>

using namespace ql;

namespace {

struct Line {
    int number;
    QString text;
};

QList<Line> interfaceTexts() {
    QFile file(QStringLiteral(":/l10n-test/interface-texts.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QList<Line> lines;
    int number = 0;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        ++number;
        if (!line.isEmpty() && !line.startsWith(u'#'))
            lines.append({number, line});
    }
    return lines;
}

struct Composed {
    QString text;
    QStringList values;
};

// Fixed fragments go through L10n::tr one by one; «values» stay as they are.
Composed compose(const QString& line) {
    static const QRegularExpression value(QStringLiteral("«([^»]*)»"));
    Composed out;
    qsizetype from = 0;
    for (auto it = value.globalMatch(line); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        out.text += L10n::tr(line.mid(from, m.capturedStart() - from));
        out.text += m.captured(1);
        out.values << m.captured(1);
        from = m.capturedEnd();
    }
    out.text += L10n::tr(line.mid(from));
    return out;
}

} // namespace

class CoverageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { L10n::setLanguage(QStringLiteral("en")); }

    void theListIsComplete() {
        const QList<Line> lines = interfaceTexts();
        QVERIFY(lines.size() > 450);
        for (const Line& line : lines) {
            QVERIFY2(line.text.count(u'«') == line.text.count(u'»'),
                     qPrintable(QStringLiteral("line %1").arg(line.number)));
            QVERIFY2(L10n::hasHangul(line.text),
                     qPrintable(QStringLiteral("line %1 holds no Korean").arg(line.number)));
        }
    }

    void everyTextComesOutEnglish() {
        QStringList residues;
        for (const Line& line : interfaceTexts()) {
            const Composed c = compose(line.text);
            QString rest = c.text;
            for (const QString& v : c.values) {
                QVERIFY2(rest.contains(v),
                         qPrintable(
                             QStringLiteral("line %1 lost the value %2").arg(line.number).arg(v)));
                rest.remove(rest.indexOf(v), v.size());
            }
            if (L10n::hasHangul(rest))
                residues
                    << QStringLiteral("line %1: %2 → %3").arg(line.number).arg(line.text, c.text);
        }
        QVERIFY2(residues.isEmpty(), qPrintable(QStringLiteral("Hangul left in English mode:\n") +
                                                residues.join(u'\n')));
    }
};

QL_TEST_UNIT(CoverageTest)
#include "CoverageTest.moc"
