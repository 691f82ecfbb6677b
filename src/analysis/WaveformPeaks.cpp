#include "analysis/WaveformPeaks.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ql {

QStringList waveformArguments(const QString& input) {
    return {QStringLiteral("-v"),    QStringLiteral("error"),
            QStringLiteral("-i"),    input,
            QStringLiteral("-map"),  QStringLiteral("0:a:0"),
            QStringLiteral("-vn"),   QStringLiteral("-ac"),
            QStringLiteral("1"),     QStringLiteral("-ar"),
            QStringLiteral("4000"),  QStringLiteral("-f"),
            QStringLiteral("s16le"), QStringLiteral("-")};
}

WavePeaks waveformPeaks(const QByteArray& s16le, int buckets) {
    const qsizetype n = s16le.size() / 2;
    if (buckets < 1 || n <= buckets)
        return {};
    const qsizetype per = n / buckets;
    const auto* bytes = reinterpret_cast<const uchar*>(s16le.constData());
    WavePeaks peaks(std::size_t(buckets), 0.0f);
    float loudest = 0;
    for (int b = 0; b < buckets; ++b) {
        // In 32 bits, so that −32768 counts as 32768 rather than overflowing.
        std::int32_t top = 0;
        const uchar* at = bytes + 2 * qsizetype(b) * per;
        for (qsizetype i = 0; i < per; ++i, at += 2)
            top = std::max(top, std::abs(std::int32_t(qFromLittleEndian<qint16>(at))));
        peaks[std::size_t(b)] = float(top) / 32768.0f;
        loudest = std::max(loudest, peaks[std::size_t(b)]);
    }
    // A quiet file is not blown up to full height: it keeps its level
    // relative to 5 % of full scale.
    const float m = std::max(0.05f, loudest);
    for (float& v : peaks)
        v = std::sqrt(v / m);
    return peaks;
}

void storeWaveform(QHash<QString, WavePeaks>& cache, const QString& path, const WavePeaks& peaks) {
    if (peaks.empty())
        return;
    if (cache.size() > kWaveCacheLimit)
        cache.clear();
    cache.insert(path, peaks);
}

} // namespace ql
