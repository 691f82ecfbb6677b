// ---- playback: the transport bar's volume steps, repeat and device menu ----
//
// The device menu carries each device's UID in its item, not its place in the
// list: the list is rebuilt by the tick, and a pick made after it changed must
// still choose the device the user saw, or nothing when that device is gone.
#include "app/App.h"

#include "platform/Platform.h"

#include "playback/VolumeKeys.h"
#include "ui/SeekSlider.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolButton.h"
#include "ui/Theme.h"
#include "ui/l10n/L10n.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>

namespace ql {

void App::volDown() {
    views.volume->setDoubleValue(stepVolume(views.volume->doubleValue(), -kVolumeStep));
    volumeChanged();
}

void App::volUp() {
    views.volume->setDoubleValue(stepVolume(views.volume->doubleValue(), kVolumeStep));
    volumeChanged();
}

void App::toggleRepeat() {
    // The end of the track now leads elsewhere: a successor scheduled for it
    // would start on the device before the repeat's request stopped it.
    cancelPrepared();
    playback.repeatOn = !playback.repeatOn;
    repeatBtn->setContentTint(playback.repeatOn ? Theme::accent() : QColor(Qt::white));
    status->setStringValue(L10n::tr(playback.repeatOn ? QStringLiteral("🔁 현재 곡 반복")
                                                      : QStringLiteral("반복을 껐습니다.")));
}

void App::showDeviceMenu(QWidget* sender) {
    // The user is looking at the list: have it made afresh, whatever the
    // hardware's change notices said.
    if (platform.hardware)
        platform.hardware->rescan();
    refreshDevicePopup();
    auto menu = std::make_unique<QMenu>();
    // Built already translated: the translation pass does not visit pop-up
    // menus, and device names stay as the devices give them.
    const auto add = [&](const QString& title, const QVariant& uid, bool chosen) {
        QAction* item = menu->addAction(title);
        item->setData(uid);
        item->setCheckable(true);
        item->setChecked(chosen);
        connect(item, &QAction::triggered, this, [this, item] { devicePicked(*item); });
    };
    add(L10n::tr(QStringLiteral("시스템 기본 출력")), QVariant(), !playback.outputUID);
    for (const OutputDeviceEntry& e : playback.deviceList)
        add(e.name, e.uid, playback.outputUID == e.uid);
    deviceMenu = std::move(menu);
    if (sender)
        deviceMenu->popup(sender->mapToGlobal(QPoint(0, sender->height() + 4)));
}

void App::devicePicked(const QAction& item) {
    // Ask the hardware afresh: a device unplugged while the menu was open
    // must not be chosen.
    refreshDevicePopup();
    int index = 0;
    if (item.data().isValid()) {
        const QString uid = item.data().toString();
        const auto& list = playback.deviceList;
        const auto it = std::ranges::find(list, uid, &OutputDeviceEntry::uid);
        if (it == list.end())
            return;
        index = int(it - list.begin()) + 1;
    }
    devicePopup->setCurrentIndex(index);
    deviceChosen();
}

} // namespace ql
