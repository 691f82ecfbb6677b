// alsa-probe: what the player's ALSA backend sees on this machine. Prints the
// cards and PCMs alsa-lib lists, whether "default" opens, then every device as
// the player lists it: UID, name, the rates and formats it takes (this opens
// each device for a moment, which the player itself only does on demand),
// the format its stream would run at, the hardware volume elements, the
// exclusive owner, and which platform the player would start on.
//
// Usage: alsa-probe        (no arguments; exit status 0)
#include "platform/alsa/AlsaFormats.h"
#include "platform/alsa/AlsaHardware.h"
#include "platform/alsa/AlsaLib.h"
#include "platform/alsa/AlsaUid.h"
#include "platform/alsa/AlsaVolumeMap.h"
#include "platform/sim/SimRig.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstring>
#include <map>
#include <memory>

using namespace ql::platform;
using namespace ql::platform::alsa;

namespace {

QTextStream out(stdout);

QString errorText(int err) {
    return QStringLiteral("%1 (%2)").arg(QString::fromLocal8Bit(std::strerror(-err))).arg(err);
}

QString formatText(const PhysicalFormat& f) {
    const auto sample = pcmFormatOf(f);
    const QString kind = sample ? QString::fromLatin1(formatName(*sample))
                                : (f.bits == 0 ? QStringLiteral("depth unknown until asked")
                                               : QStringLiteral("%1-bit").arg(f.bits));
    return QStringLiteral("%1 Hz, %2, %3 ch").arg(f.rate, 0, 'f', 0).arg(kind).arg(f.channels);
}

void printCards(AlsaApi& api) {
    const auto cards = api.cards();
    out << "cards: " << cards.size() << "\n";
    for (const CardInfo& c : cards) {
        out << "  card " << c.number << ": id=" << c.id << " name=\"" << c.name << "\"\n";
        for (const PcmInfo& p : api.playbackPcms(c.number))
            out << "    pcm " << p.device << ": id=\"" << p.id << "\" name=\"" << p.name
                << "\" node=" << pcmPlaybackNode(c.number, p.device) << "\n";
    }
    const auto def = api.probe(kDefaultUid, {48000});
    out << "default PCM: " << (def.value ? QStringLiteral("opens") : errorText(def.error)) << "\n";
}

void printDevice(AlsaHardware& hw, DeviceId id, bool isDefault) {
    out << "\n[" << id << "] " << hw.name(id).value_or(QStringLiteral("?"))
        << (isDefault ? "   (system default)" : "") << "\n";
    out << "    uid:     " << hw.uid(id).value_or(QStringLiteral("?")) << "\n";
    const auto streams = hw.outputStreams(id);
    const StreamId stream = streams && !streams->empty() ? streams->front() : 0;
    if (const auto f = hw.physicalFormat(stream))
        out << "    before:  " << formatText(*f) << "\n";

    const auto ranges = hw.availableNominalRates(id);
    out << "    rates:  ";
    if (!ranges)
        out << " not available (busy, or held by us)";
    for (const RateRange& r : ranges.value_or(std::vector<RateRange>{})) {
        if (r.min == r.max)
            out << " " << QString::number(r.min, 'f', 0);
        else
            out << " " << QString::number(r.min, 'f', 0) << "-" << QString::number(r.max, 'f', 0);
    }
    out << "\n";
    if (const auto formats = hw.availablePhysicalFormats(stream)) {
        std::map<QString, QStringList> byFormat;
        for (const PhysicalFormat& f : *formats) {
            const auto s = pcmFormatOf(f);
            byFormat[s ? QString::fromLatin1(formatName(*s)) : QStringLiteral("?")]
                << QString::number(f.rate, 'f', 0);
        }
        for (const auto& [name, rates] : byFormat)
            out << "    format:  " << name << " at " << rates.join(' ') << "\n";
    }
    if (const auto f = hw.physicalFormat(stream))
        out << "    stream:  " << formatText(*f) << "\n";

    const QString element = hw.volumeElementName(id);
    out << "    volume:  "
        << (element.isEmpty() ? QStringLiteral("none") : "mixer element \"" + element + "\"")
        << "\n";
    for (const VolumeElement el : {0u, 1u, 2u}) {
        if (!hw.hasVolume(id, el))
            continue;
        out << "      element " << el << ": ";
        if (const auto v = hw.volume(id, el))
            out << QString::number(*v, 'f', 3);
        else
            out << "unreadable";
        if (const auto db = hw.volumeDb(id, el)) {
            if (*db == kDbMuted)
                out << " (muted)";
            else
                out << " (" << QString::number(double(*db) / 100.0, 'f', 2) << " dB)";
        }
        out << (hw.volumeSettable(id, el) ? ", settable" : "") << "\n";
    }

    const auto owner = hw.exclusiveOwner(id);
    out << "    owner:   ";
    if (!owner)
        out << "unreadable";
    else if (*owner == kNoOwner)
        out << "free";
    else if (*owner == hw.selfPid())
        out << "this process";
    else if (*owner == kUnknownOwner)
        out << "busy, holder not visible";
    else
        out << "pid " << *owner;
    out << "\n";
}

} // namespace

int main() {
    out << "alsa-probe: the ALSA backend's view of this machine\n\n";
    {
        AlsaLib api;
        printCards(api);
    }
    AlsaHardware hw(std::make_unique<AlsaLib>());
    const auto ids = hw.devices().value_or(std::vector<DeviceId>{});
    const auto def = hw.defaultOutput();
    out << "\ndevices: " << ids.size() << "\n";
    for (const DeviceId id : ids)
        printDevice(hw, id, def && *def == id);
    const bool usable = hw.anyDeviceUsable();
    out << "\nplatform at start-up: "
        << (usable ? QStringLiteral("ALSA")
                   : QStringLiteral("simulated fallback \"%1\"").arg(kSimulatedOutputName))
        << "\n";
    out.flush();
    return 0;
}
