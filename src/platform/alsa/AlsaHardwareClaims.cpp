// AlsaHardware: exclusive use of `hw:` devices, card reservations, and the
// stream our engine opens.
#include "platform/alsa/AlsaHardware.h"

#include "platform/LogCategories.h"
#include "platform/alsa/AlsaUid.h"
#include "platform/alsa/CardReserver.h"
#include "platform/alsa/PcmHolders.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace ql::platform::alsa {

// ---- exclusive use -----------------------------------------------------------

bool AlsaHardware::heldByUs(const Entry& e) const {
    return e.hold != 0 || e.openChannels > 0 ||
           pidHolds(m_procRoot, m_selfPid, pcmPlaybackNode(e.card, e.device));
}

std::optional<int> AlsaHardware::exclusiveOwner(DeviceId id) const {
    refresh();
    const Entry* e = find(id);
    if (!e)
        return std::nullopt;
    if (e->isDefault)
        return kNoOwner;
    if (heldByUs(*e))
        return m_selfPid;
    const auto holders = pcmHolders(m_procRoot, pcmPlaybackNode(e->card, e->device));
    for (const int pid : holders)
        if (pid != m_selfPid)
            return pid;
    // Nobody we can see: open it for a moment to learn whether it is busy.
    const auto test = m_api->hold(e->uid);
    if (test.value) {
        m_api->release(*test.value);
        return kNoOwner;
    }
    if (test.error == -EBUSY)
        return kUnknownOwner;
    return std::nullopt;
}

bool AlsaHardware::setExclusiveOwner(DeviceId id, int pid) {
    refresh();
    Entry* e = find(id);
    if (!e || e->isDefault)
        return false;

    if (pid == kNoOwner) {
        if (e->hold == 0 && !e->reserved && e->openChannels == 0) {
            // Not ours: only its holder can let it go.
            const auto holders = pcmHolders(m_procRoot, pcmPlaybackNode(e->card, e->device));
            return std::none_of(holders.begin(), holders.end(),
                                [this](int p) { return p != m_selfPid; });
        }
        // Our engine's stream holds the card: a give-back (a pause) never
        // closes it; only a sound server's request does, and only when idle.
        if (e->openChannels > 0)
            return false;
        dropHold(*e);
        return true;
    }

    if (pid != m_selfPid)
        return false;
    if (e->hold != 0 || e->openChannels > 0)
        return true;

    bool reservedNow = false;
    if (!reserveCard(*e, reservedNow))
        return false;
    const auto opened = openHeld(*e, reservedNow);
    if (!opened.value) {
        if (reservedNow)
            dropHold(*e);
        return false;
    }
    e->hold = *opened.value;
    // Its holder let it go: a probe that found it busy says nothing now.
    e->probeFailedAt.reset();
    return true;
}

bool AlsaHardware::reserveCard(Entry& e, bool& now) {
    now = false;
    if (!m_reserver || e.reserved || e.isDefault)
        return true;
    switch (m_reserver->reserve(e.card, e.name)) {
    case CardReserver::Outcome::Refused:
        return false;
    case CardReserver::Outcome::Acquired:
        e.reserved = true;
        now = true;
        return true;
    case CardReserver::Outcome::Unavailable:
        return true;
    }
    return true;
}

AlsaResult<PcmHold> AlsaHardware::openHeld(Entry& e, bool patient) {
    auto opened = m_api->hold(e.uid);
    // A server that has just agreed to let go may still be closing the card:
    // give it a few short moments, never an open that waits.
    for (int i = 0; patient && !opened.value && opened.error == -EBUSY && i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        opened = m_api->hold(e.uid);
    }
    return opened;
}

bool AlsaHardware::prepareStream(DeviceId id) {
    refresh();
    Entry* e = find(id);
    if (!e)
        return false;
    if (e->isDefault)
        return true;
    if (e->hold != 0) {
        // Our claim keeps the card reserved; the stream opens in its place.
        m_api->release(e->hold);
        e->hold = 0;
    }
    bool reservedNow = false;
    if (!reserveCard(*e, reservedNow))
        return false;
    // The probe is an open: a server that has just let go may need a moment.
    // Our stream is about to open the device, so an earlier failed probe
    // (from while another program held it) does not stand in for this one.
    const PcmCaps* caps = capsOf(*e, true);
    for (int i = 0; !caps && reservedNow && i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        caps = capsOf(*e, true);
    }
    if (!caps) {
        if (reservedNow)
            dropHold(*e);
        return false;
    }
    return true;
}

void AlsaHardware::endStream(DeviceId id) {
    Entry* e = find(id);
    if (e && e->hold == 0 && e->openChannels == 0)
        dropHold(*e);
}

void AlsaHardware::dropHold(Entry& e) {
    if (e.hold != 0) {
        m_api->release(e.hold);
        e.hold = 0;
    }
    if (!e.reserved)
        return;
    e.reserved = false;
    // The reservation is the card's; other devices of the card may still use it.
    const bool stillUsed = std::any_of(m_entries.begin(), m_entries.end(), [&e](const Entry& o) {
        return &o != &e && o.present && o.card == e.card && o.reserved;
    });
    if (!stillUsed && m_reserver)
        m_reserver->release(e.card);
}

bool AlsaHardware::releaseForOther(int card) {
    for (Entry& e : m_entries) {
        if (!e.present || e.card != card)
            continue;
        // A stream that plays keeps the card; an idle or paused one is closed.
        if (e.openChannels > 0 && (!onReleaseStream || !onReleaseStream(e.id))) {
            qCDebug(lcAlsa, "card %d kept from its sound server: a stream plays on it", card);
            return false;
        }
    }
    qCDebug(lcAlsa, "card %d given back to its sound server", card);
    for (Entry& e : m_entries) {
        if (!e.present || e.card != card)
            continue;
        if (e.hold != 0) {
            m_api->release(e.hold);
            e.hold = 0;
        }
    }
    return true;
}

void AlsaHardware::cardLost(int card) {
    for (Entry& e : m_entries) {
        if (!e.present || e.card != card)
            continue;
        e.reserved = false; // the name is gone already: nothing to give back
        if (e.openChannels > 0 && onReleaseStream)
            onReleaseStream(e.id);
        if (e.hold != 0) {
            m_api->release(e.hold);
            e.hold = 0;
        }
    }
}

bool AlsaHardware::anyDeviceUsable() {
    if (m_defaultOpens)
        return true;
    refresh();
    for (Entry& e : m_entries) {
        if (!e.present || e.isDefault)
            continue;
        if (e.hold != 0 || e.openChannels > 0)
            return true;
        const auto result = m_api->probe(e.uid, probeRates());
        if (result.value && !result.value->formats.empty()) {
            e.caps = result.value;
            return true;
        }
        // Busy: a real card another program plays through, which can be claimed.
        if (result.error == -EBUSY)
            return true;
    }
    return false;
}

PcmHold AlsaHardware::heldPcm(DeviceId id) const {
    const Entry* e = find(id);
    return e ? e->hold : 0;
}

void AlsaHardware::noteStreamOpened(DeviceId id, double rate, PcmFormat format, int channels) {
    Entry* e = find(id);
    if (!e)
        return;
    e->rate = rate;
    e->format = format;
    e->openChannels = std::max(1, channels);
}

void AlsaHardware::noteStreamClosed(DeviceId id) {
    if (Entry* e = find(id))
        e->openChannels = 0;
}

} // namespace ql::platform::alsa
