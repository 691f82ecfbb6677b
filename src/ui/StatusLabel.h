// The single status line of the main window.
//
// A manual message (setStringValue) is shown at once (in English mode
// already translated, L10n::tr) and then holds the line for 5 s. An automatic
// message (setAuto) is shown only when no manual message holds the line and
// nothing waits, and never holds it itself; one that arrives during a hold is
// dropped, not queued. The translation pass rewrites the text silently:
// neither a new hold nor a moved one. A message set already translated
// (setTranslated), which may hold names from the library, is final: the pass
// leaves it alone until the next text is shown.
//
// Failures (setFailure) and notices (setNotice: the program's own files, a
// one-time word) must not be lost behind one another or behind a starting
// track's messages: ui/NoticeQueue decides their turns, and a manual message
// told while they keep the line waits (the newest one). The tick gives what
// waits its turn (showWaiting). Each text shown holds the line for 5 s from
// the moment it is shown.
//
// Time comes from an injectable monotonic clock (milliseconds), so a wall-clock
// jump can neither lock the line nor cut a hold short, and tests can drive it.
// Main thread only.
#pragma once

#include "ui/NoticeQueue.h"

#include <QLabel>

#include <functional>
#include <optional>

namespace ql {

class StatusLabel final : public QLabel {
public:
    using Clock = std::function<qint64()>; // monotonic milliseconds

    static constexpr qint64 kHoldMs = NoticeQueue::kHoldMs;

    explicit StatusLabel(const QString& text = {}, QWidget* parent = nullptr);

    QString stringValue() const { return text(); }
    // A manual message: shown at once (unless a failure or notice keeps the
    // line), holds the line for 5 s from then.
    void setStringValue(const QString& value);
    // An automatic message: shown only when the hold has run out.
    void setAuto(const QString& message);
    // A manual message of what changed by itself (NoticeQueue's update):
    // held like one, but it waits while a failure keeps the line.
    void setUpdate(const QString& value);
    // A manual message composed already in the interface language (fixed
    // fragments translated, names inserted as they are): held like any manual
    // message, and final, so the translation pass never rewrites it.
    void setTranslated(const QString& value);
    // A failure, composed already like setTranslated: never dropped unseen.
    void setFailure(const QString& value);
    // A notice, composed already like setTranslated: shown at the tick's
    // turn and kept for kHoldMs against every other message.
    void setNotice(const QString& value);
    // A notice of the program's files: the save of `file` failed with
    // `cause` (told once per cause), or the file was saved again (told only
    // to a user who saw its failure). `value` as for setNotice.
    void setSaveFailed(const QString& file, const QString& cause, const QString& value);
    void setSaved(const QString& file, const QString& value);
    // The tick's turn: shows what waited, once its turn has come.
    void showWaiting();
    // The failure or notice `value` is no longer true (NoticeQueue::withdraw):
    // what waits behind it may be shown at once. The text stays on the line
    // until something else is shown.
    void withdraw(const QString& value);
    // The translation pass: shows the text without touching the hold.
    void setSilently(const QString& value);
    // The shown text came from setTranslated.
    bool isFinal() const { return m_final; }

    void setClock(Clock clock) { m_clock = std::move(clock); }
    bool isHeld() const { return m_clock() < m_hold; }
    // How many manual messages were shown so far: a later message of the
    // user's can be told from one a long task showed when it began.
    quint64 manualCount() const { return m_manualCount; }

private:
    // Tells the queue; shows what it gives back.
    void tell(const QString& value, bool composed, NoticeQueue::Kind kind);
    // Shows a manual message, a failure or a notice, holding the line.
    void show(const std::optional<NoticeQueue::Entry>& entry);

    Clock m_clock;
    qint64 m_hold; // until this instant the last manual message holds the line
    bool m_final = false;
    quint64 m_manualCount = 0;
    NoticeQueue m_queue;
};

} // namespace ql
