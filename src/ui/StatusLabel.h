// The single status line of the main window.
//
// Two kinds of message share it. A manual message (setStringValue) is shown at
// once, always (in English mode already translated, L10n::tr), and then holds
// the line for 5 s. An automatic message
// (setAuto) is shown only when no manual message holds the line, and never
// holds it itself; one that arrives during a hold is dropped, not queued.
// The translation pass rewrites the text silently: neither a new hold nor a
// moved one. A message set already translated (setTranslated), which may hold
// names from the library, is final: the pass leaves it alone until the next
// text is shown.
//
// A notice (setNotice) tells of the program's own files (a damaged store set
// aside, a save that failed or worked again). Such a notice is rare and
// easily missed, so it is shown at once and stays for the whole hold time
// even when a track starts meanwhile: a manual message that comes while it
// is up waits (only the latest one) and is shown, with its own hold, once
// the notice's time is over (showWaiting, from the tick). A newer notice
// replaces an older one at once.
//
// Time comes from an injectable monotonic clock (milliseconds), so a wall-clock
// jump can neither lock the line nor cut a hold short, and tests can drive it.
// Main thread only.
#pragma once

#include <QLabel>

#include <functional>
#include <optional>

namespace ql {

class StatusLabel final : public QLabel {
public:
    using Clock = std::function<qint64()>; // monotonic milliseconds

    static constexpr qint64 kHoldMs = 5000;

    explicit StatusLabel(const QString& text = {}, QWidget* parent = nullptr);

    QString stringValue() const { return text(); }
    // A manual message: shown at once, holds the line for 5 s from now.
    void setStringValue(const QString& value);
    // An automatic message: shown only when the hold has run out.
    void setAuto(const QString& message);
    // A manual message composed already in the interface language (fixed
    // fragments translated, names inserted as they are): held like any manual
    // message, and final, so the translation pass never rewrites it.
    void setTranslated(const QString& value);
    // A notice, composed already like setTranslated: shown at once, final,
    // and kept for kHoldMs against every other message.
    void setNotice(const QString& value);
    // A notice is on the line and its time is not over.
    bool noticeUp() const { return m_clock() < m_noticeUntil; }
    // Once no notice is up: the manual message that waited for one, if any.
    void showWaiting();
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
    Clock m_clock;
    qint64 m_hold; // until this instant the last manual message holds the line
    bool m_auto = false;
    bool m_silent = false;
    bool m_final = false;
    bool m_composed = false; // setTranslated is showing its text
    quint64 m_manualCount = 0;
    qint64 m_noticeUntil;    // until this instant a notice keeps the line
    bool m_noticing = false; // setNotice is showing its text
    struct Waiting {
        QString text;
        bool composed = false;
    };
    std::optional<Waiting> m_waiting; // the manual message a notice held back
};

} // namespace ql
