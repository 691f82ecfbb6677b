#include "listening/LyricsText.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <optional>

namespace ql {

namespace {

// A tag repeated in front of one long lyric multiplies that lyric once per
// tag; past this many drawn characters further tags are skipped, so a hostile
// file or answer cannot make the panel build a text of terabytes. Real
// lyrics stay far below it (a 10,000-line file draws about 400,000).
constexpr qsizetype kMaxDrawnChars = qsizetype(1) << 22;

QStringView trimSpacesAndTabs(QStringView text) {
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype from = 0, to = text.size();
    while (from < to && blank(text[from]))
        ++from;
    while (to > from && blank(text[to - 1]))
        --to;
    return text.sliced(from, to - from);
}

// Minutes and seconds of one tag, or none when either does not read as a
// decimal number or the sum is not finite.
std::optional<double> tagTime(QStringView minutes, QStringView seconds) {
    bool minutesOk = false, secondsOk = false;
    const double m = minutes.toDouble(&minutesOk);
    const double s = seconds.toDouble(&secondsOk);
    if (!minutesOk || !secondsOk)
        return std::nullopt;
    const double t = m * 60 + s;
    if (!std::isfinite(t))
        return std::nullopt;
    return t;
}

struct LineReader {
    const QRegularExpression& tag;
    std::vector<LyricLine>& lines;
    qsizetype drawn = 0;

    void read(QStringView line) {
        if (!line.contains(u'['))
            return;
        struct Tag {
            QStringView minutes, seconds;
        };
        std::vector<Tag> tags;
        qsizetype lastEnd = -1;
        QRegularExpressionMatchIterator it = tag.globalMatch(line);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            tags.push_back({m.capturedView(1), m.capturedView(2)});
            lastEnd = m.capturedEnd();
        }
        if (tags.empty())
            return;
        const QString text = trimSpacesAndTabs(line.sliced(lastEnd)).toString();
        const qsizetype cost = std::max<qsizetype>(text.size(), 1) + 1;
        for (const Tag& t : tags) {
            const std::optional<double> time = tagTime(t.minutes, t.seconds);
            if (!time || drawn + cost > kMaxDrawnChars)
                continue;
            drawn += cost;
            lines.push_back({*time, text});
        }
    }
};

} // namespace

std::vector<LyricLine> parseLyrics(const QString& lrc) {
    // Digits in the Unicode sense, as the rest of the program matches; a
    // digit of another script matches here but does not read as a number.
    static const QRegularExpression tag(QStringLiteral(R"(\[(\d+):(\d+(?:\.\d+)?)\])"),
                                        QRegularExpression::UseUnicodePropertiesOption);
    std::vector<LyricLine> lines;
    if (!tag.isValid())
        return lines;
    LineReader reader{tag, lines};
    const QStringView text(lrc);
    qsizetype start = 0;
    for (;;) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        reader.read(text.sliced(start, end - start));
        if (end >= text.size())
            break;
        const bool crlf = text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n';
        start = end + (crlf ? 2 : 1);
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const LyricLine& a, const LyricLine& b) { return a.t < b.t; });
    return lines;
}

int activeLine(const std::vector<LyricLine>& lines, double position) {
    const double target = position + kLyricsLead;
    int candidate = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!(lines[i].t <= target))
            break;
        candidate = int(i);
    }
    return candidate;
}

QString lyricsDisplayText(const LyricLine& line) {
    return line.s.isEmpty() ? QStringLiteral("♪") : line.s;
}

std::vector<int> lyricsLineStarts(const std::vector<LyricLine>& lines) {
    std::vector<int> starts;
    starts.reserve(lines.size());
    int at = 0;
    for (const LyricLine& line : lines) {
        starts.push_back(at);
        at += int(lyricsDisplayText(line).size()) + 1;
    }
    return starts;
}

int lineAtIndex(const std::vector<int>& lineStarts, int index) {
    if (lineStarts.empty())
        return -1;
    const auto after = std::upper_bound(lineStarts.begin(), lineStarts.end(), index);
    return after == lineStarts.begin() ? 0 : int(after - lineStarts.begin()) - 1;
}

} // namespace ql
