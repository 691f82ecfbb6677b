#include "playback/RateText.h"

#include <charconv>
#include <cmath>

namespace ql {

namespace {
// Fixed notation as printf("%.*f") writes it in the C locale, ties to even
// included; printf itself would follow LC_NUMERIC, which the application
// object sets from the user's locale, and QString::number rounds ties up.
QString fixed(double value, int decimals) {
    char buf[400]; // room for the largest double written out in full
    const auto res =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    return QString::fromLatin1(buf, int(res.ptr - buf));
}
} // namespace

QString khzText(double rate) {
    // A broken device reading must not turn into "nan" or "inf" on a label.
    if (!std::isfinite(rate) || rate == 0)
        return QStringLiteral("0");
    if (std::fmod(rate, 1000.0) == 0)
        return fixed(rate / 1000.0, 0);
    return fixed(rate / 1000.0, 1);
}

} // namespace ql
