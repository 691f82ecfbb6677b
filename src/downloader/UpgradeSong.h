// Which library track the FLAC upgrade hands to the downloader, and with
// which artist and title.
//
// Only a track whose quality label carries the upgrade mark "⬆" (the probe
// ends the label of every lossy file with it) is taken; a lossless track, one
// whose probe failed and one not probed yet (no label) are refused alike.
// A track without an artist whose title reads "artist - title" is split at
// the first " - ", nothing trimmed further.
//
// Pure: any thread.
#pragma once

#include "app/Records.h"

#include <QString>

#include <optional>

namespace ql {

struct UpgradeSong {
    QString artist, title;
};

// The song to hand over for `track` with quality label `label` (empty when
// there is none), or none when the label has no upgrade mark.
std::optional<UpgradeSong> upgradeSong(const Track& track, const QString& label);

} // namespace ql
