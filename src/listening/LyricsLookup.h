// The pure parts of finding a track's lyrics: where the sidecar file is, what
// is asked of the synced-lyrics web service, and what of its answers is kept.
//
// The service (LRCLIB's interface) is asked at most twice per track:
//   GET <base>/api/get?artist_name=…&track_name=…&album_name=…&duration=…
//     answer: one object with "syncedLyrics" and "plainLyrics" (strings);
//   GET <base>/api/search?q=<artist> <clean title>
//     answer: an array of such objects, each also with "duration" (seconds).
// Query values are UTF-8, every byte outside RFC 3986's unreserved set
// percent-encoded (a space is "%20", "+" is "%2B", "&" is "%26"). Members of
// another type than these count as missing; everything else is ignored.
//
// Answers are untrusted: any JSON value may arrive, and none makes these
// functions fail; what cannot be used gives nothing.
//
// Pure; any thread (the look-up runs on the network thread).
#pragma once

#include "listening/LyricsData.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUrl>

#include <optional>

namespace ql {

// The public service, used when the setting names none.
inline constexpr const char* kDefaultLyricsService = "https://lrclib.net";

// The service's base address: the stored setting when it is a non-empty
// text, else the public service.
QUrl lyricsServiceBase(const std::optional<QString>& stored);

// What the service is asked about. With an empty artist, a title holding
// " - " is split at its first occurrence (artist before, title after; nothing
// trimmed); a non-empty artist keeps the title whole. The clean title drops
// everything from the first "(" or "[" on, with the white space before it.
struct LyricsQuery {
    QString artist;
    QString title; // the clean title
};
LyricsQuery lyricsQuery(const QString& artist, const QString& title);

// The track's length in whole seconds, truncated toward zero, in decimal;
// "0" for a length that is negative or not a number, and lengths beyond the
// 64-bit range counted as its end.
QString durationText(double seconds);

// The two requests.
QUrl lyricsGetAddress(const QUrl& base, const LyricsQuery& query, const QString& album,
                      double duration);
QUrl lyricsSearchAddress(const QUrl& base, const LyricsQuery& query);

// The lyrics of one answer object: "syncedLyrics" and "plainLyrics" when they
// are strings; nothing when both are empty.
std::optional<LyricsData> pickLyrics(const QJsonObject& answer);

// The first answer, kept only when it holds timed lyrics.
std::optional<LyricsData> syncedAnswer(const std::optional<QJsonValue>& answer);

// The search answer's choice: among results with timed lyrics the one whose
// "duration" lies nearest the track's (a missing or non-numeric one counts as
// 0, and so does a track length that is not a number; the first wins a tie);
// with none, the first result. The answer must be an array of objects,
// anything else holds no result. Nothing when there is no result or the
// chosen one carries no lyrics.
std::optional<LyricsData> chooseSearchResult(const std::optional<QJsonValue>& answer,
                                             double duration);

// The sidecar file of an audio file: its last extension replaced by "lrc"
// ("/Music/Song.flac" gives "/Music/Song.lrc"); a name without an extension
// (a dot in a folder's name, or only a leading one, is none) gets ".lrc".
QString sidecarPath(const QString& audioPath);

} // namespace ql
