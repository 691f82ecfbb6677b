// ---- playback: exclusive use of the output device ----
//
// setHog takes or gives back the device playback is bound to, "me" being this
// process. Without a device passed or held it addresses outputDeviceID() (the
// chosen device, else the system default), so a success message never names a
// device other than the one we play on. On the shared "default" device the
// claim is refused by the hardware layer: silently, as any refused write.
#include "app/App.h"

#include "platform/Platform.h"
#include "ui/StatusLabel.h"
#include "ui/l10n/L10n.h"

#include <QCoreApplication>

#include <algorithm>

namespace ql {

void App::setHog(bool on, std::optional<platform::DeviceId> device) {
    platform::AudioHardware* hw = platform.hardware.get();
    if (!hw)
        return;
    // A held device that has gone away is forgotten: its id would otherwise be
    // addressed until it comes back.
    if (playback.hogDevice) {
        const auto all = hw->devices();
        if (all && std::find(all->begin(), all->end(), *playback.hogDevice) == all->end())
            playback.hogDevice.reset();
    }
    const std::optional<platform::DeviceId> id = device               ? device
                                                 : playback.hogDevice ? playback.hogDevice
                                                                      : outputDeviceID();
    if (!id || *id == platform::kNoDevice)
        return;
    const std::optional<int> owner = hw->exclusiveOwner(*id);
    if (!owner)
        return;
    const int me = int(QCoreApplication::applicationPid());

    if (!on) {
        if (*owner == me)
            hw->setExclusiveOwner(*id, platform::kNoOwner);
        playback.hogDevice.reset();
        return;
    }
    if (*owner == me) {
        playback.hogDevice = *id;
    } else if (*owner == platform::kNoOwner) {
        if (!hw->setExclusiveOwner(*id, me))
            return;
        playback.hogDevice = *id;
        status->setStringValue(L10n::tr(QStringLiteral(
            "🔒 독점 모드: 재생 중 이 앱만 출력 장치를 씁니다 (일시정지하면 풀려요)")));
    } else {
        status->setStringValue(L10n::tr(
            QStringLiteral("다른 앱이 출력 장치를 독점 중이라 독점 모드를 쓸 수 없습니다.")));
    }
}

} // namespace ql
