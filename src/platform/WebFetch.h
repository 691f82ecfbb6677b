// getJSON: the one way the program asks web services for JSON (the synced
// lyrics look-up, the downloader's preview search).
//
// One HTTP GET with the program's user agent and a transfer time-out; the
// completion receives the parsed top-level object or array, or nothing. It
// gets nothing for every failure alike: no connection, a time-out, a status
// other than exactly 200 (redirects are followed; what counts is where they
// end), an empty or non-JSON body, a bare JSON scalar, a body larger than the
// cap, or an address that is not http or https. No state, no cache, no retry.
//
// Threads: callable from any thread; returns as soon as the request is handed
// over. The requests run on one network thread of their own, and the
// completion is called there, exactly once per call, never on the main thread:
// a caller that touches interface or controller state moves there itself.
// Needs a QCoreApplication; when it is destroyed, requests still running are
// abandoned and their completions receive nothing.
#pragma once

#include <QJsonValue>
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
};

// An object or an array; none on failure.
using JSONCompletion = std::function<void(std::optional<QJsonValue>)>;

void getJSON(const QUrl& url, JSONCompletion completion, const WebFetchOptions& options = {});

} // namespace ql::platform
