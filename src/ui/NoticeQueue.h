// The turns of the status line (ui/StatusLabel): what it shows when several
// things are told close together, and what waits for what.
//
// Four kinds of text are told:
//  - a message (an action's outcome, a progress text such as "음원 여는 중…"):
//    shown at once unless a notice is on the line or failures and notices
//    wait their turn; then it waits, and a newer message or failure takes its
//    place there: only the newest outcome is worth showing late.
//  - an update (what changed by itself: the list's count after a catalog
//    came): a message that also waits while a failure keeps its turn, for
//    it is no action of the user's that would say what happens now.
//  - a failure (what the user asked for did not happen: a track that does
//    not play, the backend gone, a device that does not open): never dropped
//    unseen. Shown at once when no failure or notice is on the line or
//    waits, else it waits its turn. On the line it keeps its turn for
//    kHoldMs against notices and whatever waits, but a newer message that
//    did not have to wait replaces it (the user's next action says what
//    happens now).
//  - a notice (a one-time word of the program: a damaged file of ours set
//    aside, a save that failed or works again, no sound device): never
//    dropped. Shown only at a turn of the tick (next()), so never in the
//    middle of the action that told it nor before the window is up, and then
//    kept for kHoldMs against everything, a starting track's messages
//    included.
// Failures and notices take their turns in the order they were told; a
// message that waited comes after them. One told again while the same text
// is on the line or waits (a save retried on every change) is told once.
//
// Saves of the program's files (fileFailed, fileSaved) are told as notices,
// each failure once per file and cause until the file is saved again. A
// failure whose file is saved before its turn is dropped unseen; one the user
// saw is followed by the saved notice, at once if the failure is still on the
// line.
//
// Whatever waits is shown only at the tick's turn (next()). Time (monotonic
// milliseconds) is a parameter. The entry a call returns is to be shown now
// (for a failure or notice, its turn has begun). Not thread-safe: its owner's
// thread only.
#pragma once

#include <QSet>
#include <QString>

#include <deque>
#include <optional>

namespace ql {

class NoticeQueue {
public:
    static constexpr qint64 kHoldMs = 5000;

    enum class Kind { Message, Update, Failure, Notice };
    struct Entry {
        QString text;
        bool composed = false; // already in the interface language
        Kind kind = Kind::Message;
        QString file;       // a save's notice: the file's path
        bool saved = false; // that file was saved again (else its save failed)
    };

    // `entry` is told at `now`.
    std::optional<Entry> tell(Entry entry, qint64 now);
    // The tick's turn: what waited and may be shown at `now`.
    std::optional<Entry> next(qint64 now);
    // The failure or notice `text`, on the line or waiting, is no longer
    // true: it goes, and when it was on the line what waits may be shown now.
    std::optional<Entry> withdraw(const QString& text, qint64 now);
    // A save of `file` failed with `cause`; `text` tells it, at its turn.
    void fileFailed(const QString& file, const QString& cause, QString text);
    // `file` was saved; `text` tells it, when its failure was seen.
    std::optional<Entry> fileSaved(const QString& file, QString text, qint64 now);

    // Nothing keeps the line at `now` and nothing waits: an automatic
    // message may be shown.
    bool idle(qint64 now) const;

private:
    bool turnRunning(qint64 now) const { return m_turn && now < m_turn->until; }
    Entry begin(Entry entry, qint64 now);
    // The same text is on the line or waits already.
    bool isTold(const QString& text, qint64 now) const;

    struct Turn {
        Entry entry;
        qint64 until;
    };
    std::optional<Turn> m_turn;     // the failure or notice on the line
    std::deque<Entry> m_waiting;    // failures and notices, in order
    std::optional<Entry> m_message; // the newest message held back
    QSet<QString> m_toldCauses;     // failed saves told: path and cause
    QSet<QString> m_seenFailing;    // files whose failure was on the line
};

} // namespace ql
