// Judging one phone-remote request: from the bytes collected on one connection
// to what the server does with them. Pure: no sockets, no callbacks.
//
// The target is parsed by our own strict reader of "http://x" followed by the
// target (RFC 3986 syntax): anything a URI may not hold, a "%" without two hex
// digits, an authority other than [user@]host[:port], or decoded text that is
// not UTF-8 makes the request malformed. Only the request line (the text before
// the first LF, without a CR just before it) is looked at; header bytes never
// change the verdict. A line whose LF never came is never acted on: the peer
// may have been cut off anywhere in it.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringView>

namespace ql::remote {

// The most a connection contributes to its verdict.
inline constexpr qsizetype kRequestLimit = 8192;

enum class Verdict {
    Drop,       // close without any answer
    BadRequest, // "400 Bad Request"
    TooLong,    // "414 URI Too Long": no line end within the limit
    Forbidden,  // "403 Forbidden": token missing or wrong
    Slowed,     // "429 Too Many Requests": the peer's wrong tokens came too fast
    NotFound,   // "404 Not Found"
    Page,       // "/"
    State,      // "/s"
    Command,    // "/c"
    Search,     // "/l"
};

using Query = QHash<QString, QString>;

struct RemoteRequest {
    Verdict verdict = Verdict::Drop;
    Query query; // decoded query items, the later of two equal names kept
    // The value of "c" for a command, of "q" for a search ("" when absent).
    QString argument;
};

// The verdict on `bytes` (only the first kRequestLimit count) for `token`.
// When the limit is reached before the request line ends, the line was cut:
// nothing of it is acted on (TooLong). Fewer bytes without a line end (the
// peer closed early) are dropped unanswered. Without `mayTryToken` a request
// that would have its token compared is Slowed instead: the token is not
// looked at.
RemoteRequest judgeRequest(QByteArrayView bytes, QStringView token, bool mayTryToken = true);

// Equal, in a time that depends only on the length of `given`.
bool tokenMatches(QStringView given, QStringView token);

} // namespace ql::remote
