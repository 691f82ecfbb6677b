// Guards against: (fixture) a desk unlike the machines the backend meets.
// A desktop for the ALSA backend's tests: onboard card 0 (analog and HDMI), a
// USB DAC as card 1 and the shared "default" on the fake alsa-lib, a fake
// /proc, and a fake card reserver. Header only.
#pragma once

#include "platform/alsa/AlsaHardware.h"
#include "platform/alsa/AlsaUid.h"
#include "platform/alsa/CardReserver.h"

#include "FakeAlsa.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <set>

namespace ql::test {

using namespace ql::platform;
using namespace ql::platform::alsa;

inline constexpr int kSelf = 4242;
inline const QString kAnalog = QStringLiteral("hw:CARD=PCH,DEV=0");
inline const QString kHdmi = QStringLiteral("hw:CARD=PCH,DEV=3");
inline const QString kDac = QStringLiteral("hw:CARD=DAC,DEV=0");

class FakeReserver final : public CardReserver {
public:
    Outcome answer = Outcome::Unavailable;
    std::vector<int> asked;
    std::set<int> held;
    std::vector<int> released;
    Outcome reserve(int card, const QString&) override {
        asked.push_back(card);
        if (answer == Outcome::Acquired)
            held.insert(card);
        return answer;
    }
    void release(int card) override {
        held.erase(card);
        released.push_back(card);
    }
};

// A desktop: onboard card 0 (analog, two to eight channels, and HDMI), a USB
// DAC as card 1, and the shared "default".
inline std::shared_ptr<FakeAlsaState> desk() {
    using namespace ql::test;
    auto s = std::make_shared<FakeAlsaState>();
    s->defaultOpens = true;
    FakeCard pch;
    pch.info = {0, "PCH", "HDA Intel PCH"};
    pch.pcms.push_back(
        pcm(0, 0, "ALC892 Analog",
            capsOf({PcmFormat::S16_LE, PcmFormat::S32_LE}, {44100, 48000, 96000, 192000}, 2, 8)));
    pch.pcms.push_back(pcm(0, 3, "HDMI 0", capsOf({PcmFormat::S16_LE}, {44100, 48000})));
    pch.mixer.push_back(mutedControl("Master", 87, -6525, 0));
    pch.mixer.push_back(stereoControl("PCM", 255, -5100, 0));
    s->cards.push_back(pch);
    FakeCard dac;
    dac.info = {1, "DAC", "USB Audio DAC"};
    // 24-bit in three bytes only up to 96 kHz, 32-bit everywhere.
    PcmCaps caps = capsOf({PcmFormat::S16_LE, PcmFormat::S32_LE},
                          {44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000});
    caps.formats.push_back({PcmFormat::S24_3LE, {44100, 48000, 88200, 96000}});
    dac.pcms.push_back(pcm(1, 0, "USB Audio", caps));
    // A control without dB information, 32 coarse steps.
    dac.mixer.push_back(stereoControl("PCM", 31, std::nullopt, std::nullopt));
    s->cards.push_back(dac);
    // The sound server's control: raw only.
    s->defaultMixer.push_back(stereoControl("Master", 65536, std::nullopt, std::nullopt));
    return s;
}

struct Rig {
    std::shared_ptr<FakeAlsaState> s;
    QTemporaryDir proc;
    FakeReserver* reserver = nullptr;
    std::unique_ptr<AlsaHardware> hw;
    // The backend's clock; moved by hand.
    std::chrono::steady_clock::time_point now =
        std::chrono::steady_clock::time_point() + std::chrono::hours(1);

    explicit Rig(std::shared_ptr<FakeAlsaState> state = desk(), bool withReserver = false)
        : s(std::move(state)) {
        AlsaHardware::Options o;
        o.procRoot = proc.path();
        o.selfPid = kSelf;
        o.clock = [this] { return now; };
        if (withReserver) {
            auto r = std::make_unique<FakeReserver>();
            reserver = r.get();
            o.reserver = std::move(r);
        }
        hw = std::make_unique<AlsaHardware>(std::make_unique<FakeAlsa>(s), std::move(o));
    }
    DeviceId id(const QString& uid) const { return hw->deviceForUid(uid).value_or(kNoDevice); }
    StreamId stream(const QString& uid) const {
        const auto s = hw->outputStreams(id(uid));
        return s && !s->empty() ? s->front() : 0;
    }
    // Process `pid` has the device node of card/device open.
    void holdNode(int pid, int card, int device) {
        const QString dir = QStringLiteral("%1/fd").arg(pid);
        QDir(proc.path()).mkpath(dir);
        QFile::link(pcmPlaybackNode(card, device),
                    proc.filePath(dir + QStringLiteral("/%1").arg(20 + device)));
    }
    ql::test::FakeControl& control(const QString& card, const QString& name) {
        for (auto& c : s->card(card)->mixer)
            if (c.element.name == name)
                return c;
        qFatal("no control");
    }
};

} // namespace ql::test
