#include "ui/l10n/L10n.h"

#include "ui/l10n/Localizer.h"

#include <memory>

namespace ql {

namespace {
std::unique_ptr<Localizer>& current() {
    static std::unique_ptr<Localizer> localizer;
    return localizer;
}
} // namespace

bool L10n::hasHangul(QStringView text) {
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0xAC00 && u <= 0xD7A3)
            return true;
    }
    return false;
}

Localizer& L10n::instance() {
    std::unique_ptr<Localizer>& l = current();
    if (!l)
        l = std::make_unique<Localizer>(QStringLiteral("en"), PairTable::builtIn());
    return *l;
}

void L10n::setLanguage(const QString& code) {
    current() = std::make_unique<Localizer>(code, PairTable::builtIn());
}

QString L10n::tr(const QString& text) {
    return instance().tr(text);
}
QString L10n::tab(const QString& label) {
    return instance().tab(label);
}
QString L10n::lang() {
    return instance().lang();
}
bool L10n::isEnglish() {
    return instance().isEnglish();
}

} // namespace ql
