// The downloader's preview search, as values: the words the form asks for,
// the request to the iTunes Search service, the candidates read from its
// answer, and the line that names the one playing.
//
// Candidates are the results with a "previewUrl" that is an http or https
// address with a host; any other address ("file:", "data:", FFmpeg's
// "concat:" and the like) is skipped like a result without one, since the
// address is handed to a decoder that could read local files through it.
//
// Pure: no state, any thread.
#pragma once

#include <QJsonValue>
#include <QString>
#include <QUrl>

#include <optional>
#include <vector>

namespace ql {

struct PreviewItem {
    QString label; // "<artist> – <track> (<album>)"
    QUrl url;
};

// The public iTunes Search endpoint, used when no base address is set.
inline constexpr const char* kItunesBase = "https://itunes.apple.com";

// The search words: artist and value in album (1) and single-track (2)
// mode, the artist alone otherwise; both cut of white space, and the result
// of spaces and tabs, so an empty part leaves no stray space.
QString previewWords(int mode, const QString& artist, const QString& value);

// base + "/search?term=…&media=music&entity=song&limit=8", the words escaped
// byte by byte outside the unreserved set of RFC 3986 (a space is "%20").
QUrl previewRequest(const QString& base, const QString& words);

// The candidates of an answer, in its order; none for anything but an
// object with a "results" list.
std::vector<PreviewItem> previewCandidates(const std::optional<QJsonValue>& answer);

// The summary of candidate `index` (from 0) of `count`, its fixed fragments
// in the interface language around the label as it is.
QString previewSummary(int index, int count, const QString& label);

} // namespace ql
