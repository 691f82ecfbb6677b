// ---- playback: effective volume, hardware volume, volume keys ----
//
// Every player volume comes from effVol() (the rules are the pure unit
// VolumeRules) and reaches the player only through applyVolume(). When the
// output device has a settable hardware volume, the slider drives the device
// instead and the player stays at full scale.
//
// The volume keys are Qt key events seen by an application event filter while
// one of our windows has focus; there is no global key monitor on Linux. They
// move our slider only when the system default output device has no volume of
// its own to set (an HDMI output, say); otherwise the desktop handles them.
#include "app/App.h"

#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/VolumeKeyFilter.h"
#include "playback/VolumeKeys.h"
#include "playback/VolumeRules.h"
#include "ui/SeekSlider.h"
#include "ui/l10n/L10n.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace ql {

namespace {
constexpr platform::VolumeElement kMainElement = 0;
constexpr platform::VolumeElement kChannelElements[] = {1, 2};
} // namespace

namespace {
// Everything the volume depends on but a track's loudness.
VolumeFacts volumeFacts(const App& app) {
    VolumeFacts facts;
    facts.slider = app.views.volume->doubleValue();
    facts.hwVol = app.playback.hwVol;
    facts.bitPerfect = app.playback.bitPerfect;
    facts.maxQuality = app.playback.maxQuality;
    facts.levelingOn = app.listening.levelingOn;
    facts.sleepFactor = app.playback.sleepFactor;
    return facts;
}
} // namespace

float App::effVol(const std::optional<Track>& track) const {
    VolumeFacts facts = volumeFacts(*this);
    const std::optional<Track>& t = track ? track : playback.current;
    if (t) {
        const auto it = playback.loud.constFind(t->path);
        if (it != playback.loud.constEnd())
            facts.loudness = *it;
    }
    return effectiveVolume(facts);
}

float App::previewVol() const {
    return effectiveVolume(volumeFacts(*this));
}

void App::applyVolume() {
    applyPreviewVolume();
    if (!playback.audio)
        return;
    float v = effVol();
    // The incoming player of a crossfade rises with the fade; the outgoing
    // one is stepped by the crossfade itself.
    if (playback.fadingOut)
        v *= float(playback.fadeProgress);
    playback.audio->setVolume(v);
}

void App::volumeChanged() {
    const double slider = views.volume->doubleValue();
    UserDefaults().set(keys::kPlayerVolume, slider);
    if (playback.hwVol)
        setDeviceVolume(slider / 100.0);
    applyVolume();
    updateVolDB();
}

void App::setDeviceVolume(double v) {
    if (!std::isfinite(v))
        return;
    const auto device = outputDeviceID();
    if (!device)
        return;
    platform::AudioHardware& hw = *platform.hardware;
    // A refused write leaves that element as it was; there is nothing to tell.
    for (const platform::VolumeElement el : volumeElements(*device))
        hw.setVolume(*device, el, std::clamp(v, 0.0, 1.0));
}

void App::updateVolDB() {
    const double slider = views.volume->doubleValue();
    if (!playback.hwVol) {
        volDB->setText(volumeDbText(slider)); // the player's gain is slider / 100
        return;
    }
    // The device applies the level: show its own gain when it tells it, else
    // the sound server's cubic law for a control of bare steps.
    if (const auto device = outputDeviceID()) {
        const auto elements = volumeElements(*device);
        if (!elements.empty()) {
            if (const auto db = platform.hardware->volumeDecibels(*device, elements.front())) {
                volDB->setText(decibelText(*db));
                return;
            }
        }
    }
    volDB->setText(cubicVolumeDbText(slider));
}

bool App::needsSoftwareVolume() const {
    // The keys follow the system's default device, not our chosen one: it is
    // the device the desktop would change when it handles the keys itself.
    const platform::AudioHardware* hw = platform.hardware.get();
    if (!hw)
        return false;
    const auto device = hw->defaultOutput();
    if (!device || *device == platform::kNoDevice)
        return false;
    return volumeElements(*device).empty();
}

void App::registerVolumeKeys() {
    if (!QCoreApplication::instance() || !playback.volumeMonitors.empty())
        return;
    QPointer<App> self(this);
    playback.volumeMonitors.push_back(std::make_unique<VolumeKeyFilter>(
        [self](const QKeyEvent& event) { return self && self->handleVolumeEvent(event); }));
}

// The filter sees only keys typed into our own windows, so the application
// is active whenever one arrives: no need to ask whether it is, or whether
// something plays.
bool App::handleVolumeEvent(const QKeyEvent& event) {
    const bool down = event.type() == QEvent::KeyPress;
    if (!down && event.type() != QEvent::KeyRelease)
        return false;
    const std::optional<int> key = volumeKeyCode(event.key());
    if (!key || !needsSoftwareVolume())
        return false;
    return applyVolumeKey(*key, down, event.isAutoRepeat());
}

bool App::applyVolumeKey(int key, bool down, bool repeatKey) {
    const VolumeKeyResult r = ql::applyVolumeKey(key, down, repeatKey, views.volume->doubleValue(),
                                                 playback.volumeBeforeMute);
    if (!r.handled)
        return false;
    if (!r.pressed)
        return true;
    playback.volumeBeforeMute = r.volumeBeforeMute;
    views.volume->setDoubleValue(r.slider);
    volumeChanged();
    views.volume->setToolTip(L10n::tr(QStringLiteral("Quavelark 음량: ") +
                                      QString::number(int(views.volume->doubleValue())) +
                                      QStringLiteral("% (HDMI 키보드 조절)")));
    return true;
}

std::vector<platform::VolumeElement> App::volumeElements(platform::DeviceId device) const {
    std::vector<platform::VolumeElement> elements;
    const platform::AudioHardware* hw = platform.hardware.get();
    if (!hw)
        return elements;
    const auto settable = [&](platform::VolumeElement el) {
        return hw->hasVolume(device, el) && hw->volumeSettable(device, el);
    };
    // The main control moves every channel at once; the channels are only a
    // stand-in for a device that lacks it.
    if (settable(kMainElement))
        return {kMainElement};
    for (const platform::VolumeElement el : kChannelElements)
        if (settable(el))
            elements.push_back(el);
    return elements;
}

std::optional<double> App::deviceVolume() const {
    const auto device = outputDeviceID();
    if (!device)
        return std::nullopt;
    const platform::AudioHardware& hw = *platform.hardware;
    double sum = 0;
    int count = 0;
    for (const platform::VolumeElement el : volumeElements(*device)) {
        const std::optional<double> v = hw.volume(*device, el);
        // A reading that is not a level counts as unreadable.
        if (v && std::isfinite(*v)) {
            sum += *v;
            ++count;
        }
    }
    if (count == 0)
        return std::nullopt;
    return sum / count;
}

} // namespace ql
