// The stored shuffle order ("visibleTrackOrder") as it lives in the INI
// settings file.
//
// Pure unit. QSettings keeps a list of two or more numbers as text ("5, -7",
// read back as strings), a list of one as a typed variant, and an empty list
// as an invalid value; all three must come back as the ids written.
#pragma once

#include "ui/ShuffleOrder.h"

#include <QVariant>

namespace ql {

QVariant idsToSetting(const TrackIds& ids);

// The ids of a stored array of integers. Anything else (missing, a single
// value that is not a list, a list holding one element that is not a whole
// number) gives no ids.
TrackIds idsFromSetting(const QVariant& stored);

} // namespace ql
