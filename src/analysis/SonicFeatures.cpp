#include "analysis/SonicFeatures.h"

#include <QRegularExpression>

#include <cmath>

namespace ql {

namespace {
constexpr int kFrame = 512;
constexpr int kHop = 256;
constexpr int kMinLag = 12;
constexpr int kMaxLag = 43;
} // namespace

QStringList sonicDecodeArguments(const QString& start, const QString& input) {
    return {QStringLiteral("-v"),    QStringLiteral("error"),
            QStringLiteral("-ss"),   start,
            QStringLiteral("-t"),    QStringLiteral("45"),
            QStringLiteral("-i"),    input,
            QStringLiteral("-vn"),   QStringLiteral("-ac"),
            QStringLiteral("1"),     QStringLiteral("-ar"),
            QStringLiteral("11025"), QStringLiteral("-f"),
            QStringLiteral("s16le"), QStringLiteral("-")};
}

QStringList sonicYearArguments(const QString& input) {
    return {QStringLiteral("-v"),
            QStringLiteral("quiet"),
            QStringLiteral("-show_entries"),
            QStringLiteral("format_tags=date,year,originaldate,TDOR,TYER"),
            QStringLiteral("-of"),
            QStringLiteral("default=nw=1:nk=1"),
            input};
}

std::vector<std::int16_t> sonicSamples(const QByteArray& raw) {
    std::vector<std::int16_t> samples(std::size_t(raw.size()) / 2);
    const auto* b = reinterpret_cast<const unsigned char*>(raw.constData());
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::int16_t(std::uint16_t(b[2 * i] | b[2 * i + 1] << 8));
    return samples;
}

double tempoForLag(int lag) {
    double bpm = 60.0 * kSonicRate / kHop / lag; // 2583.984375 / lag
    while (bpm < 70)
        bpm *= 2;
    while (bpm >= 160)
        bpm /= 2;
    return bpm;
}

std::optional<Sonic> measureSonic(const std::vector<std::int16_t>& x) {
    if (x.size() < std::size_t(kSonicMinSamples))
        return std::nullopt;

    // Frame loudness, then its mean and spread.
    std::vector<double> loud;
    for (std::size_t start = 0; start + kFrame <= x.size(); start += kHop) {
        double e = 0;
        for (std::size_t i = start; i < start + kFrame; ++i) {
            const double v = x[i] / 32768.0;
            e += v * v;
        }
        loud.push_back(10.0 * std::log10(e / kFrame + 1e-10));
    }
    Sonic s;
    for (const double l : loud)
        s.db += l;
    s.db /= double(loud.size());
    for (const double l : loud)
        s.dyn += (l - s.db) * (l - s.db);
    s.dyn = std::sqrt(s.dyn / double(loud.size()));

    std::size_t crossings = 0;
    for (std::size_t i = 1; i < x.size(); ++i)
        crossings += (x[i] < 0) != (x[i - 1] < 0);
    s.zcr = double(crossings) / double(x.size());

    // Onsets: the rises of loudness, centred; the tempo is the lag at which
    // they repeat best (the smallest of equals).
    std::vector<double> onset(loud.size(), 0.0);
    double mean = 0;
    for (std::size_t k = 1; k < loud.size(); ++k) {
        onset[k] = std::max(0.0, loud[k] - loud[k - 1]);
        mean += onset[k];
    }
    mean /= double(onset.size());
    for (double& f : onset)
        f -= mean;
    int best = kMinLag;
    double bestR = -INFINITY;
    for (int lag = kMinLag; lag <= kMaxLag; ++lag) {
        const auto len = std::ptrdiff_t(onset.size()) - lag;
        if (len <= 0)
            break;
        double r = 0;
        for (std::ptrdiff_t k = 0; k < len; ++k)
            r += onset[std::size_t(k)] * onset[std::size_t(k + lag)];
        r /= double(len);
        if (r > bestR) {
            bestR = r;
            best = lag;
        }
    }
    s.bpm = tempoForLag(best);
    s.ok = true;
    return s;
}

int yearFromTags(const QByteArray& output) {
    static const QRegularExpression year(QStringLiteral("(19|20)\\d\\d"));
    const QRegularExpressionMatch m = year.match(QString::fromUtf8(output));
    return m.hasMatch() ? m.captured(0).toInt() : 0;
}

} // namespace ql
