#include "playback/SignalPath.h"

#include "playback/RateText.h"
#include "playback/VolumeRules.h"
#include "ui/l10n/L10n.h"

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

QString tr(const char16_t* korean) {
    return L10n::tr(QString::fromUtf16(korean));
}

QString onOff(bool on) {
    return on ? tr(u"켬") : tr(u"끔");
}

// "FLAC · 24bit / 96kHz · 스테레오"
QString sourceText(const StreamFacts& s) {
    QString text = s.codec.toUpper() + QStringLiteral(" · ");
    if (s.bits > 0)
        text += QString::number(s.bits) + QStringLiteral("bit / ");
    text += khzText(s.rate) + QStringLiteral("kHz · ");
    if (s.channels == 1)
        return text + tr(u"모노");
    if (s.channels == 2)
        return text + tr(u"스테레오");
    return text + L10n::tr(QString::number(s.channels) + QStringLiteral("채널"));
}

// The error text of a dropped stage: a fixed text, then a name as it is.
QString droppedText(const RenderNote& note) {
    return L10n::tr(note.text) + note.name;
}

} // namespace

SignalPathReport signalPathData(const SignalPathInput& in) {
    SignalPathReport report;
    auto& rows = report.rows;
    if (!in.hasTrack) {
        rows.push_back({tr(u"소스"), tr(u"재생 중인 곡이 없습니다."), false});
        report.verdict = tr(u"곡을 재생하면 신호 경로가 표시됩니다.");
        return report;
    }
    const double rate = in.source.rate;
    QStringList differences;
    const int droppedCode = in.dropped ? in.dropped->code : 0;

    rows.push_back({tr(u"소스"), sourceText(in.source), true});

    const QString decoding = in.effectsRoad ? tr(u"ffmpeg로 효과 처리 후 32bit float PCM")
                             : in.decoded
                                 ? tr(u"ffmpeg로 32bit float PCM 변환 후 재생(내장 플레이어가 "
                                      u"직접 못 읽는 포맷)")
                                 : tr(u"내장 플레이어가 직접 디코딩");
    rows.push_back({tr(u"디코딩"), decoding, true});

    const bool effects = in.fxEnabled && in.fxChain && !in.bitPerfect;
    QString processing;
    if (effects)
        processing = L10n::tr(in.preset) + tr(u" · 크로스피드 ") + onOff(in.crossfeed) +
                     tr(u" · 와이드 ") + onOff(in.wide) + tr(u" · 공간감 ") + onOff(in.room) +
                     tr(u" · 야간 ") + onOff(in.night);
    else
        processing = in.bitPerfect && in.fxEnabled ? tr(u"비트퍼펙트라 건너뜀") : tr(u"없음");
    rows.push_back({tr(u"처리(EQ·음장)"), processing, effects});
    if (effects)
        differences << tr(u"EQ·음장 효과");

    const QStringList plugins = in.bitPerfect ? QStringList() : in.plugins;
    if (!plugins.isEmpty() && (droppedCode == 2 || droppedCode == 3)) {
        rows.push_back({tr(u"플러그인"), droppedText(*in.dropped), false});
    } else {
        rows.push_back({tr(u"플러그인"),
                        plugins.isEmpty() ? tr(u"없음") : plugins.join(QStringLiteral(" → ")),
                        !plugins.isEmpty()});
        if (!plugins.isEmpty())
            differences << tr(u"외장 플러그인");
    }

    const bool upsampling = in.effUpMode > 0 && !in.bitPerfect && in.upTarget.has_value();
    if (upsampling && droppedCode == 4) {
        rows.push_back({tr(u"업샘플링"), droppedText(*in.dropped), false});
    } else if (upsampling) {
        rows.push_back({tr(u"업샘플링"),
                        tr(u"libsoxr 변환 ") + khzText(rate) + QStringLiteral(" → ") +
                            khzText(*in.upTarget) + QStringLiteral("kHz"),
                        true});
        differences << tr(u"업샘플링");
    } else {
        const QString why = in.bitPerfect && in.upMode > 0 ? tr(u"비트퍼펙트라 건너뜀")
                            : in.effUpMode < 1
                                ? tr(u"꺼짐")
                                : tr(u"이미 장치 최고 샘플레이트라 변환 없음(원음 그대로)");
        rows.push_back({tr(u"업샘플링"), why, false});
    }

    const bool leveling = in.levelingOn && !in.bitPerfect;
    QString levelText = tr(u"꺼짐");
    if (leveling && !in.loudness) {
        levelText = tr(u"켜짐 · 분석 중");
    } else if (leveling) {
        const double gain = std::min(0.0, kLevelingTargetLufs - *in.loudness);
        levelText = tr(u"켜짐 · 이 곡 ") + fixedText(gain, 1) + tr(u" dB 조정");
        if (gain < -0.1)
            differences << tr(u"음량 균일화");
    }
    rows.push_back({tr(u"음량 균일화"), levelText, leveling});

    // The slider's value is shown cut to a whole number (99.6 reads 99%).
    const QString percent = QString::number(int(in.volume)) + u'%';
    if (!in.bitPerfect && std::abs(in.volume - 100) > 0.5)
        differences << tr(u"앱 음량 ") + percent;
    const QString volumeText =
        in.bitPerfect
            ? tr(u"앱 음량 100% 고정 (시스템 음량으로 조절)")
            : tr(u"앱 음량 ") + percent + (in.sleepOn ? tr(u" · 수면 타이머 페이드") : QString());
    rows.push_back({tr(u"음량 제어"), volumeText, !in.bitPerfect});

    if (!in.device) {
        rows.push_back({tr(u"출력 장치"), tr(u"확인할 수 없습니다."), false});
    } else {
        const OutputInfo& d = *in.device;
        const bool matching = std::abs(d.rate - rate) < 1.0;
        rows.push_back({tr(u"출력 장치"),
                        d.name + QStringLiteral(" · ") + khzText(d.rate) +
                            QStringLiteral("kHz · ") +
                            (d.bits > 0 ? QString::number(d.bits) + QStringLiteral("bit")
                                        : QStringLiteral("?")) +
                            (matching ? tr(u" · 샘플레이트 일치 ✓") : tr(u" · 샘플레이트 불일치")),
                        true});
        if (!matching)
            differences << tr(u"출력 ") + khzText(d.rate) + tr(u"kHz ≠ 원본 ") + khzText(rate) +
                               tr(u"kHz (시스템이 변환)");
    }

    QString mode = in.bitPerfect ? tr(u"💎 비트퍼펙트 켜짐") : tr(u"비트퍼펙트 꺼짐");
    if (in.gaplessOn)
        mode += tr(u" · 갭리스 켜짐");
    if (in.crossfadeOn && !in.bitPerfect)
        mode += tr(u" · 크로스페이드 켜짐");
    rows.push_back({tr(u"모드"), mode, in.bitPerfect});

    report.ok = differences.isEmpty();
    report.verdict =
        report.ok ? tr(u"✓ 원음 경로: 추가 처리 없이 장치로 나갑니다.")
                  : tr(u"원본과 다르게 처리되는 부분: ") + differences.join(QStringLiteral(", "));
    return report;
}

} // namespace ql
