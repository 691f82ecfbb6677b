#include "ui/StatusLabel.h"

#include "ui/l10n/L10n.h"

#include <QElapsedTimer>

#include <limits>

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
    : QLabel(parent), m_clock(monotonicMs), m_hold(std::numeric_limits<qint64>::min()) {
    // The initial text is not a manual message: the first automatic count may
    // replace it at once.
    QLabel::setText(text);
}

void StatusLabel::setStringValue(const QString& value) {
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

void StatusLabel::setSilently(const QString& value) {
    m_silent = true;
    setStringValue(value);
    m_silent = false;
}

} // namespace ql
