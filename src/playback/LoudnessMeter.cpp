#include "playback/LoudnessMeter.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace ql {

namespace {
constexpr double kSilenceFloorLufs = -70.0;
constexpr double kBaseTimeoutSeconds = 120.0;
// Keeps the limit inside an int of milliseconds for absurd lengths.
constexpr double kLongestTrackSeconds = 24.0 * 3600.0;
} // namespace

QStringList loudnessArguments(const QString& input) {
    return {QStringLiteral("-nostats"),  QStringLiteral("-hide_banner"),
            QStringLiteral("-i"),        input,
            QStringLiteral("-filter:a"), QStringLiteral("ebur128=framelog=verbose"),
            QStringLiteral("-f"),        QStringLiteral("null"),
            QStringLiteral("-")};
}

std::optional<double> integratedLoudness(const QByteArray& log) {
    static const QRegularExpression pattern(QStringLiteral("I:\\s+(-?\\d+(?:\\.\\d+)?) LUFS"));
    const QString text = QString::fromUtf8(log);
    QRegularExpressionMatch last;
    for (QRegularExpressionMatchIterator it = pattern.globalMatch(text); it.hasNext();)
        last = it.next();
    if (!last.hasMatch())
        return std::nullopt;
    // toDouble reads the C locale whatever the user's is.
    bool ok = false;
    const double value = last.captured(1).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool loudnessKept(double lufs) {
    return lufs > kSilenceFloorLufs;
}

int loudnessTimeoutMs(double trackSeconds) {
    const double track =
        std::isfinite(trackSeconds) ? std::clamp(trackSeconds, 0.0, kLongestTrackSeconds) : 0.0;
    return int((kBaseTimeoutSeconds + track) * 1000.0);
}

} // namespace ql
