// ---- playback: output device choice, hardware volume poll, DAC label ----
//
// Nothing here listens for device notifications: the tick polls the device
// list every 10 s and the hardware volume and DAC label every 2 s.
//
// Controls: the volume slider's dB label, the DAC label and the repeat button
// are made here (and the slider, made with the window's views, gets its
// action); the transport bar's build places them. The device pop-up is never
// placed: it is the model the device menu (AppBarActions.cpp) selects through.
//
// A chosen device is remembered by UID ("outputUID"). Choosing the system
// default also moves a playing track to the default device at once, so the
// sound goes where the user just pointed it.
//
// Without a usable sound device the program plays to the simulated output,
// which is heard nowhere: a play that seems to succeed would hide that, so
// the first track that starts says so on the status line, once a run.
#include "app/App.h"

#include "app/UserDefaults.h"
#include "platform/Platform.h"
#include "platform/audio/AudioPlayer.h"
#include "playback/RateText.h"
#include "playback/VolumeRules.h"
#include "ui/ButtonFactory.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"
#include "ui/l10n/Translator.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>

#include <algorithm>
#include <utility>

namespace ql {

void App::makeOutputControls() {
    views.volume->action = [this] { volumeChanged(); };
    volDB = new QLabel;
    dacLabel = new QLabel;
    repeatBtn =
        flatButton(QStringLiteral("repeat"), {}, {15, Qt::white, QStringLiteral("현재 곡 반복")},
                   [this] { toggleRepeat(); });
    devicePopup = new QComboBox;
    // Its items are set already translated, around device names that must
    // stay as the devices give them.
    Translator::exempt(devicePopup);
    connect(devicePopup, &QComboBox::activated, this, &App::deviceChosen);
}

void App::refreshDevicePopup() {
    std::vector<OutputDeviceEntry> list = listOutputDevices();
    // A renamed device keeps its item: only the set of UIDs matters.
    if (devicePopup->count() >= 1 &&
        std::ranges::equal(list, playback.deviceList, {}, &OutputDeviceEntry::uid,
                           &OutputDeviceEntry::uid))
        return;
    playback.deviceList = std::move(list);
    devicePopup->clear();
    devicePopup->addItem(L10n::tr(QStringLiteral("출력: 시스템 기본")));
    const QString prefix = L10n::tr(QStringLiteral("출력: "));
    int selected = 0;
    for (std::size_t i = 0; i < playback.deviceList.size(); ++i) {
        const OutputDeviceEntry& e = playback.deviceList[i];
        devicePopup->addItem(prefix + e.name);
        if (selected == 0 && playback.outputUID == e.uid)
            selected = int(i) + 1;
    }
    // An unplugged choice shows as the default; outputUID stays for its return.
    devicePopup->setCurrentIndex(selected);
}

void App::deviceChosen() {
    const int i = devicePopup->currentIndex();
    const bool isDevice = i >= 1 && std::size_t(i - 1) < playback.deviceList.size();
    const std::optional<QString> previous = playback.outputUID;
    playback.outputUID =
        isDevice ? std::optional(playback.deviceList[std::size_t(i - 1)].uid) : std::nullopt;
    const QString name = isDevice ? playback.deviceList[std::size_t(i - 1)].name
                                  : L10n::tr(QStringLiteral("시스템 기본 출력"));

    // An armed successor is scheduled on the old device's clock and would
    // play there: it goes, and the next tick arms again on the new device.
    // A file opened ahead would hold the old device until the track ends.
    cancelPrepared();

    // A device that does not open keeps the player where it plays: the
    // earlier choice stays, stored and shown, and the user is told.
    if (playback.audio && !matchOutputRate(*playback.audio)) {
        playback.outputUID = previous;
        int back = 0;
        for (std::size_t d = 0; d < playback.deviceList.size(); ++d)
            if (back == 0 && previous == playback.deviceList[d].uid)
                back = int(d) + 1;
        devicePopup->setCurrentIndex(back);
        status->setFailure(L10n::tr(QStringLiteral("출력 장치를 열 수 없습니다: ")) + name);
        return;
    }

    UserDefaults defaults;
    if (playback.outputUID)
        defaults.set(keys::kOutputUID, *playback.outputUID);
    else
        defaults.remove(keys::kOutputUID);

    if (effUpMode() > 0)
        fxChanged(); // the upsampling target depends on the device
    updateHW();
    refreshDACLabel();

    if (isDevice)
        status->setTranslated(L10n::tr(QStringLiteral("출력 장치: ")) + name);
    else
        status->setStringValue(L10n::tr(QStringLiteral("출력 장치: 시스템 기본")));
}

bool App::bindPlayer(platform::AudioPlayer& player) {
    // An empty UID is the system default. A refused move (the device left
    // just now, or it does not open) keeps the player where it plays.
    return player.setOutputDevice(playback.outputUID.value_or(QString()));
}

int App::effUpMode() const {
    if (playback.bitPerfect)
        return 0;
    if (playback.maxQuality)
        return 2;
    return playback.upMode;
}

void App::updateHW() {
    const bool was = playback.hwVol;
    const auto device = outputDeviceID();
    playback.hwVol = device && !volumeElements(*device).empty();
    const bool first = !playback.hwInit;
    playback.hwInit = true;

    const Qt::MouseButtons buttons = services.desktop->mouseButtons();
    const HardwareVolumeStep step = followHardwareVolume(
        first, was, playback.hwVol, playback.hwVol ? deviceVolume() : std::nullopt,
        views.volume->doubleValue(), buttons != Qt::NoButton);
    if (step.deviceVolume)
        setDeviceVolume(*step.deviceVolume);
    if (step.slider) {
        views.volume->setDoubleValue(*step.slider);
        updateVolDB();
    }
    if (step.reapply)
        applyVolume();
}

void App::tellSilentOutput() {
    if (!platform.noSoundDevice || std::exchange(playback.silenceTold, true))
        return;
    // A notice: once it has its turn, the start's own messages (a render's
    // note) wait for it instead of hiding it.
    status->setNotice(L10n::tr(QStringLiteral("🔇 사용할 수 있는 사운드 장치가 없어 소리 없이 "
                                              "재생합니다 (시뮬레이션 출력).")));
}

void App::refreshDACLabel() {
    const std::optional<OutputInfo> info = outputDeviceInfo();
    QString text = info ? dacText(info->bits, info->rate, info->channels) : QString();
    if (!text.isEmpty()) {
        if (fxSignature())
            text += L10n::tr(QStringLiteral("  🎛 FX 켜짐"));
        // A format read from the simulated device must never pass for hardware.
        if (platform.isSimulated)
            text += L10n::tr(QStringLiteral("  (시뮬레이션 출력)"));
    }
    dacLabel->setText(text);
}

} // namespace ql
