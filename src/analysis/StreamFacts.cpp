#include "analysis/StreamFacts.h"

#include "playback/RateText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace ql {

namespace {

// A string member holding a finite, non-negative decimal number.
double decimalMember(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return 0;
    const QString text = value.toString();
    if (text.isEmpty() || text.front().isSpace() || text.back().isSpace())
        return 0;
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok && std::isfinite(number) && number >= 0 ? number : 0;
}

// A number member holding a count (bits, channels): integral, not negative,
// within an int. A negative count would read as "-2ch" on the format line.
std::optional<int> integralMember(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < 0 || number > 1e9)
        return std::nullopt;
    return int(number);
}

// A string member holding a count as decimal digits (a "+" allowed).
std::optional<int> integerStringMember(const QJsonObject& object, const char* key) {
    static const QRegularExpression integer(QStringLiteral("^[+]?[0-9]+$"));
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString() || !integer.match(value.toString()).hasMatch())
        return std::nullopt;
    bool ok = false;
    const int number = value.toString().toInt(&ok);
    return ok ? std::optional(number) : std::nullopt;
}

} // namespace

QStringList probeArguments(const QString& input) {
    return {QStringLiteral("-v"),
            QStringLiteral("quiet"),
            QStringLiteral("-select_streams"),
            QStringLiteral("a:0"),
            QStringLiteral("-show_entries"),
            QStringLiteral("stream=codec_name,sample_rate,bits_per_raw_sample,bits_per_sample,"
                           "channels:format=duration"),
            QStringLiteral("-of"),
            QStringLiteral("json"),
            input};
}

StreamFacts parseStreamFacts(const QByteArray& report) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(report, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonObject top = document.object();

    QJsonObject stream;
    const QJsonValue streams = top.value(QLatin1String("streams"));
    if (streams.isArray() && !streams.toArray().isEmpty() && streams.toArray().first().isObject())
        stream = streams.toArray().first().toObject();

    StreamFacts facts;
    if (const QJsonValue codec = stream.value(QLatin1String("codec_name")); codec.isString())
        facts.codec = codec.toString();
    facts.rate = decimalMember(stream, "sample_rate");
    // A readable raw width wins, even when it is 0.
    facts.bits = integerStringMember(stream, "bits_per_raw_sample")
                     .value_or(integralMember(stream, "bits_per_sample").value_or(0));
    facts.channels = integralMember(stream, "channels").value_or(0);
    if (const QJsonValue format = top.value(QLatin1String("format")); format.isObject())
        facts.duration = decimalMember(format.toObject(), "duration");
    return facts;
}

QString formatLine(const StreamFacts& facts) {
    if (!(facts.rate > 0))
        return {};
    // A part the probe did not report is left out rather than shown as
    // "0ch" or an empty codec before the bar.
    const QString channels = facts.channels == 1   ? QStringLiteral(" Mono")
                             : facts.channels == 2 ? QStringLiteral(" Stereo")
                             : facts.channels > 2
                                 ? u' ' + QString::number(facts.channels) + QStringLiteral("ch")
                                 : QString();
    const QString codec =
        facts.codec.isEmpty() ? QString() : facts.codec.toUpper() + QStringLiteral(" | ");
    const QString bits = facts.bits >= 1 ? QString::number(facts.bits) + u'/' : QString();
    return codec + bits + khzText(facts.rate) + QStringLiteral("kHz") + channels;
}

QString albumArtistLine(const QString& album, const QString& artist) {
    QStringList parts;
    for (const QString& part : {album, artist})
        if (!part.isEmpty())
            parts << part;
    return parts.join(u'\n');
}

} // namespace ql
