// The values a phone sends and gets back: command parameters read whole, the
// volume a "vol" command sets, and the search answer. Pure.
//
// Parameters come from the network and are read strictly, the way the
// standard decimal parsers read a whole text: an optional sign, no white
// space before or after, nothing left over ("+7" is 7; " 5", "5 " and "12abc"
// are not numbers). A number may also be "nan" or "inf" (either case, signed);
// an id is a decimal integer only.
#pragma once

#include "app/Records.h"

#include <QStringView>
#include <QVariantList>

#include <cstddef>
#include <optional>
#include <vector>

namespace ql::remote {

// At most this many tracks answer one search.
inline constexpr std::size_t kSearchLimit = 40;

std::optional<double> parseWholeNumber(QStringView text);
std::optional<qint64> parseWholeInteger(QStringView text);

// The volume slider's value (0 … 100) for a requested value: below 0 gives 0,
// above 100 gives 100, not-a-number gives 100.
double remoteVolume(double requested);

// {"id", "title", "artist"} of the rows at the first kSearchLimit of
// `matched` (indices into `rows`, in catalog order).
QVariantList searchResults(const std::vector<Track>& rows, const std::vector<std::size_t>& matched);

} // namespace ql::remote
