#include "remote/RemoteRequest.h"

#include <QList>
#include <QStringDecoder>

namespace ql::remote {

namespace {

bool isUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(bytes); // decoding happens here
    return !decoder.hasError();
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isSubDelim(char c) {
    return QByteArrayView("!$&'()*+,;=").contains(c);
}

// Characters of a path segment, a query or a fragment (besides "%" escapes).
bool isPathChar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '/' || c == '?';
}

// Every character may appear in a URI and every "%" starts a two-digit escape.
bool isUriText(QByteArrayView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))
                return false;
            i += 2;
        } else if (!isPathChar(c) && c != '#' && c != '[' && c != ']') {
            return false;
        }
    }
    return true;
}

bool allOf(QByteArrayView text, bool (*accept)(char)) {
    for (const char c : text)
        if (c != '%' && !accept(c))
            return false;
    return true;
}

bool isRegNameChar(char c) {
    return isUnreserved(c) || isSubDelim(c);
}
bool isUserChar(char c) {
    return isRegNameChar(c) || c == ':';
}
bool isAddressChar(char c) {
    return isHex(c) || c == ':' || c == '.';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// [user "@"] host [":" port], the host a name or a bracketed address.
bool isAuthority(QByteArrayView authority) {
    const qsizetype at = authority.indexOf('@');
    if (at >= 0) {
        if (!allOf(authority.first(at), isUserChar))
            return false;
        authority = authority.sliced(at + 1);
    }
    QByteArrayView host = authority;
    QByteArrayView port;
    if (authority.startsWith('[')) {
        const qsizetype close = authority.indexOf(']');
        if (close < 0 || !allOf(authority.sliced(1, close - 1), isAddressChar))
            return false;
        host = authority.first(close + 1);
        QByteArrayView rest = authority.sliced(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(':'))
            return false;
        port = rest.isEmpty() ? rest : rest.sliced(1);
        return allOf(port, isDigit) && !port.contains('%');
    }
    const qsizetype colon = authority.indexOf(':');
    if (colon >= 0) {
        host = authority.first(colon);
        port = authority.sliced(colon + 1);
    }
    return allOf(host, isRegNameChar) && allOf(port, isDigit) && !port.contains('%');
}

// Percent-decoded UTF-8 text, or false when the bytes are not UTF-8.
bool decode(QByteArrayView encoded, QString& out) {
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded.toByteArray());
    if (!isUtf8(bytes))
        return false;
    out = QString::fromUtf8(bytes);
    return true;
}

struct Target {
    QString path;
    Query query;
};

// The target read as the remainder of "http://x" + target; false when malformed.
bool parseTarget(QByteArrayView target, Target& out) {
    if (!isUriText(target))
        return false;
    const QByteArray url = "x" + target.toByteArray();
    const qsizetype fragmentAt = url.indexOf('#');
    const QByteArrayView beforeFragment =
        QByteArrayView(url).first(fragmentAt < 0 ? url.size() : fragmentAt);
    if (fragmentAt >= 0 && url.indexOf('#', fragmentAt + 1) >= 0)
        return false;
    const qsizetype queryAt = beforeFragment.indexOf('?');
    const QByteArrayView hierarchy = queryAt < 0 ? beforeFragment : beforeFragment.first(queryAt);
    qsizetype pathAt = hierarchy.indexOf('/');
    if (pathAt < 0)
        pathAt = hierarchy.size();
    if (!isAuthority(hierarchy.first(pathAt)))
        return false;
    const QByteArrayView rest = QByteArrayView(url).sliced(pathAt);
    if (rest.contains('[') || rest.contains(']'))
        return false;
    if (!decode(hierarchy.sliced(pathAt), out.path))
        return false;
    if (queryAt < 0)
        return true;
    const QByteArrayView query = beforeFragment.sliced(queryAt + 1);
    if (query.isEmpty())
        return true;
    for (const QByteArray& item : query.toByteArray().split('&')) {
        const qsizetype eq = item.indexOf('=');
        QString name, value;
        if (!decode(eq < 0 ? QByteArrayView(item) : QByteArrayView(item).first(eq), name))
            return false;
        if (eq >= 0 && !decode(QByteArrayView(item).sliced(eq + 1), value))
            return false;
        out.query.insert(name, value);
    }
    return true;
}

} // namespace

bool tokenMatches(QStringView given, QStringView token) {
    // No early exit: every character of `given` is looked at whatever differs.
    unsigned diff = unsigned(given.size() ^ token.size());
    const qsizetype n = token.size();
    for (qsizetype i = 0; i < given.size(); ++i) {
        const char16_t expected = n > 0 ? token[i % n].unicode() : char16_t(0);
        diff |= unsigned(given[i].unicode() ^ expected);
    }
    return diff == 0;
}

RemoteRequest judgeRequest(QByteArrayView bytes, QStringView token, bool mayTryToken) {
    RemoteRequest out;
    bytes = bytes.first(qMin(bytes.size(), kRequestLimit));
    const qsizetype end = bytes.indexOf('\n');
    if (end < 0) {
        if (bytes.size() >= kRequestLimit)
            out.verdict = Verdict::TooLong; // the cut may fall inside a character
        return out;                         // otherwise Drop: the line never ended
    }
    QByteArrayView line = bytes.first(end);
    if (line.endsWith('\r'))
        line.chop(1);
    if (!isUtf8(line))
        return out; // Drop

    QList<QByteArrayView> pieces;
    for (qsizetype from = 0; from <= line.size();) {
        qsizetype space = line.indexOf(' ', from);
        if (space < 0)
            space = line.size();
        if (space > from)
            pieces << line.sliced(from, space - from);
        from = space + 1;
    }
    out.verdict = Verdict::BadRequest;
    Target target;
    if (pieces.size() < 2 || pieces[0] != QByteArrayView("GET") || !parseTarget(pieces[1], target))
        return out;

    if (!mayTryToken) {
        out.verdict = Verdict::Slowed;
        return out;
    }
    out.query = target.query;
    const auto t = out.query.constFind(QStringLiteral("t"));
    if (t == out.query.cend() || !tokenMatches(*t, token)) {
        out.verdict = Verdict::Forbidden;
        return out;
    }
    if (target.path == u"/") {
        out.verdict = Verdict::Page;
    } else if (target.path == u"/s") {
        out.verdict = Verdict::State;
    } else if (target.path == u"/c") {
        out.verdict = Verdict::Command;
        out.argument = out.query.value(QStringLiteral("c"));
    } else if (target.path == u"/l") {
        out.verdict = Verdict::Search;
        out.argument = out.query.value(QStringLiteral("q"));
    } else {
        out.verdict = Verdict::NotFound;
    }
    return out;
}

} // namespace ql::remote
