#include "ui/StatusLabel.h"

#include "ui/l10n/L10n.h"

#include <QElapsedTimer>

#include <limits>
#include <utility>

namespace ql {

namespace {
qint64 monotonicMs() {
    static QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}
} // namespace

StatusLabel::StatusLabel(const QString& text, QWidget* parent)
    : QLabel(parent), m_clock(monotonicMs), m_hold(std::numeric_limits<qint64>::min()),
      m_noticeUntil(std::numeric_limits<qint64>::min()) {
    // The initial text is not a manual message: the first automatic count may
    // replace it at once.
    QLabel::setText(text);
}

void StatusLabel::setStringValue(const QString& value) {
    // A notice keeps the line: the newest message waits for its end.
    if (!m_auto && !m_silent && !m_noticing && noticeUp()) {
        m_waiting = Waiting{value, m_composed};
        return;
    }
    // Shown in the interface language at once (the pass would otherwise show
    // it in Korean until its next run); a text composed already is shown as
    // it is.
    QLabel::setText(m_silent || m_composed ? value : L10n::tr(value));
    m_final = false;
    if (m_auto || m_silent)
        return;
    ++m_manualCount;
    m_hold = m_clock() + kHoldMs;
}

void StatusLabel::setAuto(const QString& message) {
    m_auto = true;
    if (m_clock() >= m_hold)
        setStringValue(message);
    m_auto = false;
}

void StatusLabel::setTranslated(const QString& value) {
    m_composed = true;
    setStringValue(value);
    m_composed = false;
    m_final = true;
}

void StatusLabel::setNotice(const QString& value) {
    m_noticing = true;
    setTranslated(value);
    m_noticing = false;
    m_noticeUntil = m_hold;
}

void StatusLabel::showWaiting() {
    if (!m_waiting || noticeUp())
        return;
    const Waiting waiting = *std::exchange(m_waiting, std::nullopt);
    if (waiting.composed)
        setTranslated(waiting.text);
    else
        setStringValue(waiting.text);
}

void StatusLabel::setSilently(const QString& value) {
    m_silent = true;
    setStringValue(value);
    m_silent = false;
}

} // namespace ql
