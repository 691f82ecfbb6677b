// Cuts the library backend's output stream into lines.
//
// Chunks of the stream go in with append(); next() hands out each complete
// line, in order, without its line feed (a carriage return before the line
// feed stays: the JSON decoder takes it as white space). Bytes after the last
// line feed wait for the next chunk.
//
// The work is linear in the bytes received: a search for the line feed
// resumes where the previous one stopped, so a long line arriving in many
// small chunks is scanned once.
//
// The buffer grows by a quarter at a time, not by doubling, and a line handed
// out with take() keeps only a little room beyond its size: a 21 MB catalog
// reply would otherwise sit in 32 MB, and its array, filled again with the
// next reply of about the same size, would keep that much for good.
//
// Memory is bounded: a line that grows past `maxLine` bytes without a line
// feed is dropped as it arrives (its bytes are not kept), and when its line
// feed finally comes it is handed out once as a line that is too long, which
// the caller treats like any line that does not decode.
//
// Not thread-safe: one owner (the line reader, on its own thread).
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace ql {

struct FramedLine {
    // The line's bytes; empty for a line that was too long. Valid until the
    // next call to append() or next().
    QByteArrayView bytes;
    bool tooLong = false;
};

class LineFramer {
public:
    static constexpr qsizetype kMaxLine = qsizetype(512) * 1024 * 1024;

    explicit LineFramer(qsizetype maxLine = kMaxLine);

    void append(QByteArrayView chunk);
    // Appends up to `n` bytes that `read(into, n)` writes straight into the
    // buffer and counts (-1 for none): a pipe's bytes are copied once, not
    // into an array of their own first and then here.
    template <class Read> void appendFrom(qsizetype n, Read&& read);
    // The next complete line, or none until more data arrives.
    std::optional<FramedLine> next();
    // The line next() has just given, as an array of its own. When the line
    // is all the buffer holds (one catalog reply per poll, the usual case)
    // the buffer itself is handed over instead of copied, and the framer
    // starts a new one.
    QByteArray take(const FramedLine& line);
    // An array whose capacity the next line may fill (after a take()).
    void reuse(QByteArray spare);
    // Bytes kept for a line whose line feed has not arrived yet.
    qsizetype pendingBytes() const { return m_buf.size() - m_start; }

    // The room a line taken keeps beyond its size, for the next line to be
    // a little longer without growing the array.
    static constexpr qsizetype kSlack = qsizetype(64) * 1024;

private:
    // Room for `n` more bytes, or at least for some of them: how many.
    qsizetype room(qsizetype n);
    qsizetype m_maxLine;
    QByteArray m_buf;
    QByteArray m_reuse;
    qsizetype m_start = 0;       // first byte not yet handed out
    qsizetype m_scan = 0;        // the search for a line feed resumes here
    bool m_dropping = false;     // inside a line that outgrew m_maxLine
    bool m_tooLongEnded = false; // such a line has just ended: report it
};

template <class Read> void LineFramer::appendFrom(qsizetype n, Read&& read) {
    if (n <= 0)
        return;
    if (m_dropping) { // the bytes are scanned for the line's end, not kept
        QByteArray chunk(n, Qt::Uninitialized);
        chunk.resize(qMax<qint64>(read(chunk.data(), n), 0));
        append(chunk);
        return;
    }
    n = room(n);
    const qsizetype old = m_buf.size();
    m_buf.resize(old + n);
    m_buf.resize(old + qMax<qint64>(read(m_buf.data() + old, n), 0));
}

} // namespace ql
