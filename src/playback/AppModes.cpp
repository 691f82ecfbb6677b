// ---- playback: the mode switches, the upsampling pop-up, the lock ----
//
// One handler reads every mode box at once. Maximum quality and bit-perfect
// exclude each other: whichever was just ticked unticks the other, maximum
// quality first. The handler stores the modes, lets the prepared next player
// go, brings the dependent controls, the volume and the effects bypass into
// line, and renders the current track again when the render's identity may
// have changed (an effect chain, or a change of either exclusive mode).
//
// Exclusive use of the device is never taken here: `hogOn` is cleared by
// every call and the device is only given back. The lock button flips
// bit-perfect through the same handler; its icon follows on the tick.
//
// The boxes and the pop-up are made empty with App (makePlaybackControls);
// the tools panel gives them their titles and items and places them.
#include "app/App.h"

#include "app/UserDefaults.h"
#include "effects/FXPanel.h"
#include "listening/PanelChoices.h"
#include "platform/audio/AudioPlayer.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include <QCheckBox>
#include <QComboBox>

#include <algorithm>

namespace ql {

namespace {

constexpr int kNormalSpeedIndex = 3; // 1.0x in the speed list
constexpr double kLockIconSize = 17;

const char* const kBitPerfectOff = "비트퍼펙트를 껐습니다.";
const char* const kBitPerfectOn =
    "💎 비트퍼펙트: 앱 음량·균일화·크로스페이드·속도를 끄고 출력 샘플레이트를 곡에 "
    "맞춥니다. 음량은 시스템 음량으로 조절하세요(HDMI 출력은 음량 조절이 안 될 수 "
    "있어요).";

} // namespace

void App::upChanged() {
    playback.upMode = std::max(0, upPopup->currentIndex());
    UserDefaults().set(keys::kUpMode, playback.upMode);
    fxChanged();
}

void App::playbackModeToggled() {
    PlaybackState& p = playback;
    const bool wasMax = p.maxQuality;
    const bool wasBit = p.bitPerfect;
    if (maxBox->isChecked() && !wasMax)
        bitBox->setChecked(false);
    else if (bitBox->isChecked() && !wasBit)
        maxBox->setChecked(false);

    UserDefaults defaults;
    p.maxQuality = maxBox->isChecked();
    defaults.set(keys::kMaxQuality, p.maxQuality);
    p.gaplessOn = gaplessBox->isChecked();
    p.bitPerfect = bitBox->isChecked();
    p.hogOn = false;
    p.rateMatchOn = rateBox->isChecked();
    defaults.set(keys::kRateMatch, p.rateMatchOn);
    defaults.set(keys::kGapless, p.gaplessOn);
    defaults.set(keys::kBitPerfect, p.bitPerfect);

    cancelPrepared();
    applyBitState();
    setHog(false, std::nullopt);

    if (!p.bitPerfect) {
        status->setStringValue(L10n::tr(QString::fromUtf8(kBitPerfectOff)));
    } else {
        status->setStringValue(L10n::tr(QString::fromUtf8(kBitPerfectOn)));
        if (p.audio) {
            p.audio->setRate(1.0f);
            matchOutputRate(*p.audio);
        }
    }
    applyVolume();

    if (fxPanel->chain() || p.maxQuality != wasMax || p.bitPerfect != wasBit)
        fxChanged();
}

void App::applyBitState() {
    const PlaybackState& p = playback;
    fxPanel->bypass = p.maxQuality || p.bitPerfect;
    updateHW();

    if (views.volume)
        views.volume->setEnabled(!p.bitPerfect || p.hwVol);
    ratePopup->setEnabled(!p.bitPerfect);
    const bool shaping = !p.bitPerfect && !p.maxQuality;
    crossfadeBox->setEnabled(shaping);
    levelingBox->setEnabled(shaping);
    upPopup->setEnabled(shaping);
    upPopup->setCurrentIndex(upsamplingIndex(p.maxQuality, p.upMode));

    if (p.bitPerfect) {
        playback.playRate = 1.0; // the stored speed stays for when the mode ends
        ratePopup->setCurrentIndex(kNormalSpeedIndex);
    }
}

void App::toggleBitFromLock() {
    bitBox->setChecked(!bitBox->isChecked());
    playbackModeToggled();
}

void App::updateLockIcon() {
    if (!views.lockBtn)
        return;
    const bool on = playback.bitPerfect;
    views.lockBtn->setImage(sym(on ? QStringLiteral("lock.fill") : QStringLiteral("lock.open"),
                                kLockIconSize, SymbolWeight::Regular));
    views.lockBtn->setContentTint(on ? Theme::accent() : Theme::sub());
}

} // namespace ql
