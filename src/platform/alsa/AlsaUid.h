// How ALSA devices are named to the rest of the program.
//
// A card's number changes when it is plugged in again; its id ("PCH", "DAC")
// does not. So a device's persistent UID is built from the id:
// "hw:CARD=<card id>,DEV=<n>", which is also the PCM name alsa-lib opens. The
// sound server's shared device has the UID "default".
//
// A UID read back from the settings is untrusted text. parseHwUid accepts only
// the exact shape above with a plain card id, so nothing stored can make the
// backend open a PCM name of its own making (alsa-lib's names can name plugins
// that write files or run programs).
#pragma once

#include <QString>

#include <optional>

namespace ql::platform::alsa {

inline const QString kDefaultUid = QStringLiteral("default");

struct HwAddress {
    QString cardId;
    int device = 0;
    bool operator==(const HwAddress&) const = default;
};

// True for a card id alsa-lib can take in a device name as it stands: 1 to 31
// characters from letters, digits, '_' and '-'.
bool isPlainCardId(const QString& id);

// "hw:CARD=<id>,DEV=<n>"; empty when the id is not plain or n is negative.
QString hwUid(const QString& cardId, int device);

// The card and device of a UID made by hwUid; none for anything else.
std::optional<HwAddress> parseHwUid(const QString& uid);

// The control (mixer) name of a card: "hw:CARD=<id>".
QString hwCtlName(const QString& cardId);

// The kernel's device node of a playback PCM: "/dev/snd/pcmC<card>D<device>p".
QString pcmPlaybackNode(int card, int device);

} // namespace ql::platform::alsa
