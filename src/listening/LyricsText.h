// Timed (LRC) lyrics as the lyrics panel reads, follows and draws them.
//
// parseLyrics: every line of the text that carries time tags "[m:ss]" or
// "[m:ss.xx]" (minutes and seconds in decimal digits, minutes without an
// upper bound) gives one timed line per tag, all with the text after the
// line's last tag, spaces and tabs trimmed; text between two tags of a line
// is dropped. Lines without a tag (metadata such as "[ar:Name]", untimed
// text) are dropped. Line breaks are "\n", "\r\n" and a lone "\r". A tag
// whose digits do not read as a finite number (other scripts' digits, a
// minute count too long for a double) is skipped on its own. The result is
// sorted by time; equal times keep their order in the text. The drawn text
// is bounded: once the lines would draw about 4 million characters, further
// tags are skipped. Never fails: text without a readable tag gives no lines.
//
// activeLine: the index of the line being sung at a playback position: the
// last line whose time is at most the position plus kLyricsLead, walking
// from the start and stopping at the first later line; -1 before the first
// line (and for a position that is not a number).
//
// Drawing: each line shows its text, or "♪" when it is empty, followed by a
// line break; lyricsLineStarts gives where each line begins in the drawn
// text, in UTF-16 units, and lineAtIndex the line a character index falls
// in: the last line starting at or before it, 0 when there is none, -1 when
// there are no lines.
//
// Pure; any thread.
#pragma once

#include <QString>

#include <vector>

namespace ql {

struct LyricLine {
    double t = 0; // seconds from the start of the track, finite and >= 0
    QString s;    // the lyric, possibly empty
    bool operator==(const LyricLine&) const = default;
};

// A line lights up this long before its time stamp.
inline constexpr double kLyricsLead = 0.15;

std::vector<LyricLine> parseLyrics(const QString& lrc);

int activeLine(const std::vector<LyricLine>& lines, double position);

// The text a line is drawn with (without its line break).
QString lyricsDisplayText(const LyricLine& line);
std::vector<int> lyricsLineStarts(const std::vector<LyricLine>& lines);
int lineAtIndex(const std::vector<int>& lineStarts, int index);

} // namespace ql
