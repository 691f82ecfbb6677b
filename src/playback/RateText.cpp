#include "playback/RateText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ql {

// Fixed notation as printf("%.*f") writes it in the C locale, ties to even
// included; printf itself would follow LC_NUMERIC, which the application
// object sets from the user's locale, and QString::number rounds ties up.
QString fixedText(double value, int decimals) {
    char buf[400]; // room for the largest double written out in full
    const auto res =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return QString::fromLatin1(buf, int(res.ptr - buf));
}

QString signedFixedText(double value, int decimals) {
    QString text = fixedText(value, decimals);
    if (!text.startsWith(u'-'))
        return u'+' + text;
    const bool zero =
        std::all_of(text.cbegin() + 1, text.cend(), [](QChar c) { return c == u'0' || c == u'.'; });
    if (zero)
        text[0] = u'+';
    return text;
}

QString khzText(double rate) {
    // A broken device reading must not turn into "nan" or "inf" on a label.
    if (!std::isfinite(rate) || rate == 0)
        return QStringLiteral("0");
    if (std::fmod(rate, 1000.0) == 0)
        return fixedText(rate / 1000.0, 0);
    return fixedText(rate / 1000.0, 1);
}

QString dacText(int bits, double rate, int channels) {
    if (!std::isfinite(rate) || rate <= 0)
        return {};
    QString text = QStringLiteral("DAC: ");
    if (bits >= 1)
        text += QString::number(bits) + u'/';
    text += khzText(rate) + QStringLiteral("kHz");
    if (channels == 2)
        text += QStringLiteral(" Stereo");
    else if (channels > 0)
        text += u' ' + QString::number(channels) + QStringLiteral("ch");
    return text;
}

} // namespace ql
