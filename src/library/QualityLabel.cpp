#include "library/QualityLabel.h"

#include "library/TagBound.h"
#include "playback/RateText.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

// Beyond this no whole number of kbps or Hz can be formed.
constexpr double kLargest = 9.0e18;

double sane(double value) {
    return std::isfinite(value) && std::abs(value) < kLargest ? value : 0.0;
}

// A JSON string holding a decimal number; none when absent or not a number.
std::optional<double> numberText(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    bool ok = false;
    const double number = value.toString().trimmed().toDouble(&ok);
    return ok ? std::optional(sane(number)) : std::nullopt;
}

bool isLossless(const QString& codec) {
    static const QStringList lossless{"flac", "alac", "ape", "wavpack", "tta"};
    return codec.startsWith(QLatin1String("pcm_")) || lossless.contains(codec);
}

QString displayName(const QString& codec) {
    if (codec.startsWith(QLatin1String("pcm_")))
        return QStringLiteral("WAV");
    static const QHash<QString, QString> names{
        {"flac", "FLAC"},  {"alac", "ALAC"}, {"mp3", "MP3"},    {"aac", "AAC"},  {"opus", "OPUS"},
        {"vorbis", "OGG"}, {"ape", "APE"},   {"wavpack", "WV"}, {"wmav2", "WMA"}};
    return names.value(codec, codec.toUpper());
}

} // namespace

std::optional<ProbeFacts> readProbeFacts(const QByteArray& report) {
    const QJsonDocument doc = QJsonDocument::fromJson(report);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject top = doc.object();
    const QJsonArray streams = top.value(QLatin1String("streams")).toArray();
    const QJsonObject stream = streams.isEmpty() ? QJsonObject() : streams.first().toObject();
    ProbeFacts facts;
    if (const QJsonValue codec = stream.value(QLatin1String("codec_name")); codec.isString())
        facts.codec = codec.toString();
    facts.rate = numberText(stream, "sample_rate").value_or(0);
    const QJsonValue raw = stream.value(QLatin1String("bits_per_raw_sample"));
    bool rawOk = false;
    const int rawBits = raw.isString() ? raw.toString().trimmed().toInt(&rawOk) : 0;
    if (rawOk)
        facts.bits = rawBits;
    else if (const QJsonValue bits = stream.value(QLatin1String("bits_per_sample"));
             bits.isDouble())
        facts.bits = int(std::clamp(sane(bits.toDouble()), 0.0, 1.0e6));
    const QJsonObject format = top.value(QLatin1String("format")).toObject();
    facts.bitRate =
        numberText(stream, "bit_rate").value_or(numberText(format, "bit_rate").value_or(0));
    return facts;
}

QString qualityLabel(const QString& codec, double rate, int bits, double bitRate) {
    rate = sane(rate);
    bitRate = sane(bitRate);
    QString label = displayName(codec) + u' ';
    if (isLossless(codec)) {
        label += khzText(rate) + QStringLiteral("kHz");
        if (bits > 0)
            label += u'/' + QString::number(bits) + QStringLiteral("bit");
        if (bits >= 24 || rate >= 88200)
            label += QStringLiteral(" ★");
        return label;
    }
    if (bitRate > 0)
        label += QString::number(qint64(bitRate / 1000)) + QStringLiteral("kbps");
    label += QStringLiteral(" ⬆");
    return label.replace(QStringLiteral("  "), QStringLiteral(" "));
}

QString genreValue(const QByteArray& output) {
    // Only the first line's first piece counts. It is found in the bytes
    // (the line feed, the separators and the blanks are ASCII, never part of
    // a longer UTF-8 sequence) and only as much of it is decoded as the bound
    // can keep, so a genre of megabytes is neither decoded nor copied whole.
    const QByteArrayView all(output);
    qsizetype from = 0;
    while (from < all.size() && all[from] == '\n')
        ++from;
    const qsizetype lineEnd = all.indexOf('\n', from);
    const QByteArrayView line = all.sliced(from, (lineEnd < 0 ? all.size() : lineEnd) - from);
    const auto separator = [](char c) { return c == ';' || c == '/' || c == ',' || c == '\0'; };
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    qsizetype start = 0;
    while (start < line.size() && separator(line[start]))
        ++start;
    qsizetype end = start;
    while (end < line.size() && !separator(line[end]))
        ++end;
    // Only spaces and tabs are trimmed, not every kind of white space.
    while (start < end && blank(line[start]))
        ++start;
    while (end > start && blank(line[end - 1]))
        --end;
    // At most 4 bytes a character: a longer piece still yields more
    // characters than the bound keeps, all whole but perhaps the last.
    constexpr qsizetype kDecoded = 4 * (kTagLimit + 2);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString value = utf8.decode(line.sliced(start, std::min(end - start, kDecoded)));
    if (value.isEmpty())
        return value;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, value);
    const qsizetype first = std::max<qsizetype>(graphemes.toNextBoundary(), 1);
    return boundedTag(value.left(first).toUpper() + value.mid(first));
}

double addedDate(std::optional<qint64> birthMs, std::optional<qint64> modifiedMs) {
    if (birthMs)
        return double(*birthMs) / 1000.0;
    if (modifiedMs)
        return double(*modifiedMs) / 1000.0;
    return 0;
}

} // namespace ql
