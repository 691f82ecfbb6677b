// Guards against: a signal-path report that calls an altered path clean, or the reverse.
#include "playback/SignalPath.h"
#include "ui/l10n/L10n.h"

#include "CaseRows.h"
#include "TestUnits.h"

#include <QTest>

#include <functional>

using namespace ql;

namespace {

// Bit-perfect FLAC 24/96 on a 96 kHz device, slider at 100, gapless on.
SignalPathInput clean() {
    SignalPathInput in;
    in.hasTrack = true;
    in.source = {QStringLiteral("flac"), 96000, 24, 2, 60};
    in.bitPerfect = true;
    in.fxEnabled = true;
    in.gaplessOn = true;
    in.device = OutputInfo{QStringLiteral("DAC"), 96000, 24, 2};
    return in;
}
// The same track with bit-perfect off, the source at 44.1 kHz.
SignalPathInput shared(double deviceRate = 44100) {
    SignalPathInput in = clean();
    in.bitPerfect = in.fxEnabled = false;
    in.source.rate = 44100;
    in.device->rate = deviceRate;
    return in;
}

const QString kClean = QStringLiteral("✓ 원음 경로: 추가 처리 없이 장치로 나갑니다.");
const QString kDiffers = QStringLiteral("원본과 다르게 처리되는 부분: ");

struct Case {
    const char* name;
    std::function<SignalPathInput()> input;
    int row;           // the row checked (0-based)
    const char* value; // its value text
    bool engaged;
    QString verdict;
};

// clang-format off
const std::vector<Case>& cases() {
    static const std::vector<Case> all{
        {"bit-perfect at the device rate: nothing added", clean, 6, "앱 음량 100% 고정 (시스템 음량으로 조절)", false, kClean},
        {"bit-perfect skips switched-on effects", clean, 2, "비트퍼펙트라 건너뜀", false, kClean},
        {"bit-perfect engages the mode row", clean, 8, "💎 비트퍼펙트 켜짐 · 갭리스 켜짐", true, kClean},
        {"slider 99.6 reads 99% and adds nothing", [] { auto in = shared(); in.volume = 99.6; return in; }, 6, "앱 음량 99%", true, kClean},
        {"slider 99 adds the app volume", [] { auto in = shared(); in.volume = 99; return in; }, 6, "앱 음량 99%", true, kDiffers + "앱 음량 99%"},
        {"leveling at -14 LUFS turns it down", [] { auto in = shared(); in.levelingOn = true; in.loudness = -14; return in; }, 5, "켜짐 · 이 곡 -2.0 dB 조정", true, kDiffers + "음량 균일화"},
        {"leveling at -20 LUFS changes nothing", [] { auto in = shared(); in.levelingOn = true; in.loudness = -20; return in; }, 5, "켜짐 · 이 곡 0.0 dB 조정", true, kClean},
        {"leveling not yet measured", [] { auto in = shared(); in.levelingOn = true; return in; }, 5, "켜짐 · 분석 중", true, kClean},
        {"44.1 kHz on a 48 kHz device", [] { return shared(48000); }, 7, "DAC · 48kHz · 24bit · 샘플레이트 불일치", true, kDiffers + "출력 48kHz ≠ 원본 44.1kHz (시스템이 변환)"},
        {"44100.5 Hz counts as matching", [] { return shared(44100.5); }, 7, "DAC · 44.1kHz · 24bit · 샘플레이트 일치 ✓", true, kClean},
        {"upsampling to 176.4 kHz", [] { auto in = shared(176400); in.effUpMode = 2; in.upTarget = 176400; return in; }, 4, "libsoxr 변환 44.1 → 176.4kHz", true, kDiffers + "업샘플링, 출력 176.4kHz ≠ 원본 44.1kHz (시스템이 변환)"},
        {"a dropped upsampling stage shows its error",
         [] { auto in = shared(); in.effUpMode = 2; in.upTarget = 176400; in.dropped = RenderNote{4, "업샘플링 변환기를 만들 수 없습니다.", {}}; return in; },
         4, "업샘플링 변환기를 만들 수 없습니다.", false, kClean},
        {"upsampling with the device at its highest rate", [] { auto in = shared(); in.effUpMode = 2; return in; }, 4, "이미 장치 최고 샘플레이트라 변환 없음(원음 그대로)", false, kClean},
        {"two plug-ins in order", [] { auto in = shared(); in.plugins = {"A", "B"}; return in; }, 3, "A → B", true, kDiffers + "외장 플러그인"},
        {"a plug-in that did not load",
         [] { auto in = shared(); in.plugins = {"A"}; in.dropped = RenderNote{2, "플러그인을 불러오지 못했습니다: ", "A"}; return in; },
         3, "플러그인을 불러오지 못했습니다: A", false, kClean},
        {"a failed probe mismatches against 0", [] { auto in = shared(); in.source = {}; return in; }, 0, "? · 0kHz · 0채널", true, kDiffers + "출력 44.1kHz ≠ 원본 0kHz (시스템이 변환)"},
        {"differences keep the row order",
         [] { auto in = shared(48000); in.fxChain = in.fxEnabled = true; in.preset = "록"; in.plugins = {"A"};
              in.effUpMode = 1; in.upTarget = 88200; in.levelingOn = true; in.loudness = -10; in.volume = 75;
              in.sleepOn = in.crossfadeOn = true; return in; },
         6, "앱 음량 75% · 수면 타이머 페이드", true,
         kDiffers + "EQ·음장 효과, 외장 플러그인, 업샘플링, 음량 균일화, 앱 음량 75%, 출력 48kHz ≠ 원본 44.1kHz (시스템이 변환)"},
        {"no track: one row, and that is fine", [] { return SignalPathInput{}; }, 0, "재생 중인 곡이 없습니다.", false, "곡을 재생하면 신호 경로가 표시됩니다."},
    };
    return all;
}
// clang-format on

} // namespace

class SignalPathTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { L10n::setLanguage(QStringLiteral("ko")); }
    void cleanupTestCase() { L10n::setLanguage(QStringLiteral("en")); }

    void report_data() { test::addRows(cases()); }
    void report() {
        const Case& c = test::currentCase(cases());
        const SignalPathReport r = signalPathData(c.input());
        QCOMPARE(int(r.rows.size()), c.input().hasTrack ? 9 : 1);
        QCOMPARE(r.rows[std::size_t(c.row)].value, QString::fromUtf8(c.value));
        QCOMPARE(r.rows[std::size_t(c.row)].engaged, c.engaged);
        QCOMPARE(r.verdict, c.verdict);
        QCOMPARE(r.ok, !c.verdict.startsWith(kDiffers));
    }

    // The panel is rewritten every 2 s: its texts must already be English.
    void englishRowsKeepNamesAsTheyAre() {
        L10n::setLanguage(QStringLiteral("en"));
        SignalPathInput in = shared(48000);
        in.device->name = QStringLiteral("내 DAC");
        const SignalPathReport r = signalPathData(in);
        L10n::setLanguage(QStringLiteral("ko"));
        QCOMPARE(r.rows[7].value, QStringLiteral("내 DAC · 48kHz · 24bit · sample rate differs"));
        for (std::size_t i = 0; i < r.rows.size(); ++i)
            QVERIFY2(i == 7 || !L10n::hasHangul(r.rows[i].label + r.rows[i].value),
                     qPrintable(r.rows[i].value));
        QVERIFY(!L10n::hasHangul(r.verdict));
    }
};

QL_TEST_UNIT(SignalPathTest)
#include "SignalPathTest.moc"
