// The phrase table as compiled into the program, and the loader's refusals.
#include "ui/l10n/PairTable.h"
#include "ui/l10n/L10n.h"

#include "TestHome.h"

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
        QCOMPARE(table.listed, qsizetype(430));
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

    // The phrase list is itself written longest first, so ordering keeps it.
    void thePhraseListKeepsItsOwnOrder() {
        const QList<Pair>& rows = PairTable::builtIn().rows;
        const QStringList order = dataOrder().mid(0, 430);
        QStringList listed;
        for (const Pair& p : rows)
            if (order.contains(p.korean))
                listed << p.korean;
        QCOMPARE(listed, order);
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

    void givenPairsAreVerbatim_data() {
        QTest::addColumn<QString>("korean");
        QTest::addColumn<QString>("english");
        QTest::newRow("Quavelark 숨기기")
            << QStringLiteral("Quavelark 숨기기") << QStringLiteral("Hide Quavelark");
        QTest::newRow("기타 가리기")
            << QStringLiteral("기타 가리기") << QStringLiteral("Hide Others");
        QTest::newRow("모두 보기") << QStringLiteral("모두 보기") << QStringLiteral("Show All");
        QTest::newRow("서비스") << QStringLiteral("서비스") << QStringLiteral("Services");
        QTest::newRow("Quavelark 종료")
            << QStringLiteral("Quavelark 종료") << QStringLiteral("Quit Quavelark");
        QTest::newRow("파일") << QStringLiteral("파일") << QStringLiteral("File");
        QTest::newRow("음원 열기…")
            << QStringLiteral("음원 열기…") << QStringLiteral("Open Audio File…");
        QTest::newRow("창 닫기") << QStringLiteral("창 닫기") << QStringLiteral("Close Window");
        QTest::newRow("편집") << QStringLiteral("편집") << QStringLiteral("Edit");
        QTest::newRow("실행 취소") << QStringLiteral("실행 취소") << QStringLiteral("Undo");
        QTest::newRow("실행 복귀") << QStringLiteral("실행 복귀") << QStringLiteral("Redo");
        QTest::newRow("오려두기") << QStringLiteral("오려두기") << QStringLiteral("Cut");
        QTest::newRow("복사하기") << QStringLiteral("복사하기") << QStringLiteral("Copy");
        QTest::newRow("붙여넣기") << QStringLiteral("붙여넣기") << QStringLiteral("Paste");
        QTest::newRow("모두 선택") << QStringLiteral("모두 선택") << QStringLiteral("Select All");
        QTest::newRow("음원 검색") << QStringLiteral("음원 검색") << QStringLiteral("Search audio");
        QTest::newRow("윈도우") << QStringLiteral("윈도우") << QStringLiteral("Window");
        QTest::newRow("최소화") << QStringLiteral("최소화") << QStringLiteral("Minimize");
        QTest::newRow("확대/축소") << QStringLiteral("확대/축소") << QStringLiteral("Zoom");
        QTest::newRow("전체 화면")
            << QStringLiteral("전체 화면") << QStringLiteral("Enter Full Screen");
        QTest::newRow("모두 앞으로 가져오기")
            << QStringLiteral("모두 앞으로 가져오기") << QStringLiteral("Bring All to Front");
        QTest::newRow("로컬") << QStringLiteral("로컬") << QStringLiteral("Local");
        QTest::newRow("즐겨찾기") << QStringLiteral("즐겨찾기") << QStringLiteral("Favorites");
        QTest::newRow("최근 받은 곡")
            << QStringLiteral("최근 받은 곡") << QStringLiteral("Recently downloaded");
        QTest::newRow("하이레즈") << QStringLiteral("하이레즈") << QStringLiteral("Hi-Res");
        QTest::newRow("자주 들은 곡")
            << QStringLiteral("자주 들은 곡") << QStringLiteral("Most played");
        QTest::newRow("한 번도 안 들은 곡")
            << QStringLiteral("한 번도 안 들은 곡") << QStringLiteral("Never played");
        QTest::newRow("이번 주 새 곡")
            << QStringLiteral("이번 주 새 곡") << QStringLiteral("New this week");
        QTest::newRow("전체 재생") << QStringLiteral("전체 재생") << QStringLiteral("Play all");
        QTest::newRow("전체 랜덤") << QStringLiteral("전체 랜덤") << QStringLiteral("Random all");
        QTest::newRow("앨범 랜덤") << QStringLiteral("앨범 랜덤") << QStringLiteral("Random album");
        QTest::newRow("스마트 목록")
            << QStringLiteral("스마트 목록") << QStringLiteral("Smart lists");
        QTest::newRow("앨범") << QStringLiteral("앨범") << QStringLiteral("Album");
        QTest::newRow("가수") << QStringLiteral("가수") << QStringLiteral("Artist");
        QTest::newRow("곡") << QStringLiteral("곡") << QStringLiteral("Track");
        QTest::newRow("장르") << QStringLiteral("장르") << QStringLiteral("Genre");
        QTest::newRow("최근 추가")
            << QStringLiteral("최근 추가") << QStringLiteral("Recently added");
        QTest::newRow("포맷") << QStringLiteral("포맷") << QStringLiteral("Format");
        QTest::newRow("음질") << QStringLiteral("음질") << QStringLiteral("Quality");
        QTest::newRow("길이") << QStringLiteral("길이") << QStringLiteral("Length");
        QTest::newRow("제목") << QStringLiteral("제목") << QStringLiteral("Title");
        QTest::newRow("▶ 재생") << QStringLiteral("▶ 재생") << QStringLiteral("▶ Play");
        QTest::newRow("⏸ 일시정지")
            << QStringLiteral("⏸ 일시정지") << QStringLiteral("⏸ Pause");
        QTest::newRow("♡ 즐겨찾기") << QStringLiteral("♡ 즐겨찾기") << QStringLiteral("♡ Favorite");
        QTest::newRow("♥ 즐겨찾기") << QStringLiteral("♥ 즐겨찾기") << QStringLiteral("♥ Favorite");
        QTest::newRow("🎛 도구")
            << QStringLiteral("🎛 도구") << QStringLiteral("🎛 Tools");
        QTest::newRow("🎛 도구 닫기")
            << QStringLiteral("🎛 도구 닫기") << QStringLiteral("🎛 Close tools");
        QTest::newRow("모든 폴더") << QStringLiteral("모든 폴더") << QStringLiteral("All folders");
        QTest::newRow("모든 폴더 (")
            << QStringLiteral("모든 폴더 (") << QStringLiteral("All folders (");
        QTest::newRow("검색") << QStringLiteral("검색") << QStringLiteral("Search");
        QTest::newRow("장르 미지정") << QStringLiteral("장르 미지정") << QStringLiteral("No genre");
        QTest::newRow("(가수 없음)")
            << QStringLiteral("(가수 없음)") << QStringLiteral("(no artist)");
        QTest::newRow("음원 다시 찾기")
            << QStringLiteral("음원 다시 찾기") << QStringLiteral("Rescan music");
        QTest::newRow("⬇ FLAC 받기")
            << QStringLiteral("⬇ FLAC 받기") << QStringLiteral("⬇ Get FLAC");
        QTest::newRow("🎵 멜론 TOP10 받기")
            << QStringLiteral("🎵 멜론 TOP10 받기") << QStringLiteral("🎵 Download Melon TOP10");
        QTest::newRow("현재 곡 정보·아트 보완")
            << QStringLiteral("현재 곡 정보·아트 보완")
            << QStringLiteral("Fill in info/art for the current track");
        QTest::newRow("재생할 곡이 없습니다.")
            << QStringLiteral("재생할 곡이 없습니다.") << QStringLiteral("No tracks to play.");
        QTest::newRow("먼저 곡을 선택하세요.")
            << QStringLiteral("먼저 곡을 선택하세요.") << QStringLiteral("Select a track first.");
        QTest::newRow("재생 중인 곡이 없습니다.")
            << QStringLiteral("재생 중인 곡이 없습니다.") << QStringLiteral("No track is playing.");
        QTest::newRow("음원 불러오는 중…")
            << QStringLiteral("음원 불러오는 중…") << QStringLiteral("Loading music…");
        QTest::newRow("😴 수면 타이머로 멈췄습니다.")
            << QStringLiteral("😴 수면 타이머로 멈췄습니다.")
            << QStringLiteral("😴 Stopped by the sleep timer.");
        QTest::newRow("🔊 출력 장치를 ")
            << QStringLiteral("🔊 출력 장치를 ") << QStringLiteral("🔊 Output device set to ");
        QTest::newRow("Hz로 맞췄습니다 (원본 ")
            << QStringLiteral("Hz로 맞췄습니다 (원본 ") << QStringLiteral("Hz (source ");
        QTest::newRow("곡 / 전체 ")
            << QStringLiteral("곡 / 전체 ") << QStringLiteral(" tracks / total ");
        QTest::newRow("꺼짐") << QStringLiteral("꺼짐") << QStringLiteral("Off");
        QTest::newRow("끔") << QStringLiteral("끔") << QStringLiteral("Off");
        QTest::newRow("곡)") << QStringLiteral("곡)") << QStringLiteral(" queued)");
        QTest::newRow(" (대기 ") << QStringLiteral(" (대기 ") << QStringLiteral(" (");
    }
    void givenPairsAreVerbatim() {
        QFETCH(QString, korean);
        QFETCH(QString, english);
        const QList<Pair>& rows = PairTable::builtIn().rows;
        const auto it = std::find_if(rows.cbegin(), rows.cend(),
                                     [&](const Pair& p) { return p.korean == korean; });
        QVERIFY(it != rows.cend());
        QCOMPARE(it->english, english);
    }

    void scalarLengthCountsSurrogatePairsOnce_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("length");
        QTest::newRow("Hangul") << QStringLiteral("가사") << qsizetype(2);
        QTest::newRow("emoji outside the basic plane")
            << QStringLiteral("🎛 도구") << qsizetype(4);
        QTest::newRow("emoji inside the basic plane")
            << QStringLiteral("♥ 즐겨찾기") << qsizetype(6);
        QTest::newRow("lone high surrogate") << QString(QChar(0xD83C)) << qsizetype(1);
        QTest::newRow("empty") << QString() << qsizetype(0);
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
        QTest::newRow("key of jamo only") << QByteArray("{\"pairs\": [[\"\u1100\u1161\", \"a\"]]}");
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

QL_TEST_MAIN_CORE(PairTableTest)
#include "PairTableTest.moc"
