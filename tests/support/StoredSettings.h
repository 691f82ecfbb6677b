// Guards against: (fixture) a test that starts from another test's settings.
// Settings written before a launch, and an empty start for each test.
// Header only; link ql_app.
#pragma once

#include "app/UserDefaults.h"

#include <QVariant>

namespace ql::test {

// Removes every stored setting.
inline void clearSettings() {
    UserDefaults d;
    d.clear();
    d.sync();
}

// Stores a setting; an invalid value leaves it as it was.
inline void storeSetting(const char* key, const QVariant& value) {
    if (!value.isValid())
        return;
    UserDefaults d;
    d.set(key, value);
    d.sync();
}

// Maximum quality off from the launch on, so that tracks take the direct road
// (the one-time effects reset counts as done: it would turn it back on).
inline void storeMaxQualityOff() {
    storeSetting(keys::kFxResetV1, true);
    storeSetting(keys::kMaxQuality, false);
}

} // namespace ql::test
