#include "analysis/ScanVerdict.h"

#include "playback/RateText.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

bool isLossless(const QString& codec) {
    static const QStringList names{QStringLiteral("flac"), QStringLiteral("alac"),
                                   QStringLiteral("wavpack"), QStringLiteral("ape"),
                                   QStringLiteral("tta")};
    return names.contains(codec) || codec.startsWith(QStringLiteral("pcm_"));
}

QString khz1(double hz) {
    return fixedText(hz / 1000.0, 1);
}

struct Cutoff {
    int band = 511;
    int twoKhzBand = 0; // the band that holds 2 kHz, clamped to 0 … 512
    double hz = 0;
};

Cutoff findCutoff(const std::vector<float>& curve, double nyquist) {
    Cutoff c;
    // In double and clamped: a tiny rate from a broken header would overflow an
    // int. Rates at or below 4000 Hz land on 512, as before.
    const double s = 1024000.0 / nyquist;
    c.twoKhzBand = int(std::isnan(s) ? 512.0 : std::clamp(std::trunc(s), 0.0, 512.0));
    std::vector<float> above(curve.begin() + std::min(c.twoKhzBand, 511), curve.end());
    std::sort(above.begin(), above.end());
    const float threshold = above[std::size_t(std::max<std::size_t>(0, above.size() / 20))] + 15.0f;
    for (int i = 508; i > c.twoKhzBand; --i) {
        const auto u = std::size_t(i);
        if ((curve[u] + curve[u + 1] + curve[u + 2]) / 3.0f > threshold) {
            c.band = i + 3;
            break;
        }
    }
    c.hz = c.band >= 492 ? nyquist : c.band / 512.0 * nyquist;
    return c;
}

// The noise level in dB per sample relative to full scale: the bands above
// the cut-off (with a guard), or the quietest quarter above 2 kHz when the
// spectrum reaches the top.
double noiseLevel(const std::vector<float>& power, const Cutoff& c, double nyquist) {
    std::vector<float> set;
    if (c.hz < 0.96 * nyquist && c.band + 12 <= 507) {
        set.assign(power.begin() + c.band + 12, power.end());
    } else {
        set.assign(power.begin() + std::min(c.twoKhzBand, 511), power.end());
        std::sort(set.begin(), set.end());
        set.resize(std::min(set.size(), std::max<std::size_t>(8, set.size() / 4)));
    }
    float sum = 0;
    for (const float p : set)
        sum += p;
    const double mean = double(sum) / double(std::max<std::size_t>(1, set.size()));
    return 10.0 * std::log10(mean / 32768.0 + 1e-30);
}

QString channelsText(int channels) {
    if (channels == 1)
        return QStringLiteral("모노");
    if (channels == 2)
        return QStringLiteral("스테레오");
    return QString::number(channels) + QStringLiteral("채널");
}

} // namespace

ScanMeasures scanMeasures(double rate, const ScanBands& spectrum) {
    const double nyquist = rate / 2.0;
    const Cutoff cut = findCutoff(spectrum.curve, nyquist);
    ScanMeasures m;
    m.cutoff = cut.hz;
    m.noise = noiseLevel(spectrum.bandPower, cut, nyquist);
    m.enob = std::max(8.0, std::min(32.0, (-m.noise - 10.79) / 6.02 + 1.0));
    m.usedBits = spectrum.usedBits;
    m.dc = spectrum.dc;
    return m;
}

ScanResult scanVerdict(const StreamFacts& facts, const ScanBands& spectrum) {
    ScanResult r = scanJudge(facts, scanMeasures(facts.rate, spectrum));
    r.curve = spectrum.curve;
    return r;
}

