#include "platform/alsa/AlsaUid.h"

#include <QRegularExpression>

namespace ql::platform::alsa {

bool isPlainCardId(const QString& id) {
    if (id.isEmpty() || id.size() > 31)
        return false;
    for (const QChar c : id) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                        (u >= '0' && u <= '9') || u == '_' || u == '-';
        if (!ok)
            return false;
    }
    return true;
}

QString hwUid(const QString& cardId, int device) {
    if (!isPlainCardId(cardId) || device < 0)
        return {};
    return QStringLiteral("hw:CARD=%1,DEV=%2").arg(cardId).arg(device);
}

std::optional<HwAddress> parseHwUid(const QString& uid) {
    // Anchored at both ends of the whole text ("$" alone would let a final
    // newline through).
    static const QRegularExpression shape(QRegularExpression::anchoredPattern(
        QStringLiteral("hw:CARD=([A-Za-z0-9_-]{1,31}),DEV=(0|[1-9][0-9]{0,2})")));
    const auto m = shape.match(uid);
    if (!m.hasMatch())
        return std::nullopt;
    return HwAddress{m.captured(1), m.captured(2).toInt()};
}

QString hwCtlName(const QString& cardId) {
    return QStringLiteral("hw:CARD=%1").arg(cardId);
}

QString pcmPlaybackNode(int card, int device) {
    return QStringLiteral("/dev/snd/pcmC%1D%2p").arg(card).arg(device);
}

} // namespace ql::platform::alsa
