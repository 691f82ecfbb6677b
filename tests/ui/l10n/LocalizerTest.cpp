// Guards against: texts translated wrongly, partly, or in the wrong mode.
// Translation of single texts: unit rules, phrase replacement, language modes,
// the memo, view-tab labels, and the process-wide L10n.
#include "ui/l10n/Localizer.h"
#include "ui/l10n/L10n.h"

#include "TestHome.h"
#include "TestUnits.h"

using namespace ql;

namespace {
Localizer english() {
    return Localizer(QStringLiteral("en"), PairTable::builtIn());
}
} // namespace

class LocalizerTest : public QObject {
    Q_OBJECT
private slots:
    // Runs first: nothing has chosen a language yet.
    void languageIsEnglishUntilChosen() {
        QCOMPARE(L10n::lang(), QStringLiteral("en"));
        QVERIFY(L10n::isEnglish());
        QCOMPARE(L10n::tr(QStringLiteral("곡")), QStringLiteral("Track"));
    }

    void chosenLanguageHoldsForTheProcess_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("english");
        QTest::newRow("en") << "en" << true;
        QTest::newRow("ko") << "ko" << false;
        QTest::newRow("any other code means Korean") << "fr" << false;
        QTest::newRow("case matters") << "EN" << false;
    }
    void chosenLanguageHoldsForTheProcess() {
        QFETCH(QString, code);
        QFETCH(bool, english);
        L10n::setLanguage(code);
        QCOMPARE(L10n::lang(), code);
        QCOMPARE(L10n::isEnglish(), english);
        const QString text = QStringLiteral("먼저 곡을 선택하세요.");
        QCOMPARE(L10n::tr(text), english ? QStringLiteral("Select a track first.") : text);
        L10n::setLanguage(QStringLiteral("en"));
    }

    void translatesTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("one track") << "1곡" << "1 track";
        QTest::newRow("21 is not one") << "21곡" << "21 tracks";
        QTest::newRow("grouped thousands") << "1,234곡" << "1,234 tracks";
        QTest::newRow("one after a comma is not one") << "0,1곡" << "0,1 tracks";
        QTest::newRow("one after a letter is one") << "a1곡" << "a1 track";
        QTest::newRow("channels") << "2채널" << "2ch";
        QTest::newRow("albums") << "12곡 · 5앨범" << "12 tracks · 5 albums";
        QTest::newRow("artists") << "12곡 · 7아티스트" << "12 tracks · 7 artists";
        QTest::newRow("album grid subtitle") << "3장 • 40곡" << "3 albums • 40 tracks";
        QTest::newRow("artist grid subtitle") << "4개 • 7곡" << "4 items • 7 tracks";
        QTest::newRow("one album") << "1앨범" << "1 album";
        QTest::newRow("21 albums") << "21앨범" << "21 albums";
        QTest::newRow("grouped albums") << "1,001앨범" << "1,001 albums";
        QTest::newRow("one of each") << "1곡 · 1앨범" << "1 track · 1 album";
        QTest::newRow("one track under albums") << "3장 • 1곡" << "3 albums • 1 track";
        QTest::newRow("one item") << "1개 • 2곡" << "1 item • 2 tracks";
        QTest::newRow("one artist") << "1아티스트" << "1 artist";
        QTest::newRow("full-width digits count as digits") << "１２곡" << "１２ tracks";
        QTest::newRow("units run before the table")
            << "12곡 / 전체 300곡" << "12 tracks / All 300 tracks";
        QTest::newRow("longest key wins") << "전체 화면" << "Enter Full Screen";
        QTest::newRow("folder count") << "모든 폴더 (5곡)" << "All folders (5 tracks)";
        QTest::newRow("queue count") << "5곡 (대기 3곡)" << "5 tracks (3 tracks)";
        QTest::newRow("fragments around numbers")
            << "🔊 출력 장치를 96000Hz로 맞췄습니다 (원본 44100Hz)"
            << "🔊 Output device set to 96000Hz (source 44100Hz)";
        QTest::newRow("whole sentence") << "음원 불러오는 중…" << "Loading music…";
        QTest::newRow("Latin text around Korean keeps its place")
            << "필요한 프로그램 없음: Python 3, FFmpeg" << "Missing programs: Python 3, FFmpeg";
        QTest::newRow("uncovered Korean stays") << "🌐 한국어" << "🌐 한국어";
        QTest::newRow("partly covered") << "한국어 곡" << "한국어 Track";
        // clang-format on
    }
    void translatesTexts() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        Localizer l = english();
        QCOMPARE(l.tr(text), expected);
        QCOMPARE(l.tr(text), expected); // answered from the memo the same way
    }

    void koreanModeChangesNothingAndRemembersNothing() {
        Localizer l(QStringLiteral("ko"), PairTable::builtIn());
        for (const QString& text : {QStringLiteral("곡"), QStringLiteral("12곡 / 전체 300곡"),
                                    QStringLiteral("전체 화면"), QStringLiteral("Hi-Res")})
            QCOMPARE(l.tr(text), text);
        QCOMPARE(l.tab(QStringLiteral("앨범")), QStringLiteral("앨범"));
        QCOMPARE(l.memoSize(), qsizetype(0));
    }

    void textsWithoutHangulAreNotRemembered_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("English") << "Hi-Res";
        QTest::newRow("conjoining jamo") << QString::fromUtf16(u"\u1100\u1161\u11A8");
        QTest::newRow("compatibility jamo") << QString::fromUtf16(u"\u3131\u314F");
        QTest::newRow("empty") << "";
    }
    void textsWithoutHangulAreNotRemembered() {
        QFETCH(QString, text);
        Localizer l = english();
        QCOMPARE(l.tr(text), text);
        QCOMPARE(l.memoSize(), qsizetype(0));
    }

    void untranslatableKoreanIsRememberedAsItself() {
        Localizer l = english();
        const QString text = QStringLiteral("🌐 한국어");
        QCOMPARE(l.tr(text), text);
        QVERIFY(l.remembers(text));
    }

    void hasHangulLooksForSyllablesOnly_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hangul");
        QTest::newRow("first syllable") << QString(QChar(0xAC00)) << true;
        QTest::newRow("last syllable") << QString(QChar(0xD7A3)) << true;
        QTest::newRow("just below") << QString(QChar(0xABFF)) << false;
        QTest::newRow("just above") << QString(QChar(0xD7A4)) << false;
        QTest::newRow("syllable after emoji") << "🎛 도구" << true;
        QTest::newRow("conjoining jamo") << QString::fromUtf16(u"\u1100\u1161") << false;
    }
    void hasHangulLooksForSyllablesOnly() {
        QFETCH(QString, text);
        QFETCH(bool, hangul);
        QCOMPARE(L10n::hasHangul(text), hangul);
    }

    // The memo empties as a whole once it holds more than 4000 texts: with
    // 4001 remembered, the next new text leaves one; a remembered text is
    // answered without emptying it.
    void memoEmptiesAfterFourThousandTexts() {
        Localizer l = english();
        for (int i = 0; i < 4001; ++i)
            l.tr(QStringLiteral("%1곡").arg(i));
        QCOMPARE(l.memoSize(), qsizetype(4001));
        QCOMPARE(l.tr(QStringLiteral("17곡")), QStringLiteral("17 tracks"));
        QCOMPARE(l.memoSize(), qsizetype(4001));
        QCOMPARE(l.tr(QStringLiteral("전체 화면")), QStringLiteral("Enter Full Screen"));
        QCOMPARE(l.memoSize(), qsizetype(1));
        QVERIFY(l.remembers(QStringLiteral("전체 화면")));
        QVERIFY(!l.remembers(QStringLiteral("17곡")));
    }

    void viewTabs_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("albums") << "en" << "앨범" << "Albums";
        QTest::newRow("recently added") << "en" << "최근 추가" << "Recently added";
        QTest::newRow("Korean albums") << "ko" << "앨범" << "앨범";
        // clang-format on
    }
    void viewTabs() {
        QFETCH(QString, lang);
        QFETCH(QString, label);
        QFETCH(QString, expected);
        Localizer l(lang, PairTable::builtIn());
        QCOMPARE(l.tab(label), expected);
    }

    // A table key must never be rewritten by a shorter key inside it: every
    // key alone translates to exactly its own English.
    void everyKeyTranslatesToItsOwnRow() {
        Localizer l = english();
        QStringList problems;
        for (const Pair& p : PairTable::builtIn().rows) {
            if (l.tr(p.korean) != p.english)
                problems << p.korean + QStringLiteral(" → ") + l.tr(p.korean);
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }
};

QL_TEST_UNIT(LocalizerTest)
#include "LocalizerTest.moc"