ScanResult scanJudge(const StreamFacts& facts, const ScanMeasures& m) {
    ScanResult r;
    r.rate = facts.rate;
    r.dc = m.dc ? 1 : 0;
    r.cutoff = m.cutoff;
    r.enob = m.enob;
    const double noise = m.noise;
    const double nyquist = facts.rate / 2.0;
    const bool lossless = isLossless(facts.codec);
    const QString codec = facts.codec.toUpper();
    const int declared = facts.bits > 0 ? facts.bits : m.usedBits;
    r.noise = fixedText(noise, 0) + QStringLiteral(" dBFS (≈ ") + fixedText(r.enob, 1) +
              QStringLiteral("bit)");

    QStringList findings;
    double contentRate = facts.rate;
    bool transcode = false;
    if (facts.rate >= 88200 && r.cutoff < 24000) {
        contentRate = r.cutoff > 21000 ? 48000 : 44100;
        findings << QStringLiteral("업샘플링 의심: 실제 내용은 ") + khzText(contentRate) +
                        QStringLiteral("kHz급(대역폭 ") + khz1(r.cutoff) + QStringLiteral("kHz)");
    } else if (lossless && facts.rate <= 48000 && r.cutoff < 19000) {
        transcode = true;
        findings << QStringLiteral("손실 압축(MP3 등)을 무손실로 바꾼 음원 의심: 대역폭이 ") +
                        khz1(r.cutoff) + QStringLiteral("kHz에서 잘림");
    } else if (lossless && facts.rate <= 48000 && r.cutoff < 20300) {
        findings << QStringLiteral("대역폭이 다소 좁음(") + khz1(r.cutoff) +
                        QStringLiteral("kHz). 참고만 하세요");
    }

    int effective = declared;
    if (lossless && declared > 16) {
        if (m.usedBits >= 1 && m.usedBits <= 16) {
            effective = 16;
            findings << QStringLiteral("실제 ") + QString::number(m.usedBits) +
                            QStringLiteral("비트 데이터를 ") + QString::number(declared) +
                            QStringLiteral("비트로 담았음(패딩)");
        } else if (r.enob < 17.5) {
            effective = 16;
            findings << QStringLiteral("실제 해상도는 16비트급입니다(잡음 바닥 ") +
                            fixedText(noise, 0) + QStringLiteral("dBFS). ") +
                            QString::number(declared) +
                            QStringLiteral("비트로 담았지만 16비트 음원일 가능성이 높습니다");
        }
    }
    if (!lossless)
        findings << QStringLiteral("손실 압축 포맷입니다(") + codec + u')';
    if (r.dc == 1)
        findings << QStringLiteral("DC 오프셋 있음");

    r.good = std::all_of(findings.cbegin(), findings.cend(), [](const QString& f) {
        return f.contains(QStringLiteral("참고")) || f.contains(QStringLiteral("손실 압축 포맷"));
    });
    const bool hiRes = lossless && !transcode && (effective > 16 || contentRate > 48000);
    if (!findings.isEmpty())
        r.verdict = findings.join(u'\n');
    else
        r.verdict = hiRes ? QStringLiteral("진짜 하이레즈로 보입니다 ✓")
                          : QStringLiteral("정상적인 무손실 음원으로 보입니다 ✓");

    if (lossless) {
        r.expected = QString::number(declared) + u'/' + khzText(facts.rate) + QStringLiteral(" (") +
                     codec + u')';
        r.detected = QString::number(effective) + u'/' + khzText(contentRate) +
                     (hiRes       ? QStringLiteral(" Hi-Res ✓")
                      : transcode ? QStringLiteral(" (손실 변환 의심)")
                                  : QStringLiteral(" (CD급)"));
        if (declared < 1)
            r.bitdepth = QStringLiteral("?");
        else
            r.bitdepth =
                QString::number(declared) + QStringLiteral("bit (표기)") +
                (effective < declared ? QStringLiteral(" · 실효 ") + QString::number(effective) +
                                            QStringLiteral("비트급")
                                      : QStringLiteral(" ✓"));
    } else {
        r.expected = codec + u' ' + khzText(facts.rate) + QStringLiteral("kHz");
        r.detected = QStringLiteral("손실 포맷 (") + codec + u')';
        r.bitdepth = QStringLiteral("해당 없음(손실 포맷)");
    }
    r.bandwidth = fixedText(r.cutoff, 0) + QStringLiteral("Hz") +
                  (r.cutoff < 0.96 * nyquist ? QString() : QStringLiteral(" (전 대역)"));
    r.channels = channelsText(facts.channels);
    return r;
}

} // namespace ql
