// LRC text as the lyrics panel reads it, from arbitrary bytes: reading is
// deterministic and does not depend on the kind of line break; every line has
// a finite, non-negative time, the lines are in time order, and no lyric holds
// a line break or starts or ends with a space or a tab; where the lines are
// drawn never overflows, and a press on a line's first character finds that
// line.
#include "FuzzInput.h"

#include "listening/LyricsText.h"

#include <cmath>

using namespace ql;
using ql::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::vector<LyricLine> lines = parseLyrics(text);
    require(lines == parseLyrics(text));
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    require(lines == parseLyrics(unified));

    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LyricLine& l = lines[i];
        require(std::isfinite(l.t) && l.t >= 0);
        require(i == 0 || lines[i - 1].t <= l.t);
        require(!l.s.contains(u'\n') && !l.s.contains(u'\r'));
        const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
        require(l.s.isEmpty() || (!blank(l.s.front()) && !blank(l.s.back())));
    }
    const std::vector<int> starts = lyricsLineStarts(lines);
    require(starts.size() == lines.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        require(starts[i] >= 0 && (i == 0 || starts[i] > starts[i - 1]));
        // Equal starts cannot happen (each line draws at least one character
        // and a break), so the first character's line is the line itself.
        require(lineAtIndex(starts, starts[i]) == int(i));
    }
    require(activeLine(lines, -1e300) == -1);
    require(activeLine(lines, 1e300) == int(lines.size()) - 1);
    return 0;
}
