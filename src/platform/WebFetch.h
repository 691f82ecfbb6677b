// getJSON: the one way the program asks web services for JSON (the synced
// lyrics look-up, the downloader's preview search); getBytes: the raw body of
// an address (a cover picture), under the same rules with a scheme set of the
// caller's.
//
// One HTTP GET with the program's user agent, a time-out without data and an
// overall deadline; the completion receives the parsed top-level object or
// array, or nothing. It gets nothing for every failure alike: no connection,
// a time-out, a status other than exactly 200 (redirects are followed; what
// counts is where they end), an empty or non-JSON body, a bare JSON scalar, a
// body larger than the cap, or an address that is not http or https. No
// state, no cache, no retry.
//
// Threads: callable from any thread; returns as soon as the request is handed
// over. The requests run on one network thread of their own, and the
// completion is called there, exactly once per call, never on the main thread:
// a caller that touches interface or controller state moves there itself.
// Needs a QCoreApplication; when it is destroyed, requests still running are
// abandoned and their completions receive nothing.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace ql::platform {

// "Quavelark/1.0 (personal local music player)"
extern const char* const kUserAgent;

struct WebFetchOptions {
    // Milliseconds without any data before the transfer is given up.
    int timeoutMs = 15'000;
    // A body larger than this yields nothing (and stops the download).
    qint64 maxBodyBytes = 10 * 1024 * 1024;
    // Lower-case schemes the address, and every address a redirect leads to,
    // must have; anything else yields nothing. A redirect from https to http
    // is refused whatever the set holds.
    QStringList schemes = {QStringLiteral("http"), QStringLiteral("https")};
    // Milliseconds from the request to the end of the body, however steadily
    // data arrives: a server that drips bytes is cut off too. Every request
    // has one, so no look-up can wait for ever.
    int deadlineMs = 30'000;
};

// An object or an array; none on failure.
using JSONCompletion = std::function<void(std::optional<QJsonValue>)>;

void getJSON(const QUrl& url, JSONCompletion completion, const WebFetchOptions& options = {});

// The whole body of a 200 answer; none on failure.
using BytesCompletion = std::function<void(std::optional<QByteArray>)>;

void getBytes(const QUrl& url, BytesCompletion completion, const WebFetchOptions& options = {});

} // namespace ql::platform
