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

void StatusLabel::show(const std::optional<NoticeQueue::Entry>& entry) {
    if (!entry)
        return;
    // Shown in the interface language at once (the pass would otherwise show
    // it in Korean until its next run); a text composed already is shown as
    // it is.
    QLabel::setText(entry->composed ? entry->text : L10n::tr(entry->text));
    m_final = entry->composed;
    ++m_manualCount;
    m_hold = m_clock() + kHoldMs;
}

void StatusLabel::tell(const QString& value, bool composed, NoticeQueue::Kind kind) {
    show(m_queue.tell(NoticeQueue::Entry{value, composed, kind, {}, false}, m_clock()));
}

void StatusLabel::setStringValue(const QString& value) {
    tell(value, false, NoticeQueue::Kind::Message);
}

void StatusLabel::setUpdate(const QString& value) {
    tell(value, false, NoticeQueue::Kind::Update);
}

void StatusLabel::setAuto(const QString& message) {
    const qint64 now = m_clock();
    if (now < m_hold || !m_queue.idle(now))
        return;
    QLabel::setText(L10n::tr(message));
    m_final = false;
}

void StatusLabel::setTranslated(const QString& value) {
    tell(value, true, NoticeQueue::Kind::Message);
}

void StatusLabel::setFailure(const QString& value) {
    tell(value, true, NoticeQueue::Kind::Failure);
}

void StatusLabel::setNotice(const QString& value) {
    tell(value, true, NoticeQueue::Kind::Notice);
}

void StatusLabel::setSaveFailed(const QString& file, const QString& cause, const QString& value) {
    m_queue.fileFailed(file, cause, value);
}

void StatusLabel::setSaved(const QString& file, const QString& value) {
    show(m_queue.fileSaved(file, value, m_clock()));
}

void StatusLabel::showWaiting() {
    show(m_queue.next(m_clock()));
}

void StatusLabel::withdraw(const QString& value) {
    show(m_queue.withdraw(value, m_clock()));
}

void StatusLabel::setSilently(const QString& value) {
    QLabel::setText(value);
    m_final = false;
}

} // namespace ql
