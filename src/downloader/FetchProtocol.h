// The download script's output protocol, apart from any window or process.
//
// FetchOutput turns the script's output bytes into lines: the bytes are one
// UTF-8 stream, so a character cut between two reads is joined again (only
// bytes that are not UTF-8 become U+FFFD). A line ends at a line feed; a line
// that grows past kMaxLine bytes without one is handed out as it stands, so a
// script printing without line feeds cannot grow the buffer without limit.
//
// classifyLine() reads one line by the protocol (saved file, error, skip,
// summary, progress); FetchRun keeps the run's counters and composes the
// outcome text; FetchLog keeps the bounded run log.
//
// Pure: no widgets, no process. Main thread only (one owner).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

namespace ql {

class FetchOutput {
public:
    static constexpr qsizetype kMaxLine = qsizetype(1024) * 1024;

    // Adds a chunk of output; returns the lines it completes, in order.
    QStringList consume(QByteArrayView bytes);
    // The text after the last line feed (end of output), then empty.
    QString takeRest();
    bool hasRest() const { return !m_pending.isEmpty(); }

private:
    QStringDecoder m_decoder{QStringDecoder::Utf8};
    QByteArray m_pending; // bytes after the last line feed
};

enum class FetchLineKind { Ignored, Saved, Error, Skipped, Summary, Progress };

struct FetchLine {
    FetchLineKind kind = FetchLineKind::Ignored;
    QString text; // the line cut of spaces and tabs at both ends
    QString path; // a saved file's path (one trailing CR removed)
    QString log;  // what the log shows; empty for an ignored line
};

FetchLine classifyLine(const QString& line);

// The counters of one run and its outcome.
struct FetchRun {
    int saved = 0;
    bool stopRequested = false;
    bool sawError = false;

    // "저장 N곡 · 목록에 추가 중" after a saved file.
    QString savedSummary() const;
    // The summary at the end, by the exit status (exit code or signal).
    QString outcome(int status) const;
};

// The run log, bounded: past kMaxChars user-perceived characters its first
// kCut UTF-16 units go at once (the cut moves forward one unit rather than
// split a surrogate pair). The count is kept as lines come and go, so each
// append costs the length of its own line.
class FetchLog {
public:
    static constexpr qsizetype kMaxChars = 120'000;
    static constexpr qsizetype kCut = 40'000;

    // Adds the line and its line feed; returns the UTF-16 units removed from
    // the start (0 when nothing was cut).
    qsizetype append(const QString& line);
    void clear();
    const QString& text() const { return m_text; }
    qsizetype characters() const { return m_chars; }

private:
    QString m_text;
    qsizetype m_chars = 0;
};

qsizetype graphemeCount(QStringView text);

// The line cut of spaces and tabs at both ends; a line break or any other
// blank stays.
QString cutBlanks(const QString& line);

} // namespace ql
