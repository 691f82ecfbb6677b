// ffprobe's report as the player reads it, from arbitrary bytes: the facts
// are never negative or non-finite, reading is deterministic, and the format
// line is either empty or names a positive rate.
#include "FuzzInput.h"

#include "analysis/StreamFacts.h"

#include <cmath>

using namespace ql;
using ql::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray report(reinterpret_cast<const char*>(data), qsizetype(size));
    const StreamFacts facts = parseStreamFacts(report);
    require(facts == parseStreamFacts(report));
    require(std::isfinite(facts.rate) && facts.rate >= 0);
    require(std::isfinite(facts.duration) && facts.duration >= 0);
    require(facts.bits >= 0 && facts.channels >= 0);
    const QString line = formatLine(facts);
    require(line.isEmpty() == !(facts.rate > 0));
    require(!line.contains(QLatin1String("nan")) && !line.contains(QLatin1String("inf")));
    return 0;
}
