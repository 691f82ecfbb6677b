// The lyrics of one track, as the web service delivered them or as a sidecar
// file holds them: `synced` is LRC text (lines with time tags), `plain`
// untimed text; either may be empty.
//
// Stored form (the lyrics cache, one file per track): a JSON object with the
// two string members "synced" and "plain". Reading needs both, as strings;
// other members are ignored. JsonCodec<LyricsData> reads and writes it.
#pragma once

#include <QString>

namespace ql {

struct LyricsData {
    QString synced;
    QString plain;
    bool operator==(const LyricsData&) const = default;
};

} // namespace ql
